#include "catalogue/track_volume.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include "iso9660/iso_structures.h"
#include "platform/file.h"
#include "platform/text.h"
#include "rockridge/zisofs.h"
#include "tracks/output_file.h"

namespace qorvex {

namespace {

constexpr size_t kNameCapacity = sizeof(EntryInfo::name) - 1;
constexpr size_t kWideCapacity = sizeof(EntryInfo::wname) / sizeof(char16_t) - 1;

// How many bytes of a name fit the record, cut at a character boundary of the code page.
size_t FittingNameBytes(std::string_view name) {
    size_t n = std::min(name.size(), kNameCapacity);
    if (n == name.size() || n == 0) return n;
    if (platform::CodePage() == "UTF-8") {
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;  // whole characters only
        return n;
    }
    // A double-byte code page: do not keep a lone lead byte at the cut.
    auto broken_end = [&](size_t m) {
        const std::u16string w = platform::MultiByteToUtf16(name.substr(0, m));
        return !w.empty() && w.back() == u'\uFFFD';
    };
    if (broken_end(n) && !broken_end(n - 1)) --n;
    return n;
}

// UTF-16 units that fit the record, never ending inside a surrogate pair.
size_t FittingUnits(const std::u16string &wide) {
    size_t w = std::min(wide.size(), kWideCapacity);
    if (w < wide.size() && w > 0 && wide[w - 1] >= 0xD800 && wide[w - 1] <= 0xDBFF) --w;
    return w;
}

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

const CatalogueEntry *At(const Catalogue *list, int32_t cursor) {
    if (!list || cursor < 0 || static_cast<size_t>(cursor) >= list->size()) return nullptr;
    return &(*list)[static_cast<size_t>(cursor)];
}

// zisofs data is stored compressed: the file is what it decodes to.
bool IsZisofs(const FsListing *listing, const CatalogueEntry &entry) {
    const PosixDetails *posix = listing ? listing->DetailsOf(entry) : nullptr;
    return posix && (posix->flags & QORVEX_EX_ZISOFS);
}

}  // namespace

void FillEntryInfo(const CatalogueEntry &entry, EntryInfo *record) {
    record->kind = KindValue(entry.kind);
    record->size_low = static_cast<uint32_t>(entry.size);
    record->size_high = static_cast<uint32_t>(entry.size >> 32);
    record->start = static_cast<int32_t>(entry.extent);
    record->sectors = static_cast<int32_t>(entry.sectors);
    record->offset = static_cast<int32_t>(entry.offset_bytes);
    record->extent_count = entry.extent_count;
    record->extent_index = entry.extent_index;
    record->attributes = entry.attributes;
    record->time = entry.kind == EntryKind::kUdfIcb ? 0 : Time32(entry.date);

    // A prefixed name is put together here; only its first kNameCapacity + 1 bytes decide where it is cut.
    std::array<char, kNameCapacity + 1> joined;
    std::string_view name = entry.name;
    if (entry.prefix != NamePrefix::kNone) {
        const std::string_view prefix = PrefixText(entry.prefix);
        const size_t p = std::min(prefix.size(), joined.size());
        const size_t t = std::min(entry.name.size(), joined.size() - p);
        std::copy_n(prefix.data(), p, joined.data());
        if (t > 0) std::copy_n(entry.name.data(), t, joined.data() + p);
        name = std::string_view(joined.data(), p + t);
    }
    const size_t n = FittingNameBytes(name);
    if (n > 0) std::memcpy(record->name, name.data(), n);
    record->name[n] = '\0';
    // Never more units than bytes: one more than the record holds tells that it was cut.
    // (The record is packed: its units are written through memcpy.)
    std::array<char16_t, kWideCapacity + 2> wide;
    size_t w = platform::MultiByteToUtf16(name.substr(0, n), wide.data(), kWideCapacity + 1);
    if (w > kWideCapacity) {
        w = kWideCapacity;
        if (wide[w - 1] >= 0xD800 && wide[w - 1] <= 0xDBFF) --w;
    }
    wide[w] = u'\0';
    std::memcpy(record->wname, wide.data(), (w + 1) * sizeof(char16_t));
}

namespace {

// What a listed entry stands for on a file system, from its kind (and for a UDF file entry, its path: a
// folder's ends in "\\").
uint32_t EntryType(const CatalogueEntry &entry) {
    switch (entry.kind) {
        case EntryKind::kIsoFile:
        case EntryKind::kJolietFile:
        case EntryKind::kRockRidgeFile:
        case EntryKind::kUdfFileExtent: return QORVEX_EX_TYPE_FILE;
        case EntryKind::kIsoFolder:
        case EntryKind::kJolietFolder:
        case EntryKind::kRockRidgeFolder:
        case EntryKind::kUdfFolderExtent: return QORVEX_EX_TYPE_FOLDER;
        case EntryKind::kRockRidgeSymlink: return QORVEX_EX_TYPE_SYMLINK;
        case EntryKind::kRockRidgeSpecial: return QORVEX_EX_TYPE_SPECIAL;
        case EntryKind::kUdfIcb:
            if (entry.prefix != NamePrefix::kUdfEntry) return QORVEX_EX_TYPE_NONE;
            return !entry.name.empty() && entry.name.back() == '\\' ? QORVEX_EX_TYPE_FOLDER : QORVEX_EX_TYPE_FILE;
        default: return QORVEX_EX_TYPE_NONE;
    }
}

int64_t OrZero(int64_t instant) {
    return instant == kNoDate ? 0 : instant;
}

}  // namespace

void FillExEntry(const CatalogueEntry &entry, const FsListing *listing, QorvexExEntry *details) {
    const uint32_t size = details->struct_size;
    std::memset(details, 0, std::min<size_t>(size, sizeof *details));
    details->struct_size = size;
    // Callers built before the type and the path's place were added leave them out.
    const bool typed = size >= sizeof *details;
    if (typed) {
        details->type = EntryType(entry);
        details->path_offset = static_cast<uint32_t>(PrefixText(entry.prefix).size());
    }
    const std::string name = entry.FullName();
    const size_t n = FittingNameBytes(name);
    const std::u16string wide = platform::MultiByteToUtf16(std::string_view(name).substr(0, n));
    if (n < name.size() || FittingUnits(wide) < wide.size()) details->flags |= QORVEX_EX_NAME_CUT;
    const bool iso_record = entry.kind == EntryKind::kIsoFile || entry.kind == EntryKind::kIsoFolder ||
                            entry.kind == EntryKind::kJolietFile || entry.kind == EntryKind::kJolietFolder;
    if (iso_record) {
        details->iso_file_flags = static_cast<uint32_t>(entry.file_flags);
        if (entry.file_flags & iso9660::kFlagMultiExtent) details->flags |= QORVEX_EX_MULTI_EXTENT;
    }
    details->modified = OrZero(entry.date);
    if (entry.date != kNoDate) details->flags |= QORVEX_EX_HAS_DATE;
    details->name_length = static_cast<uint32_t>(std::min<size_t>(name.size(), UINT32_MAX));
    if (const PosixDetails *posix = listing ? listing->DetailsOf(entry) : nullptr) {
        details->iso_file_flags = static_cast<uint32_t>(entry.file_flags);
        if (entry.file_flags & iso9660::kFlagMultiExtent) details->flags |= QORVEX_EX_MULTI_EXTENT;
        details->flags |= posix->flags;
        details->mode = posix->mode;
        details->links = posix->links;
        details->uid = posix->uid;
        details->gid = posix->gid;
        details->serial = posix->serial;
        details->device = posix->device;
        details->modified = OrZero(posix->modified);
        details->accessed = OrZero(posix->accessed);
        details->changed = OrZero(posix->changed);
        details->created = OrZero(posix->created);
        details->flags = (details->flags & ~QORVEX_EX_HAS_DATE) | (posix->modified != kNoDate ? QORVEX_EX_HAS_DATE : 0);
        // A target that does not fit is not handed over cut: a shorter target names another file.
        const std::string_view target = posix->link_target;
        if (target.size() < sizeof details->link_target) {
            if (!target.empty()) std::memcpy(details->link_target, target.data(), target.size());
            details->link_target[target.size()] = '\0';
        } else {
            details->flags &= ~QORVEX_EX_SYMLINK;
        }
    }
}

Status TrackVolume::Scan(const TrackRecord &record, const Limits &limits, bool keep_bare) {
    salvage_ = limits.Has(OPEN_SALVAGE);
    return ScanTrack(record, limits, catalogues_, reader_, keep_bare);
}

const Catalogue *TrackVolume::Files(int32_t kind) const {
    const FsListing *listing = catalogues_.Get(kind);
    return listing ? &listing->files : nullptr;
}

const Catalogue *TrackVolume::Parts(int32_t kind) const {
    const FsListing *listing = catalogues_.Get(kind);
    return listing ? &listing->parts : nullptr;
}

const std::string *TrackVolume::Label(int32_t kind) const {
    const FsListing *listing = catalogues_.Get(kind);
    return listing ? &listing->label : nullptr;
}

int32_t TrackVolume::FileCount(int32_t kind) const {
    const Catalogue *list = Files(kind);
    return list ? static_cast<int32_t>(list->size()) : 0;
}

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

const CatalogueEntry *TrackVolume::CurrentFile() const {
    return At(Files(selected_kind_), file_cursor_);
}

const CatalogueEntry *TrackVolume::CurrentPart() const {
    return At(Parts(selected_kind_), part_cursor_);
}

Status TrackVolume::ExtractCurrentFile(const char *path, bool single) {
    if (file_cursor_ < 0) return Code::kNoCurrentEntry;
    const Catalogue *list = Files(selected_kind_);
    if (!list) return Code::kBadKind;
    const CatalogueEntry *entry = At(list, file_cursor_);
    if (!entry) return Code::kNoCurrentEntry;
    if (IsZisofs(SelectedListing(), *entry)) return ExtractZisofs(*entry, path);
    return single ? ExtractSingle(*entry, path) : ExtractJoined(*entry, path);
}

Status TrackVolume::ExtractCurrentPart(const char *path) {
    if (part_cursor_ < 0) return Code::kNoCurrentEntry;
    const Catalogue *list = Parts(selected_kind_);
    if (!list) return Code::kBadKind;
    const CatalogueEntry *entry = At(list, part_cursor_);
    if (!entry) return Code::kNoCurrentEntry;
    return ExtractSingle(*entry, path);
}

namespace {

// Copies entries' data through one reader. The described callback (`data`) is handed every sector's bytes and may
// stop the copy; without it runs of sectors are copied whole, and `counter` hears how many bytes after each run.
class EntryCopy {
public:
    EntryCopy(SectorReader &reader, const Progress &data, const Progress &counter)
        : reader_(reader), data_(data), counter_(counter) {}
    Status Copy(const CatalogueEntry &entry, platform::File *out);
    Status CopyZisofs(const CatalogueEntry &entry, platform::File *file);

private:
    Status CopyRest(platform::File *out, int64_t left, uint64_t &remaining);
    bool Counted(uint64_t bytes) const { return counter_.Count(bytes); }

    SectorReader &reader_;
    Progress data_;
    Progress counter_;
};

// The copy loop: the first chunk from the entry's offset in its first sector (a stop asked for there is
// remembered, not obeyed), then the following sectors. An entry that starts on a sector boundary and goes
// to a plain image without a callback is copied in runs from its first sector on.
Status EntryCopy::Copy(const CatalogueEntry &entry, platform::File *out) {
    const int64_t u = reader_.UserSize();
    if (u <= 0) return Code::kReadFailed;
    uint64_t remaining = entry.size;
    // The offset is taken into the sector it falls in (0 < o <= u unless it is 0).
    int64_t o = entry.offset_bytes;
    int64_t k = 0;
    if (o > u) {
        k = (o - 1) / u;
        o -= k * u;
    }
    const int64_t first = int64_t(entry.extent) + k;
    if (first > INT32_MAX || !reader_.SeekSector(static_cast<int32_t>(first))) return Code::kSeekFailed;
    const uint64_t first_chunk = std::min<uint64_t>(static_cast<uint64_t>(u - o), remaining);
    remaining -= first_chunk;
    // Full sectors while at least a sector's worth remains, then one for the rest (possibly empty).
    const int64_t left =
        std::min<int64_t>(int64_t(entry.sectors) - k - 1,
                          std::max<int64_t>(1, static_cast<int64_t>(remaining / u + (remaining % u != 0))));
    if (o == 0 && out && !data_.Active() && reader_.CanCopyDirectly()) {
        remaining += first_chunk;
        QORVEX_TRY(CopyRest(out, 1 + std::max<int64_t>(left, 0), remaining));
        return out->Flush() ? Status::Ok() : Status(Code::kWriteFailed);
    }

    std::vector<uint8_t> sector(static_cast<size_t>(u));
    if (reader_.ReadSectors(sector.data(), 1) == 0) return reader_.ReadFailure();
    if (out && !out->Write(sector.data() + o, static_cast<size_t>(first_chunk))) return Code::kWriteFailed;
    const bool stop_remembered = !data_.Deliver(sector.data() + o, static_cast<int32_t>(first_chunk));
    if (!Counted(first_chunk)) return Code::kAborted;
    QORVEX_TRY(CopyRest(out, left, remaining));
    if (out && !out->Flush()) return Code::kWriteFailed;
    return stop_remembered ? Code::kAborted : Status::Ok();
}

// The sectors after the first. Without a callback they are read in runs of 1 MiB and written in one piece (or
// copied inside the kernel, in runs of 8 MiB, when the image holds them as they are); with one, sector by sector,
// so that a stop reads nothing past the sector it ends on.
Status EntryCopy::CopyRest(platform::File *out, int64_t left, uint64_t &remaining) {
    const int64_t u = reader_.UserSize();
    const bool direct = out && !data_.Active() && reader_.CanCopyDirectly();
    const int64_t run_length = data_.Active() ? 1 : std::max<int64_t>(1, (int64_t(direct ? 8 : 1) << 20) / u);
    std::vector<uint8_t> buffer(left > 0 && !direct ? static_cast<size_t>(std::min(left, run_length) * u) : 0);
    while (left > 0) {
        const int32_t run = static_cast<int32_t>(std::min(left, run_length));
        if (direct) {
            const uint64_t bytes = std::min<uint64_t>(remaining, static_cast<uint64_t>(run) * static_cast<uint64_t>(u));
            const int32_t copied = reader_.CopySectorRun(*out, run, static_cast<int64_t>(bytes));
            if (copied < 0) return Code::kWriteFailed;
            if (copied < run) return reader_.ReadFailure();
            remaining -= bytes;
            left -= run;
            if (!Counted(bytes)) return Code::kAborted;
            continue;
        }
        const int32_t good = reader_.ReadSectorRun(buffer.data(), run);
        if (!data_.Active()) {
            const uint64_t bytes =
                std::min<uint64_t>(remaining, static_cast<uint64_t>(good) * static_cast<uint64_t>(u));
            if (out && !out->Write(buffer.data(), static_cast<size_t>(bytes))) return Code::kWriteFailed;
            remaining -= bytes;
            if (!Counted(bytes)) return Code::kAborted;
        }
        for (int32_t i = 0; i < good && data_.Active(); ++i) {
            const uint64_t chunk = std::min<uint64_t>(static_cast<uint64_t>(u), remaining);
            const uint8_t *block = buffer.data() + static_cast<size_t>(i) * static_cast<size_t>(u);
            if (out && !out->Write(block, static_cast<size_t>(chunk))) return Code::kWriteFailed;
            if (!data_.Deliver(block, static_cast<int32_t>(chunk))) return Code::kAborted;
            remaining -= chunk;
        }
        if (good < run) return reader_.ReadFailure();
        left -= run;
    }
    return Status::Ok();
}

// A zisofs file: the stored sectors read by byte range (one sector held), the decoded bytes written and handed
// to the callback a sector's worth at a time, as any other file's.
Status EntryCopy::CopyZisofs(const CatalogueEntry &entry, platform::File *file) {
    const int64_t u = reader_.UserSize();
    if (u <= 0) return Code::kReadFailed;
    std::vector<uint8_t> sector(static_cast<size_t>(u));
    int64_t held = -1;
    Status read_failure = Code::kReadFailed;
    auto read = [&](uint64_t offset, uint8_t *out, size_t n) {
        while (n > 0) {
            const int64_t k = static_cast<int64_t>(offset / static_cast<uint64_t>(u));
            if (k != held) {
                const int64_t s = int64_t(entry.extent) + k;
                held = -1;
                if (s > INT32_MAX || !reader_.SeekSector(static_cast<int32_t>(s))) return false;
                if (reader_.ReadSectors(sector.data(), 1) == 0) {
                    read_failure = reader_.ReadFailure();
                    return false;
                }
                held = k;
            }
            const size_t at = static_cast<size_t>(offset % static_cast<uint64_t>(u));
            const size_t take = std::min(n, sector.size() - at);
            std::memcpy(out, sector.data() + at, take);
            out += take, offset += take, n -= take;
        }
        return true;
    };
    auto sink = [&](const uint8_t *data, size_t n) -> Status {
        if (file && !file->Write(data, n)) return Code::kWriteFailed;
        for (size_t at = 0; at < n; at += static_cast<size_t>(u)) {
            const size_t chunk = std::min(n - at, static_cast<size_t>(u));
            if (!data_.Deliver(data + at, static_cast<int32_t>(chunk))) return Code::kAborted;
        }
        return Counted(n) ? Status::Ok() : Status(Code::kAborted);
    };
    const uint64_t stored = uint64_t(entry.sectors) * static_cast<uint64_t>(u);
    Status decoded = rockridge::DecodeZisofs(stored, entry.size, read, sink);
    if (decoded == Status(Code::kReadFailed) && held < 0) decoded = read_failure;
    if (decoded.IsOk() && file && !file->Flush()) decoded = Code::kWriteFailed;
    return decoded;
}

}  // namespace

// The slots of the UDF file an entry belongs to, in extent order; empty when an extent is not listed (the
// result would silently lack data).
std::vector<const CatalogueEntry *> TrackVolume::JoinedSlots(const CatalogueEntry &entry) const {
    // The entry always fills its own slot; the other extents come from the UDF file list by name.
    const size_t count = std::max<size_t>(entry.extent_count, 1);
    std::vector<const CatalogueEntry *> slots(count, nullptr);
    if (entry.extent_index < count) slots[entry.extent_index] = &entry;
    for (const CatalogueEntry &other : catalogues_.udf.files)
        if (other.extent_index < count && !slots[other.extent_index] && other.name == entry.name)
            slots[other.extent_index] = &other;
    if (count == 1 && !slots[0]) slots[0] = &entry;
    for (const CatalogueEntry *slot : slots)
        if (!slot) return {};
    return slots;
}

// Writes the slots' data one after the other into one output file dated and attributed as `entry`; the
// copy stops at the first slot that fails. A close failure of the output or the image replaces the result.
Status TrackVolume::WriteSlots(const std::vector<const CatalogueEntry *> &slots, const CatalogueEntry &entry,
                               const char *path, ImageFilesOpen &image) {
    uint64_t total = 0;
    for (const CatalogueEntry *slot : slots) total += slot->size;
    OutputFile output;
    QORVEX_TRY(output.Create(path));
    QORVEX_TRY(output.Presize(total));
    Status copied;
    EntryCopy copy(reader_, progress_, Progress{});
    for (const CatalogueEntry *slot : slots) {
        copied = copy.Copy(*slot, output.File());
        if (copied.Failed()) break;
    }
    QORVEX_TRY(output.Finish(Time32(entry.date), entry.attributes));
    QORVEX_TRY(image.Close());
    return copied;
}

Status TrackVolume::ExtractSingle(const CatalogueEntry &entry, const char *path) {
    ImageFilesOpen image(reader_);
    QORVEX_TRY(image.Open());
    return WriteSlots({&entry}, entry, path, image);
}

Status TrackVolume::ExtractJoined(const CatalogueEntry &entry, const char *path) {
    ImageFilesOpen image(reader_);
    QORVEX_TRY(image.Open());
    const std::vector<const CatalogueEntry *> slots = JoinedSlots(entry);
    if (slots.empty()) return Code::kNoCurrentEntry;
    return WriteSlots(slots, entry, path, image);
}

Status TrackVolume::ExtractZisofs(const CatalogueEntry &entry, const char *path) {
    ImageFilesOpen image(reader_);
    QORVEX_TRY(image.Open());
    OutputFile output;
    QORVEX_TRY(output.Create(path));
    QORVEX_TRY(output.Presize(entry.size));
    const Status decoded = EntryCopy(reader_, progress_, Progress{}).CopyZisofs(entry, output.File());
    QORVEX_TRY(output.Finish(Time32(entry.date), entry.attributes));
    QORVEX_TRY(image.Close());
    return decoded;
}

Status TrackVolume::CopyFile(int32_t kind, int32_t index, bool single, SectorReader &reader, platform::File &out,
                             const Progress &counter) const {
    const Catalogue *list = Files(kind);
    if (!list) return Code::kBadKind;
    const CatalogueEntry *entry = At(list, index);
    if (!entry) return Code::kNoCurrentEntry;
    EntryCopy copy(reader, Progress{}, counter);
    if (IsZisofs(catalogues_.Get(kind), *entry)) return copy.CopyZisofs(*entry, &out);
    const std::vector<const CatalogueEntry *> slots = single ? std::vector{entry} : JoinedSlots(*entry);
    if (slots.empty()) return Code::kNoCurrentEntry;
    // An empty file needs no sector: in a cut image its extent may lie past the end.
    if (salvage_ && std::all_of(slots.begin(), slots.end(), [](const CatalogueEntry *s) { return s->size == 0; }))
        return Status::Ok();
    for (const CatalogueEntry *slot : slots) QORVEX_TRY(copy.Copy(*slot, &out));
    return Status::Ok();
}

namespace {

constexpr int32_t kReadRunSectors = 256;

// Bytes [at, at + n) of data that begins `skip` bytes into sector `extent`: whole sectors go straight into
// `out`, a sector cut at either end through one sector of its own.
Status ReadRange(SectorReader &reader, uint32_t extent, uint64_t skip, uint64_t at, uint8_t *out, size_t n) {
    const int64_t u = reader.UserSize();
    if (u <= 0) return Code::kReadFailed;
    std::vector<uint8_t> sector;
    uint64_t position = skip + at;
    while (n > 0) {
        const uint64_t k = position / static_cast<uint64_t>(u);
        const size_t within = static_cast<size_t>(position % static_cast<uint64_t>(u));
        const uint64_t s = uint64_t(extent) + k;
        if (s > INT32_MAX || !reader.SeekSector(static_cast<int32_t>(s))) return Code::kSeekFailed;
        size_t took = 0;
        if (within == 0 && n >= static_cast<size_t>(u)) {
            const int32_t run = static_cast<int32_t>(std::min<uint64_t>(n / static_cast<uint64_t>(u), kReadRunSectors));
            if (reader.ReadSectorRun(out, run) < run) return reader.ReadFailure();
            took = static_cast<size_t>(run) * static_cast<size_t>(u);
        } else {
            sector.resize(static_cast<size_t>(u));
            if (reader.ReadSectors(sector.data(), 1) == 0) return reader.ReadFailure();
            took = std::min(n, sector.size() - within);
            std::memcpy(out, sector.data() + within, took);
        }
        out += took, position += took, n -= took;
    }
    return Status::Ok();
}

// The decoded bytes [at, at + n) of a zisofs file; its stored sectors are read by byte range.
Status ReadZisofsRange(SectorReader &reader, const CatalogueEntry &entry, uint64_t at, uint8_t *out, size_t n) {
    const int64_t u = reader.UserSize();
    if (u <= 0) return Code::kReadFailed;
    Status read_failure = Code::kReadFailed;
    bool failed = false;
    auto read = [&](uint64_t offset, uint8_t *into, size_t count) {
        const Status got = ReadRange(reader, entry.extent, 0, offset, into, count);
        if (got.Failed()) read_failure = got, failed = true;
        return got.IsOk();
    };
    auto sink = [&](const uint8_t *data, size_t count) -> Status {
        std::memcpy(out, data, count);
        out += count;
        return Status::Ok();
    };
    const uint64_t stored = uint64_t(entry.sectors) * static_cast<uint64_t>(u);
    const Status decoded = rockridge::DecodeZisofsRange(stored, entry.size, read, at, at + n, sink);
    return decoded.Failed() && failed ? read_failure : decoded;
}

}  // namespace

Status TrackVolume::ReadFile(int32_t kind, int32_t index, bool single, SectorReader &reader, uint64_t offset,
                             uint8_t *out, size_t size, size_t *done) const {
    *done = 0;
    const Catalogue *list = Files(kind);
    if (!list) return Code::kBadKind;
    const CatalogueEntry *entry = At(list, index);
    if (!entry) return Code::kNoCurrentEntry;
    if (IsZisofs(catalogues_.Get(kind), *entry)) {
        if (offset >= entry->size) return Status::Ok();
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, entry->size - offset));
        QORVEX_TRY(ReadZisofsRange(reader, *entry, offset, out, n));
        *done = n;
        return Status::Ok();
    }
    const std::vector<const CatalogueEntry *> slots = single ? std::vector{entry} : JoinedSlots(*entry);
    if (slots.empty()) return Code::kNoCurrentEntry;
    // The slots follow one another: skip those wholly before `offset`, read on through the next ones.
    uint64_t begins = 0;
    for (const CatalogueEntry *slot : slots) {
        if (size == 0) break;
        const uint64_t ends = begins + slot->size;
        if (offset < ends) {
            const uint64_t at = offset - begins;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size, slot->size - at));
            QORVEX_TRY(ReadRange(reader, slot->extent, slot->offset_bytes, at, out, n));
            out += n, offset += n, size -= n, *done += n;
        }
        begins = ends;
    }
    return Status::Ok();
}

bool TrackVolume::PlainPlace(int32_t kind, int32_t index, bool single, uint64_t offset, const std::string **file,
                             int64_t *at, uint64_t *length) const {
    const Catalogue *list = Files(kind);
    const CatalogueEntry *entry = list ? At(list, index) : nullptr;
    if (!entry || !reader_.StoresPlainly() || IsZisofs(catalogues_.Get(kind), *entry)) return false;
    const uint64_t u = static_cast<uint64_t>(reader_.UserSize());
    uint64_t begins = 0;
    for (const CatalogueEntry *slot : single ? std::vector{entry} : JoinedSlots(*entry)) {
        const uint64_t ends = begins + slot->size;
        if (offset < ends) {
            const uint64_t position = slot->offset_bytes + (offset - begins);
            const uint64_t s = uint64_t(slot->extent) + position / u;
            int64_t left = 0;
            if (s > INT32_MAX || !reader_.Locate(static_cast<int32_t>(s), file, at, &left)) return false;
            const uint64_t within = position % u;
            if (left <= static_cast<int64_t>(within)) return false;
            *at += static_cast<int64_t>(within);
            *length = std::min<uint64_t>(ends - offset, static_cast<uint64_t>(left) - within);
            return true;
        }
        begins = ends;
    }
    return false;
}

}  // namespace qorvex
