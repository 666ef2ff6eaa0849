// The QorvexEx* exports: what the described records cannot carry.
#include <algorithm>
#include <climits>
#include <cstring>

#include "interface/handle_registry.h"
#include "platform/file.h"
#include "qorvex_ext.h"

#ifdef _WIN32
#define QORVEX_EXPORT extern "C" __declspec(dllexport)
#else
#define QORVEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace qorvex;

namespace {

int32_t FillCurrent(const TrackVolume *volume, const CatalogueEntry *entry, QorvexExEntry *details) {
    if (!entry) return ENGINE_NO_CURRENT_ENTRY;
    if (!details || details->struct_size < sizeof(QorvexExEntry)) return ENGINE_BAD_KIND;
    FillExEntry(*entry, volume->SelectedListing(), details);
    return 0;
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
    // A reader of its own: the volume's reader and cursors stay with the other exports.
    std::unique_ptr<SectorReader> reader;
    auto &idle = handle->idle_readers;
    for (auto it = idle.begin(); it != idle.end(); ++it)
        if (it->first == track) {
            reader = std::move(it->second);
            idle.erase(it);
            break;
        }
    if (!reader) {
        reader = std::make_unique<SectorReader>();
        reader->CopyFrom(volume->Reader());
    }
    handle.Unlock();
    platform::File out;
    Status result = out.Adopt(output) && at <= INT64_MAX && out.Seek(static_cast<int64_t>(at))
                        ? Status::Ok()
                        : Status(Code::kOutputOpenFailed);
    if (result.IsOk() && !reader->IsOpen() && !reader->Open()) result = Code::kImageOpenFailed;
    if (result.IsOk())
        result =
            volume->CopyFile(kind, index, (flags & QORVEX_EX_COPY_JOINED) == 0, *reader, out, Progress{progress, user});
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
