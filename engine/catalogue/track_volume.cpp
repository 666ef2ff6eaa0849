#include "catalogue/track_volume.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "catalogue/volume_scanner.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tracks/track_extract.h"

namespace qorvex {

void FillEntryInfo(const CatalogueEntry &entry, EntryInfo *record) {
    record->kind = entry.kind;
    record->size_low = static_cast<uint32_t>(entry.size);
    record->size_high = static_cast<uint32_t>(entry.size >> 32);
    record->start = static_cast<int32_t>(entry.extent);
    record->sectors = static_cast<int32_t>(entry.sectors);
    record->offset = static_cast<int32_t>(entry.offset_bytes);
    record->extent_count = entry.extent_count;
    record->extent_index = entry.extent_index;
    record->attributes = entry.attributes;
    record->time = entry.date;

    size_t n = std::min<size_t>(entry.name.size(), sizeof record->name - 1);
    if (n < entry.name.size() && platform::CodePage() == "UTF-8") {
        while (n > 0 && (static_cast<unsigned char>(entry.name[n]) & 0xC0) == 0x80) --n;  // whole characters only
    } else if (n < entry.name.size() && n > 0) {
        // A double-byte code page: do not keep a lone lead byte at the cut.
        auto broken_end = [&](size_t m) {
            const std::u16string w = platform::MultiByteToUtf16(std::string_view(entry.name.data(), m));
            return !w.empty() && w.back() == u'\uFFFD';
        };
        if (broken_end(n) && !broken_end(n - 1)) --n;
    }
    std::memcpy(record->name, entry.name.data(), n);
    record->name[n] = '\0';

    const std::u16string wide = platform::MultiByteToUtf16(std::string_view(entry.name.data(), n));
    size_t w = std::min<size_t>(wide.size(), 1023);
    if (w < wide.size() && w > 0 && wide[w - 1] >= 0xD800 && wide[w - 1] <= 0xDBFF) --w;
    std::memcpy(record->wname, wide.data(), w * sizeof(char16_t));
    record->wname[w] = u'\0';
}

int32_t TrackVolume::Scan(const TrackRecord &record, uint32_t options) {
    return ScanTrack(record, options, set_, reader_);
}

const Catalogue *TrackVolume::Files(int32_t kind) const {
    switch (kind) {
        case 1: return &set_.iso_files;
        case 2: return &set_.joliet_files;
        case 4: return &set_.udf_files;
        default: return nullptr;
    }
}

const Catalogue *TrackVolume::Parts(int32_t kind) const {
    switch (kind) {
        case 1: return &set_.iso_parts;
        case 2: return &set_.joliet_parts;
        case 4: return &set_.udf_parts;
        default: return nullptr;
    }
}

const std::string *TrackVolume::Label(int32_t kind) const {
    switch (kind) {
        case 1: return &set_.iso_label;
        case 2: return &set_.joliet_label;
        case 4: return &set_.udf_label;
        default: return nullptr;
    }
}

int32_t TrackVolume::FileCount(int32_t kind) const {
    const Catalogue *list = Files(kind);
    return list ? static_cast<int32_t>(list->size()) : 0;
}

namespace {
int32_t StartWalk(const Catalogue *list, int32_t &cursor) {
    if (!list) {
        cursor = -1;
        return 0;
    }
    cursor = list->empty() ? 0 : -1;
    return static_cast<int32_t>(list->size());
}

int32_t Advance(const Catalogue *list, int32_t &cursor, EntryInfo *record) {
    if (!list) {
        cursor = -1;
        return 0;
    }
    if (cursor < -1) return 0;
    if (cursor < INT32_MAX) ++cursor;
    const int32_t count = static_cast<int32_t>(list->size());
    if (cursor >= count) return 0;
    if (record) FillEntryInfo((*list)[static_cast<size_t>(cursor)], record);
    return count - cursor - 1;
}
}  // namespace

int32_t TrackVolume::FileStart(int32_t kind) {
    selected_kind_ = kind;
    return StartWalk(Files(kind), file_cursor_);
}

int32_t TrackVolume::NextFile(EntryInfo *record) {
    return Advance(Files(selected_kind_), file_cursor_, record);
}

int32_t TrackVolume::PartStart(int32_t kind) {
    selected_kind_ = kind;
    return StartWalk(Parts(kind), part_cursor_);
}

int32_t TrackVolume::NextPart(EntryInfo *record) {
    return Advance(Parts(selected_kind_), part_cursor_, record);
}

int32_t TrackVolume::ExtractCurrentFile(const char *path, bool single) {
    if (file_cursor_ < 0) return ENGINE_NO_CURRENT_ENTRY;
    const Catalogue *list = Files(selected_kind_);
    if (!list) return ENGINE_BAD_KIND;
    if (static_cast<size_t>(file_cursor_) >= list->size()) return ENGINE_NO_CURRENT_ENTRY;
    const CatalogueEntry &entry = (*list)[static_cast<size_t>(file_cursor_)];
    return single ? ExtractSingle(entry, path) : ExtractJoined(entry, path);
}

int32_t TrackVolume::ExtractCurrentPart(const char *path) {
    if (part_cursor_ < 0) return ENGINE_NO_CURRENT_ENTRY;
    const Catalogue *list = Parts(selected_kind_);
    if (!list) return ENGINE_BAD_KIND;
    if (static_cast<size_t>(part_cursor_) >= list->size()) return ENGINE_NO_CURRENT_ENTRY;
    return ExtractSingle((*list)[static_cast<size_t>(part_cursor_)], path);
}

int32_t TrackVolume::CopyEntry(const CatalogueEntry &entry, platform::File *out) {
    const int64_t u = reader_.UserSize();
    if (u <= 0) return ENGINE_READ_FAILED;
    uint64_t remaining = entry.size;
    int64_t o = entry.offset_bytes;
    int64_t k = 0;
    if (o > u) {
        k = (o - 1) / u;
        o -= k * u;
    }
    const int64_t first = int64_t(entry.extent) + k;
    if (first > INT32_MAX || !reader_.SeekSector(static_cast<int32_t>(first))) return ENGINE_SEEK_FAILED;
    std::vector<uint8_t> sector(static_cast<size_t>(u));
    auto read_failure = [&]() { return reader_.EdcError() ? ENGINE_EDC_MISMATCH : ENGINE_READ_FAILED; };
    if (reader_.ReadSectors(sector.data(), 1) == 0) return read_failure();

    const uint64_t first_chunk = std::min<uint64_t>(static_cast<uint64_t>(u - o), remaining);
    if (out && !out->Write(sector.data() + o, static_cast<size_t>(first_chunk))) return ENGINE_WRITE_FAILED;
    const bool stop_remembered = !progress_.Deliver(sector.data() + o, static_cast<int32_t>(first_chunk));
    remaining -= first_chunk;

    // The sectors after the first: full ones while at least a sector's worth remains, then one for the rest
    // (possibly empty). Without a callback they are read in runs of 1 MiB and written in one piece; with one,
    // sector by sector, so that a stop reads nothing past the sector it ends on.
    int64_t left = std::min<int64_t>(int64_t(entry.sectors) - k - 1,
                                     std::max<int64_t>(1, static_cast<int64_t>(remaining / u + (remaining % u != 0))));
    const int64_t run_length = progress_.Active() ? 1 : std::max<int64_t>(1, (1 << 20) / u);
    if (left > 0 && static_cast<int64_t>(sector.size()) < std::min(left, run_length) * u)
        sector.resize(static_cast<size_t>(std::min(left, run_length) * u));
    while (left > 0) {
        const int32_t run = static_cast<int32_t>(std::min(left, run_length));
        if (out && !progress_.Active() && reader_.CanCopyDirectly()) {
            // The data lies in the image as it is: copy it without reading it through memory.
            const uint64_t bytes = std::min<uint64_t>(remaining, static_cast<uint64_t>(run) * static_cast<uint64_t>(u));
            const int32_t copied = reader_.CopySectorRun(*out, run, static_cast<int64_t>(bytes));
            if (copied < 0) return ENGINE_WRITE_FAILED;
            if (copied < run) return read_failure();
            remaining -= bytes;
            left -= run;
            continue;
        }
        const int32_t good = reader_.ReadSectorRun(sector.data(), run);
        if (!progress_.Active()) {
            const uint64_t bytes =
                std::min<uint64_t>(remaining, static_cast<uint64_t>(good) * static_cast<uint64_t>(u));
            if (out && !out->Write(sector.data(), static_cast<size_t>(bytes))) return ENGINE_WRITE_FAILED;
            remaining -= bytes;
        }
        for (int32_t i = 0; i < good && progress_.Active(); ++i) {
            const uint64_t chunk = std::min<uint64_t>(static_cast<uint64_t>(u), remaining);
            const uint8_t *block = sector.data() + static_cast<size_t>(i) * static_cast<size_t>(u);
            if (out && !out->Write(block, static_cast<size_t>(chunk))) return ENGINE_WRITE_FAILED;
            if (!progress_.Deliver(block, static_cast<int32_t>(chunk))) return ENGINE_ABORTED;
            remaining -= chunk;
        }
        if (good < run) return read_failure();
        left -= run;
    }
    if (out && !out->Flush()) return ENGINE_WRITE_FAILED;
    return stop_remembered ? ENGINE_ABORTED : 0;
}

namespace {
// Dates, attributes and close of an output file; returns 0 or the close failure.
int32_t FinishOutput(platform::File &out, const char *path, const CatalogueEntry &entry) {
    if (entry.date != 0) out.SetModificationTime(entry.date);
    if (!out.Close()) return ENGINE_OUTPUT_CLOSE_FAILED;
    if (!(entry.attributes & kAttributeDirectory)) platform::SetFileAttributes(path, entry.attributes);
    return 0;
}
}  // namespace

int32_t TrackVolume::ExtractSingle(const CatalogueEntry &entry, const char *path) {
    if (!reader_.IsOpen() && !reader_.Open()) return ENGINE_IMAGE_OPEN_FAILED;
    platform::File out;
    if (path) {
        MakeOutputFolders(path);
        if (!out.Create(path)) {
            reader_.Close();  // between calls no image file stays open
            return ENGINE_OUTPUT_OPEN_FAILED;
        }
        if (!out.SetLength(static_cast<int64_t>(std::min<uint64_t>(entry.size, INT64_MAX))) || !out.Seek(0)) {
            out.Close();
            reader_.Close();
            return ENGINE_WRITE_FAILED;
        }
    }
    int32_t result = CopyEntry(entry, path ? &out : nullptr);
    if (path && FinishOutput(out, path, entry) != 0) {
        reader_.Close();
        return ENGINE_OUTPUT_CLOSE_FAILED;
    }
    if (!reader_.Close()) return ENGINE_IMAGE_CLOSE_FAILED;
    return result;
}

int32_t TrackVolume::ExtractJoined(const CatalogueEntry &entry, const char *path) {
    if (!reader_.IsOpen() && !reader_.Open()) return ENGINE_IMAGE_OPEN_FAILED;
    // The entry always fills its own slot; the other extents come from the UDF file list by name.
    const size_t count = std::max<size_t>(entry.extent_count, 1);
    std::vector<const CatalogueEntry *> slots(count, nullptr);
    if (entry.extent_index < count) slots[entry.extent_index] = &entry;
    for (const CatalogueEntry &other : set_.udf_files)
        if (other.extent_index < count && !slots[other.extent_index] && other.name == entry.name)
            slots[other.extent_index] = &other;
    if (count == 1 && !slots[0]) slots[0] = &entry;
    uint64_t total = 0;
    for (const CatalogueEntry *slot : slots) {
        // A file whose extents are not all listed is not joined: the result would silently lack data.
        if (!slot) {
            reader_.Close();
            return ENGINE_NO_CURRENT_ENTRY;
        }
        total += slot->size;
    }
    platform::File out;
    if (path) {
        MakeOutputFolders(path);
        if (!out.Create(path)) {
            reader_.Close();  // between calls no image file stays open
            return ENGINE_OUTPUT_OPEN_FAILED;
        }
        if (!out.SetLength(static_cast<int64_t>(std::min<uint64_t>(total, INT64_MAX))) || !out.Seek(0)) {
            out.Close();
            reader_.Close();
            return ENGINE_WRITE_FAILED;
        }
    }
    int32_t result = 0;
    for (const CatalogueEntry *slot : slots) {
        result = CopyEntry(*slot, path ? &out : nullptr);
        if (result != 0) break;
    }
    if (path && FinishOutput(out, path, entry) != 0) {
        reader_.Close();
        return ENGINE_OUTPUT_CLOSE_FAILED;
    }
    if (!reader_.Close()) return ENGINE_IMAGE_CLOSE_FAILED;
    return result;
}

}  // namespace qorvex
