// The QorvexEx* exports: what the described records cannot carry.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "interface/handle_registry.h"
#include "platform/file.h"
#include "qorvex_ext.h"
#include "tracks/track_extract.h"
#include "verify/sector_check.h"

#ifdef _WIN32
#define QORVEX_EXPORT extern "C" __declspec(dllexport)
#else
#define QORVEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace qorvex;

namespace {

// The record as callers built before `type` and `path_offset` were added know it; still served.
constexpr uint32_t kExEntrySizeBefore = offsetof(QorvexExEntry, type);

int32_t FillCurrent(const TrackVolume *volume, const CatalogueEntry *entry, QorvexExEntry *details) {
    if (!entry) return ENGINE_NO_CURRENT_ENTRY;
    if (!details || details->struct_size < kExEntrySizeBefore) return ENGINE_BAD_KIND;
    FillExEntry(*entry, volume->SelectedListing(), details);
    if (volume->Salvaging() && volume->BeyondEnd(*entry)) details->flags |= QORVEX_EX_DAMAGED;
    return 0;
}

// A reader of the track for one call of its own, so that the volume's reader and cursors stay with the other
// exports and several reads run at once: one the handle keeps open, else a fresh copy. Taken under the lock.
// The one given back last is taken first: a run of reads keeps one reader and its read-ahead window.
std::unique_ptr<SectorReader> TakeReader(ImageHandle &handle, int32_t track, TrackVolume &volume) {
    auto &idle = handle.idle_readers;
    for (auto it = idle.rbegin(); it != idle.rend(); ++it)
        if (it->first == track) {
            std::unique_ptr<SectorReader> reader = std::move(it->second);
            idle.erase(std::next(it).base());
            return reader;
        }
    auto reader = std::make_unique<SectorReader>();
    reader->CopyFrom(volume.Reader());
    return reader;
}

// Runs `read` on a reader of the track with the handle unlocked; the reader is kept open for the next call with
// QORVEX_EX_COPY_KEEP_OPEN, else closed.
template <typename Read>
int32_t WithReader(HeldHandle &handle, int32_t track, TrackVolume &volume, uint32_t flags, const Read &read) {
    std::unique_ptr<SectorReader> reader = TakeReader(*handle, track, volume);
    handle.Unlock();
    Status result = reader->IsOpen() || reader->Open() ? read(*reader) : Status(Code::kImageOpenFailed);
    const bool keep = (flags & QORVEX_EX_COPY_KEEP_OPEN) && reader->IsOpen();
    if (!keep && reader->IsOpen() && !reader->Close() && result.IsOk()) result = Code::kImageCloseFailed;
    handle.Relock();
    if (keep) handle->idle_readers.emplace_back(track, std::move(reader));
    return result.Value();
}

}  // namespace

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetCurrentFile(QorvexHandle h, QorvexExEntry *details) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return FillCurrent(volume, volume ? volume->CurrentFile() : nullptr, details);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetCurrentModule(QorvexHandle h, QorvexExEntry *details) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return FillCurrent(volume, volume ? volume->CurrentPart() : nullptr, details);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetSkippedFolders(QorvexHandle h, int32_t track, int32_t kind) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    const FsListing *listing = volume ? volume->Catalogues().Get(kind) : nullptr;
    return listing ? listing->skipped_folders : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetTrackText(QorvexHandle h, int32_t track, int32_t field, char *text,
                                                       int32_t size) {
    HeldHandle handle{h};
    if (!handle) return -1;
    const std::string *value = nullptr;
    if (track == -1) {
        const DiscDetails &disc = handle->disc;
        if (field == QORVEX_EX_TEXT_TITLE) value = &disc.title;
        if (field == QORVEX_EX_TEXT_PERFORMER) value = &disc.performer;
        if (field == QORVEX_EX_TEXT_CATALOG) value = &disc.catalog;
        if (field == QORVEX_EX_TEXT_SHEET) value = &disc.sheet;
        if (field == QORVEX_EX_TEXT_WARNING) value = &disc.warning;
    } else if (track >= 0 && static_cast<size_t>(track) < handle->details.size()) {
        const TrackDetails &details = handle->details[static_cast<size_t>(track)];
        if (field == QORVEX_EX_TEXT_TITLE) value = &details.title;
        if (field == QORVEX_EX_TEXT_PERFORMER) value = &details.performer;
        if (field == QORVEX_EX_TEXT_ISRC) value = &details.isrc;
        if (field >= QORVEX_EX_TEXT_FILE && static_cast<size_t>(field - QORVEX_EX_TEXT_FILE) < details.files.size())
            value = &details.files[static_cast<size_t>(field - QORVEX_EX_TEXT_FILE)];
    }
    if (!value) return -1;
    if (text && size > 0) {
        const size_t n = std::min(value->size(), static_cast<size_t>(size) - 1);
        std::memcpy(text, value->data(), n);
        text[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(value->size(), INT32_MAX));
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetVolumeLabel(QorvexHandle h, int32_t track, int32_t kind, char *label,
                                                         int32_t size) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return -1;
    const FsListing *listing = nullptr;
    // Chosen as QorvexGetImageInformation chooses, by the file systems found rather than their file counts.
    for (int32_t candidate : {KIND_JOLIET, KIND_UDF, KIND_ISO9660})
        if (kind == KIND_AUTO && !listing && volume->Catalogues().Get(candidate)->found)
            listing = volume->Catalogues().Get(candidate);
    if (kind != KIND_AUTO) listing = volume->Catalogues().Get(kind);
    if (!listing || !listing->found) return -1;
    const std::string &value = listing->label;
    if (label && size > 0) {
        const size_t n = std::min(value.size(), static_cast<size_t>(size) - 1);
        std::memcpy(label, value.data(), n);
        label[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(value.size(), INT32_MAX));
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetTrackIndexes(QorvexHandle h, int32_t track, int32_t *sectors,
                                                          int32_t count) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return -1;
    std::vector<int32_t> indexes;
    if (static_cast<size_t>(track) < handle->details.size()) {
        indexes = handle->details[static_cast<size_t>(track)].indexes;
    } else {  // a plain image: index 0 and 1 of its record
        const TrackRecord &record = volume->Reader().Record();
        indexes = {record.pregap_start, record.start};
    }
    for (size_t i = 0; sectors && i < indexes.size() && i < static_cast<size_t>(std::max(count, 0)); ++i)
        sectors[i] = indexes[i];
    return static_cast<int32_t>(indexes.size());
}


QORVEX_EXPORT int32_t QORVEX_CALL QorvexExCopyFile(QorvexHandle h, int32_t track, int32_t kind, int32_t index,
                                                   intptr_t output, uint64_t at, uint32_t flags,
                                                   ProgressCallback progress, void *user) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_NO_CURRENT_ENTRY;
    if (!volume->Files(kind)) return ENGINE_BAD_KIND;
    std::unique_ptr<SectorReader> reader = TakeReader(*handle, track, *volume);
    handle.Unlock();
    platform::File out;
    Status result = out.Adopt(output) && at <= INT64_MAX && out.Seek(static_cast<int64_t>(at))
                        ? Status::Ok()
                        : Status(Code::kOutputOpenFailed);
    if (result.IsOk() && !reader->IsOpen() && !reader->Open()) result = Code::kImageOpenFailed;
    const bool single = (flags & QORVEX_EX_COPY_JOINED) == 0;
    if (result.IsOk() && (flags & QORVEX_EX_COPY_ZERO_FILL))
        result = volume->CopyFilled(kind, index, single, *reader, out, Progress{progress, user});
    else if (result.IsOk())
        result = volume->CopyFile(kind, index, single, *reader, out, Progress{progress, user});
    if (!out.Close() && result.IsOk()) result = Code::kWriteFailed;
    const bool keep = (flags & QORVEX_EX_COPY_KEEP_OPEN) && reader->IsOpen();
    if (!keep && reader->IsOpen() && !reader->Close() && result.IsOk()) result = Code::kImageCloseFailed;
    handle.Relock();
    if (keep) handle->idle_readers.emplace_back(track, std::move(reader));
    return result.Value();
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExCloseImageFiles(QorvexHandle h) {
    HeldHandle handle{h};
    if (!handle) return 0;
    bool ok = true;
    for (auto &[track, reader] : handle->idle_readers) ok = reader->Close() && ok;
    handle->idle_readers.clear();
    return ok ? 0 : ENGINE_IMAGE_CLOSE_FAILED;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetRawSectorSize(QorvexHandle h, int32_t track) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    return volume ? volume->Reader().StoredSize() : -1;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExReadRawSectors(QorvexHandle h, int32_t track, int32_t sector, int32_t count,
                                                         void *buffer, int64_t size, uint32_t flags, uint32_t *status) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume || !buffer || count < 0 || (flags && !status)) return -1;
    const TrackRecord &record = volume->Reader().Record();
    const int32_t stored = volume->Reader().StoredSize();
    if (sector < record.FirstHeld() || sector > record.EndHeld() || size / stored < count) return -1;
    count = static_cast<int32_t>(std::min<int64_t>(count, int64_t(record.EndHeld()) - sector));
    // One reader kept open for the calls that go on where the last stopped, as a whole-track scan makes them.
    auto &reader = handle->raw_reader;
    if (!reader || handle->raw_track != track) {
        if (!reader) reader = std::make_unique<SectorReader>();
        handle->raw_track = -1;
        if (!reader->SetUp(record, 0) || !reader->Open()) return -1;
        handle->raw_track = track;
        handle->raw_next = -1;
    }
    if (handle->raw_next != sector && !reader->SeekSector(sector)) {
        handle->raw_next = -1;
        return 0;
    }
    const RawLayout layout = GetRawLayout(record.format);
    auto *out = static_cast<uint8_t *>(buffer);
    int32_t done = 0;
    for (; done < count; ++done) {
        uint8_t *s = out + int64_t(done) * stored;
        if (!reader->ReadRawSector(s)) break;
        if (flags) status[done] = CheckRawSector(layout, s, sector + done, (flags & QORVEX_EX_RAW_REPAIR) != 0);
    }
    handle->raw_next = done == count ? int64_t(sector) + done : -1;
    return done;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetSectorPlace(QorvexHandle h, int32_t track, int32_t sector, char *path,
                                                         int32_t size, int64_t *offset) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    const std::string *file = nullptr;
    int64_t at = 0;
    if (!volume || !volume->Reader().Locate(sector, &file, &at)) return -1;
    if (offset) *offset = at;
    if (path && size > 0) {
        const size_t n = std::min(file->size(), static_cast<size_t>(size) - 1);
        std::memcpy(path, file->data(), n);
        path[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(file->size(), INT32_MAX));
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExReadFile(QorvexHandle h, int32_t track, int32_t kind, int32_t index,
                                                   uint64_t offset, void *buffer, uint32_t size, uint32_t flags,
                                                   uint32_t *done) {
    if (done) *done = 0;
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_NO_CURRENT_ENTRY;
    if (!volume->Files(kind)) return ENGINE_BAD_KIND;
    if ((!buffer && size > 0) || !done) return ENGINE_READ_FAILED;
    return WithReader(handle, track, *volume, flags, [&](SectorReader &reader) {
        size_t n = 0;
        const Status result = volume->ReadFile(kind, index, (flags & QORVEX_EX_COPY_JOINED) == 0, reader, offset,
                                               static_cast<uint8_t *>(buffer), size, &n);
        *done = static_cast<uint32_t>(n);
        return result;
    });
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetFilePlace(QorvexHandle h, int32_t track, int32_t kind, int32_t index,
                                                       uint64_t offset, uint32_t flags, char *path, int32_t size,
                                                       int64_t *at, uint64_t *length) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    const std::string *file = nullptr;
    int64_t place = 0;
    uint64_t run = 0;
    if (!volume || !at || !length ||
        !volume->PlainPlace(kind, index, (flags & QORVEX_EX_COPY_JOINED) == 0, offset, &file, &place, &run))
        return -1;
    *at = place;
    *length = run;
    if (path && size > 0) {
        const size_t n = std::min(file->size(), static_cast<size_t>(size) - 1);
        std::memcpy(path, file->data(), n);
        path[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(file->size(), INT32_MAX));
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExReadTrack(QorvexHandle h, int32_t track, uint64_t offset, void *buffer,
                                                    uint32_t size, uint32_t flags, uint32_t *done, uint64_t *total) {
    if (done) *done = 0;
    if (total) *total = 0;
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_BAD_TRACK;
    if ((!buffer && size > 0) || !done) return ENGINE_READ_FAILED;
    return WithReader(handle, track, *volume, flags, [&](SectorReader &reader) {
        size_t n = 0;
        uint64_t length = 0;
        const Status result = ReadTrack(reader, flags, offset, static_cast<uint8_t *>(buffer), size, &n, &length);
        *done = static_cast<uint32_t>(n);
        if (total) *total = length;
        return result;
    });
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetDamage(QorvexHandle h, int32_t track, int32_t kind, int32_t index,
                                                    uint32_t flags, QorvexExRange *ranges, int32_t count) {
    HeldHandle handle{h};
    if (!handle) return ENGINE_NO_CURRENT_ENTRY;
    if (index == -1) {
        track = handle->selected_track;
        TrackVolume *selected = handle->Selected();
        if (!selected || selected->FileCursor() < 0) return ENGINE_NO_CURRENT_ENTRY;
        kind = selected->SelectedKind();
        index = selected->FileCursor();
    }
    TrackVolume *volume = handle->Track(track);
    if (!volume) return ENGINE_BAD_TRACK;
    std::vector<DamageRange> found;
    const bool single = (flags & QORVEX_EX_COPY_JOINED) == 0;
    Status result;
    if (flags & QORVEX_EX_DAMAGE_READ) {
        std::unique_ptr<SectorReader> reader = TakeReader(*handle, track, *volume);
        result = reader->IsOpen() || reader->Open() ? volume->Damage(kind, index, single, true, *reader, found)
                                                    : Status(Code::kImageOpenFailed);
        if (reader->IsOpen() && !reader->Close() && result.IsOk()) result = Code::kImageCloseFailed;
    } else {  // nothing is read: the volume's own reader only tells the layout
        result = volume->Damage(kind, index, single, false, volume->Reader(), found);
    }
    if (result.Failed()) return result.Value();
    for (size_t i = 0; ranges && i < found.size() && i < static_cast<size_t>(std::max(count, 0)); ++i)
        ranges[i] = {found[i].offset, found[i].length};
    return static_cast<int32_t>(std::min<size_t>(found.size(), INT32_MAX));
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetSalvage(QorvexHandle h, int32_t track, QorvexExSalvage *salvage) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_BAD_TRACK;
    if (!salvage || salvage->struct_size < sizeof(QorvexExSalvage)) return ENGINE_BAD_KIND;
    const SalvageNotes &notes = volume->Catalogues().salvage;
    const TrackRecord &record = volume->Reader().Record();
    *salvage = QorvexExSalvage{};
    salvage->struct_size = sizeof(QorvexExSalvage);
    salvage->held_end = record.EndHeld();
    salvage->recorded_end = notes.recorded_end;
    salvage->failed = notes.failed;
    // The incomplete sector lies at the end of the last track.
    if (static_cast<size_t>(track) + 1 == handle->volumes.size()) salvage->part_bytes = handle->disc.part_bytes;
    if (salvage->recorded_end > salvage->held_end) salvage->flags |= QORVEX_EX_SALVAGE_CUT;
    if (salvage->part_bytes > 0) salvage->flags |= QORVEX_EX_SALVAGE_PART;
    std::string text = notes.text;
    if (static_cast<size_t>(track) + 1 == handle->volumes.size() && handle->disc.tracks_cut > 0) {
        text += std::to_string(handle->disc.tracks_cut) + " track(s) of the sheet begin past the end of its files\n";
        salvage->flags |= QORVEX_EX_SALVAGE_CUT;
    }
    if (static_cast<size_t>(track) + 1 == handle->volumes.size() && handle->disc.short_bytes > 0) {
        text += "the image files lack " + std::to_string(handle->disc.short_bytes) + " byte(s) the sheet records\n";
        salvage->flags |= QORVEX_EX_SALVAGE_CUT;
    }
    if (salvage->flags != 0 || notes.failed > 0) salvage->flags |= QORVEX_EX_SALVAGED;
    const size_t n = std::min(text.size(), sizeof(salvage->notes) - 1);
    std::memcpy(salvage->notes, text.data(), n);
    salvage->notes[n] = '\0';
    return 0;
}
