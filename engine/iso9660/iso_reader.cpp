#include "iso9660/iso_reader.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "iso9660/iso_structures.h"
#include "joliet/joliet.h"
#include "model/kinds.h"

namespace qorvex::iso9660 {

namespace {

// " (0x8104)": the code a failure left, for a salvage note.
std::string CodeText(const Status &status) {
    char text[16];
    std::snprintf(text, sizeof text, " (0x%04X)", static_cast<unsigned>(status.Value()));
    return status.Failed() ? text : "";
}

uint64_t CeilDiv(uint64_t a, uint64_t b) {
    return b == 0 ? 0 : (a + b - 1) / b;
}
uint32_t Sectors(uint64_t bytes, int32_t block) {
    return static_cast<uint32_t>(std::min<uint64_t>(CeilDiv(bytes, static_cast<uint64_t>(block)), UINT32_MAX));
}

enum class Fs { kIso, kJoliet };

// A path-table record kept for the walk: its extent, its parent's number and its name.
struct Folder {
    uint32_t extent = 0;
    uint16_t parent = 0;
    std::string name;
};

// A folder to walk: where its records lie and its path (held by the listing's names).
struct Walk {
    uint32_t extent = 0;
    uint32_t data_length = 0;
    std::string_view path;
};

// One of the two hierarchies a scan reads, with the kinds its entries get. Its listing is built while the
// records are read, in the order read: descriptor parts first, then folders (parts) and files.
struct Side {
    Fs fs;
    VolumeDescriptor *descriptor;
    EntryKind file_kind, folder_kind, table_l_kind, table_m_kind;
    NamePrefix folder_prefix;
    std::vector<Folder> path_table = {};
    FsListing listing = {};
    bool fallback = false;
};

// The dates of a folder's records are mostly one and the same: the last one converted is kept.
class DateMemo {
public:
    int64_t Of(const std::array<uint8_t, 7> &date) {
        if (!known_ || date != date_) {
            date_ = date;
            unix_ = RecordingInstant(date.data());
            known_ = true;
        }
        return unix_;
    }

private:
    std::array<uint8_t, 7> date_{};
    int64_t unix_ = kNoDate;
    bool known_ = false;
};

// State of one ISO 9660 / Joliet scan.
class IsoScan {
public:
    IsoScan(SectorReader &reader, const Limits &limits)
        : reader_(reader), budget_(*limits.budget), salvage_(limits.salvage) {}
    // Returns the bits of what was found (1 ISO 9660, 2 Joliet); the last failure is in status().
    int32_t Run();
    void Finish(bool iso_found, bool joliet_found, FsListing *iso, FsListing *joliet);
    Status status() const { return status_; }

private:
    bool Fail(Status status) {
        status_ = status;
        return false;
    }
    std::string Identifier(Fs fs, ByteView id) const {
        std::string text;
        AppendIdentifier(fs, id, text);
        return text;
    }
    static void AppendIdentifier(Fs fs, ByteView id, std::string &out) {
        if (fs == Fs::kJoliet) {
            joliet::AppendName(id, out);
            return;
        }
        const std::string_view text = id.Text(0, id.Size());
        out += text.substr(0, text.find('\0'));
    }
    // Lists a record under `path`; for a folder, tells where to walk it.
    bool Keep(Side &side, const DirectoryRecord &record, std::string_view path, Walk *folder);
    bool ListDescriptorParts(Side &side, int32_t block);
    bool ReadRun(uint32_t sector, uint64_t n, std::vector<uint8_t> &out);
    bool WalkDescriptors();
    void ReadPathTable(Side &side);
    bool ScanSide(Side &side);
    bool WalkDirectory(Side &side, const Walk &folder, int32_t depth);
    // Goes through directory data; calls `take` with each record that is not "." or ".." and its path.
    // False stops.
    bool ParseRecords(Side &side, const std::vector<uint8_t> &data, std::string_view parent,
                      const std::function<bool(const DirectoryRecord &, std::string_view)> &take);
    bool Fallback(Side *iso, Side *joliet);
    bool FolderPath(const std::vector<Folder> &table, size_t k, std::vector<std::string> &memo,
                    std::vector<uint8_t> &state);
    bool ReadFallbackFolder(Side &side, const CatalogueEntry &folder, bool &found, uint32_t &lowest);
    // With OPEN_SALVAGE, a part that could not be read is noted and skipped (true); a spent budget still stops.
    bool Skipped(const Side &side, std::string_view what, std::string_view path) {
        if (!salvage_ || budget_.Exhausted()) return false;
        salvage_->Failed(std::string(side.fs == Fs::kJoliet ? "Joliet: " : "ISO 9660: ")
                             .append(what)
                             .append(path)
                             .append(" could not be read")
                             .append(CodeText(status_)));
        return true;
    }

    SectorReader &reader_;
    MemoryBudget &budget_;
    SalvageNotes *salvage_;
    Status status_;
    int32_t block_ = 0;  // B
    int64_t directory_budget_ = kMaxDirectoryBytes;
    std::unordered_set<uint64_t> walked_;
    VolumeDescriptor primary_, joliet_, terminator_;
    std::vector<uint8_t> sector_;
    std::string path_;  // the path of the record being read
    DateMemo dates_;
    Side iso_{Fs::kIso,
              &primary_,
              EntryKind::kIsoFile,
              EntryKind::kIsoFolder,
              EntryKind::kIsoPathTableL,
              EntryKind::kIsoPathTableM,
              NamePrefix::kIsoFolder};
    Side joliet_side_{Fs::kJoliet,
                      &joliet_,
                      EntryKind::kJolietFile,
                      EntryKind::kJolietFolder,
                      EntryKind::kJolietPathTableL,
                      EntryKind::kJolietPathTableM,
                      NamePrefix::kJolietFolder};
};

int64_t FolderDate(const DirectoryRecord &r, DateMemo &memo) {
    constexpr size_t kYear = 0;  // years since 1900: a folder "recorded" past 2027 has no date
    return r.date[kYear] >= 128 ? kNoDate : memo.Of(r.date);
}

bool IsoScan::Keep(Side &side, const DirectoryRecord &r, std::string_view path, Walk *folder) {
    const bool hidden = (r.flags & kFlagHidden) != 0;
    CatalogueEntry e;
    e.size = r.data_length;
    e.file_flags = r.flags;
    e.extent = r.extent;
    e.sectors = Sectors(e.size, block_);
    e.name = side.listing.names.Add(path, budget_);
    bool kept;
    if (r.IsDirectory()) {
        e.kind = side.folder_kind;
        e.prefix = side.folder_prefix;
        e.attributes = kAttributeDirectory | (hidden ? kAttributeHidden : 0);
        e.date = FolderDate(r, dates_);
        kept = side.listing.AddPart(e, budget_);
        if (folder) *folder = {r.extent, r.data_length, e.name};
    } else {
        e.kind = side.file_kind;
        e.attributes = hidden ? kAttributeHidden : 0;
        e.date = dates_.Of(r.date);
        kept = side.listing.AddFile(e, budget_);
    }
    if (!kept || budget_.Exhausted()) return Fail(Code::kTooLarge);
    return true;
}

bool IsoScan::ReadRun(uint32_t sector, uint64_t n, std::vector<uint8_t> &out) {
    const Status status = ReadDirectoryRun(reader_, sector, n, block_, directory_budget_, out, sector_);
    return status.IsOk() || Fail(status);
}

bool IsoScan::WalkDescriptors() {
    const int64_t first = int64_t(reader_.Record().start) + 16;
    if (!reader_.SeekSector(static_cast<int32_t>(first))) return Fail(Code::kSeekFailed);
    uint32_t sector = static_cast<uint32_t>(first);
    std::vector<uint8_t> read(static_cast<size_t>(std::max(reader_.MaxUserSize(), 1)));
    std::array<uint8_t, kDescriptorSize> d{};
    for (;; ++sector) {
        if (reader_.ReadSectors(read.data(), 1) == 0) {
            Fail(reader_.ReadFailure());
            // A cut inside the set still leaves the descriptors before it.
            if (!salvage_ || !primary_.Found()) return false;
            salvage_->Failed("ISO 9660: the volume descriptor set ends unreadable at sector " + std::to_string(sector));
            return true;
        }
        // The descriptor is the first 2048 bytes a read delivers; a shorter delivery leaves zeros behind it.
        d.fill(0);
        std::copy_n(read.begin(), std::min<size_t>(static_cast<size_t>(std::max(reader_.UserSize(), 0)), d.size()),
                    d.begin());
        const ByteView bytes(d.data(), d.size());
        if (!IsVolumeDescriptor(bytes)) return true;
        VolumeDescriptor *slot = nullptr;
        switch (VolumeDescriptor::Parse(bytes, sector).type) {
            case kBootRecord:
            case kPartition: continue;  // not listed by this reader
            case kPrimary: slot = &primary_; break;
            case kSupplementary:
                if (joliet::IsJolietDescriptor(bytes)) slot = &joliet_;
                break;
            case kTerminator: terminator_ = VolumeDescriptor::Parse(bytes, sector); return true;
            default: return true;
        }
        if (slot && !slot->Found()) *slot = VolumeDescriptor::Parse(bytes, sector);
    }
}

void IsoScan::ReadPathTable(Side &side) {
    const VolumeDescriptor &d = *side.descriptor;
    if (d.path_table_size == 0) return;
    std::vector<uint8_t> table;
    if (!ReadRun(d.path_table_l, d.path_table_size, table)) return;
    const ByteView bytes(table.data(), table.size());
    const size_t end = table.size() > kPathTableRecordFixed ? table.size() - kPathTableRecordFixed : 0;
    for (size_t i = 0; i < end && side.path_table.size() < kMaxPathTableRecords;) {
        if (table[i] == 0) {  // an identifier length of 0 moves on by one byte: a run of them at once
            i = bytes.SkipZeros(i, end);
            continue;
        }
        const PathTableRecord r = PathTableRecord::Parse(bytes.From(i));
        Folder folder{r.extent, r.parent, Identifier(side.fs, r.identifier)};
        if (!budget_.Charge(folder.name.capacity()) || !Append(side.path_table, std::move(folder), budget_)) {
            Fail(Code::kTooLarge);
            return;
        }
        i += kPathTableRecordFixed + r.identifier_length + (r.identifier_length & 1);
    }
}

bool IsoScan::ParseRecords(Side &side, const std::vector<uint8_t> &data, std::string_view parent,
                           const std::function<bool(const DirectoryRecord &, std::string_view)> &take) {
    const ByteView bytes(data.data(), data.size());
    // A record needs its 33-byte head and at least one identifier byte; one that ends exactly at the end of
    // the data is still a record.
    const size_t end = data.size() > kDirectoryRecordFixed ? data.size() - kDirectoryRecordFixed : 0;
    for (size_t i = 0; i < end;) {
        if (data[i] == 0) {  // a record length of 0 moves on by one byte (sector padding): a run of them at once
            i = bytes.SkipZeros(i, end);
            continue;
        }
        const DirectoryRecord r = DirectoryRecord::Parse(bytes.From(i));
        if (r.identifier.Size() < r.identifier_length) break;  // the identifier runs past the directory's data
        if (!r.IsSelfOrParent()) {
            path_.assign(parent);
            AppendIdentifier(side.fs, r.identifier, path_);
            if (r.IsDirectory()) path_ += '\\';
            if (path_.size() > kMaxPathLength) return Fail(Code::kReadFailed);
            if (!take(r, path_)) return false;
        }
        const size_t step = std::max<size_t>(r.length, kDirectoryRecordFixed + r.identifier_length);
        i += step + (step & 1);
    }
    return true;
}

bool IsoScan::WalkDirectory(Side &side, const Walk &folder, int32_t depth) {
    std::vector<uint8_t> data;
    if (!ReadRun(folder.extent, folder.data_length, data)) {
        if (depth == 0 && salvage_ && !budget_.Exhausted() && side.descriptor->path_table_size != 0) {
            side.fallback = true;  // the root lies beyond the end: its folders may still be found by the path table
            salvage_->Failed(std::string(side.fs == Fs::kJoliet ? "Joliet" : "ISO 9660") +
                             ": the root folder could not be read" + CodeText(status_) + "; the path table was used");
            return true;
        }
        return Skipped(side, "folder ", folder.path);
    }
    return ParseRecords(side, data, folder.path, [&](const DirectoryRecord &record, std::string_view path) {
        Walk child;
        if (!Keep(side, record, path, &child)) return false;
        if (!record.IsDirectory()) return true;
        // A folder too deep, or already walked (a loop or a shared extent), is listed but not entered.
        if (depth + 1 > kMaxDepth) {
            ++side.listing.skipped_folders;
            return true;
        }
        if (!walked_.insert((uint64_t(record.extent) << 1) | (side.fs == Fs::kJoliet)).second) return true;
        return WalkDirectory(side, child, depth + 1);
    });
}

bool IsoScan::FolderPath(const std::vector<Folder> &table, size_t k, std::vector<std::string> &memo,
                         std::vector<uint8_t> &state) {
    // Iterative resolution of record k (1-based) through its parents; state 1 = in progress, 2 = done.
    std::vector<size_t> chain;
    size_t at = k;
    while (state[at] != 2) {
        if (state[at] == 1) return false;  // the parents loop
        state[at] = 1;
        chain.push_back(at);
        if (at == 1) break;
        const size_t parent = table[at - 1].parent;
        if (parent == 0 || parent > table.size()) return false;
        at = parent;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const size_t r = *it;
        if (r == 1) {
            memo[r] = "\\";
        } else {
            memo[r] = memo[table[r - 1].parent] + table[r - 1].name + "\\";
            if (memo[r].size() > kMaxPathLength) return false;
        }
        state[r] = 2;
    }
    return true;
}

// The fallback's sort: a diminishing-gap exchange sort by extent, Joliet folders behind others of the same
// extent. Its exact order of equal entries is kept; a hostile list that would take too long is sorted stably.
void SortFallbackList(std::vector<CatalogueEntry> &list) {
    const size_t n = list.size();
    if (n <= 1) return;
    auto out_of_order = [](const CatalogueEntry &a, const CatalogueEntry &b) {
        return a.extent > b.extent || (a.extent == b.extent && a.kind == EntryKind::kJolietFolder);
    };
    uint64_t budget = 50'000'000;
    size_t gap = n;
    do {
        gap /= 2;
        if (gap == 0) break;
        size_t last = n - 1;
        bool swapped;
        do {
            swapped = false;
            for (size_t j = gap; j <= last; ++j) {
                if (out_of_order(list[j - gap], list[j])) {
                    std::swap(list[j - gap], list[j]);
                    swapped = true;
                }
                if (--budget == 0) {
                    std::stable_sort(list.begin(), list.end(), [](const CatalogueEntry &a, const CatalogueEntry &b) {
                        return a.extent < b.extent || (a.extent == b.extent && a.kind != EntryKind::kJolietFolder &&
                                                       b.kind == EntryKind::kJolietFolder);
                    });
                    return;
                }
            }
            if (last == 0) break;
            --last;
        } while (swapped);
    } while (gap > 1);
}

// Reads a folder the fallback found through the path table; reports the lowest file extent it holds.
bool IsoScan::ReadFallbackFolder(Side &side, const CatalogueEntry &folder, bool &found, uint32_t &lowest) {
    found = false;
    std::vector<uint8_t> data;
    uint64_t n = uint64_t(folder.sectors) * static_cast<uint64_t>(block_);
    // The gap to the next listed extent may hold file data as well: a folder whose own "." record gives a
    // shorter length is read only that far, so file contents are never taken for directory records.
    if (n > 0) {
        if (!ReadRun(folder.extent, std::min<uint64_t>(n, static_cast<uint64_t>(block_)), data)) return false;
        const DirectoryRecord self = DirectoryRecord::Parse(ByteView(data.data(), data.size()));
        if (data.size() >= kDirectoryRecordFixed + 1 && self.length >= kDirectoryRecordFixed + 1 &&
            self.IsDirectory() && self.identifier_length == 1 && self.identifier.U8(0) == 0) {
            const uint64_t own =
                CeilDiv(self.data_length, static_cast<uint64_t>(block_)) * static_cast<uint64_t>(block_);
            if (own > 0) n = std::min(n, own);
        }
    }
    if (!ReadRun(folder.extent, n, data)) return false;
    return ParseRecords(side, data, folder.name, [&](const DirectoryRecord &record, std::string_view path) {
        if (!record.IsDirectory() && (!found || record.extent < lowest)) {
            lowest = record.extent;
            found = true;
        }
        return Keep(side, record, path, nullptr);
    });
}

bool IsoScan::Fallback(Side *iso, Side *joliet) {
    // Path tables and folders of both sides in one list sorted by extent: each folder reaches up to the next
    // listed extent, the last one up to the lowest file extent seen.
    std::vector<CatalogueEntry> list;
    std::vector<std::string> names;  // folder paths, held here while the list lives
    auto add_tables = [&](const Side &side) {
        const VolumeDescriptor &d = *side.descriptor;
        if (d.path_table_size == 0) return;
        CatalogueEntry l;
        l.kind = side.table_l_kind;
        l.extent = d.path_table_l;
        l.size = d.path_table_size;
        l.sectors = Sectors(d.path_table_size, block_);
        list.push_back(l);
        CatalogueEntry m = l;
        m.kind = side.table_m_kind;
        m.extent = d.path_table_m;
        list.push_back(m);
    };
    auto add_folders = [&](const Side &side) {
        const auto &table = side.path_table;
        std::vector<std::string> memo(table.size() + 1);
        std::vector<uint8_t> state(table.size() + 1, 0);
        for (size_t k = 1; k <= table.size(); ++k) {
            if (!FolderPath(table, k, memo, state)) return false;
            CatalogueEntry f;
            f.kind = side.folder_kind;
            f.extent = table[k - 1].extent;
            list.push_back(f);
            names.push_back(memo[k]);
        }
        return true;
    };
    Side *sides[2] = {iso, joliet};
    for (const Side *side : sides)
        if (side) add_tables(*side);
    for (const Side *side : sides)
        if (side && !add_folders(*side)) return Fail(Code::kReadFailed);
    if (list.empty()) return true;
    // Folder entries carry their path by index until the list is sorted.
    size_t next_name = 0;
    for (CatalogueEntry &e : list)
        if (e.kind == EntryKind::kIsoFolder || e.kind == EntryKind::kJolietFolder) e.name = names[next_name++];
    SortFallbackList(list);

    auto is_folder = [](const CatalogueEntry &e) {
        return e.kind == EntryKind::kIsoFolder || e.kind == EntryKind::kJolietFolder;
    };
    auto side_of = [&](const CatalogueEntry &e) -> Side & {
        return e.kind == EntryKind::kJolietFolder ? *joliet : *iso;
    };
    bool have_m = false;
    uint32_t m = 0;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        list[i].sectors = list[i + 1].extent - list[i].extent;
        if (!is_folder(list[i])) continue;
        bool found;
        uint32_t lowest = 0;
        if (!ReadFallbackFolder(side_of(list[i]), list[i], found, lowest) &&
            !Skipped(side_of(list[i]), "folder ", list[i].name))
            return false;
        if (found && (!have_m || lowest < m)) {
            m = lowest;
            have_m = true;
        }
    }
    CatalogueEntry &last = list.back();
    if (have_m && m > last.extent)
        last.sectors = m - last.extent;
    else if (!have_m)
        last.sectors = 1;
    else
        last.sectors = static_cast<uint32_t>(std::max<int64_t>(0, int64_t(reader_.TrackEnd()) - last.extent));
    if (is_folder(last)) {
        bool found;
        uint32_t lowest = 0;
        if (!ReadFallbackFolder(side_of(last), last, found, lowest) && !Skipped(side_of(last), "folder ", last.name))
            return false;
    }
    return true;
}

bool IsoScan::ScanSide(Side &side) {
    block_ = side.descriptor->UsableBlockSize(reader_.MaxUserSize());
    reader_.SetUserSize(block_);
    ReadPathTable(side);
    if (!ListDescriptorParts(side, block_)) return Fail(Code::kTooLarge);
    const DirectoryRecord root_record = side.descriptor->Root();
    Walk root;
    if (!Keep(side, root_record, "\\", &root)) return false;
    // A root too short to hold a record is read through the path table instead.
    if (root.data_length < kDirectoryRecordFixed + 1) {
        side.fallback = true;
        return true;
    }
    walked_.insert((uint64_t(root.extent) << 1) | (side.fs == Fs::kJoliet));
    return WalkDirectory(side, root, 0);
}

int32_t IsoScan::Run() {
    if (!WalkDescriptors()) return 0;

    // A descriptor whose block size this reader cannot deliver is not used.
    const int32_t max_user = reader_.MaxUserSize();
    if (primary_.Found() && primary_.UsableBlockSize(max_user) == 0) primary_ = VolumeDescriptor{};
    if (joliet_.Found()) {
        const int32_t bj = joliet_.UsableBlockSize(max_user);
        const int32_t b = primary_.Found() ? primary_.UsableBlockSize(max_user) : bj;
        if (bj == 0 || bj != b) joliet_ = VolumeDescriptor{};  // Joliet is read only with the primary's block size
    }

    if (salvage_ && primary_.Found())
        salvage_->Recorded(primary_.volume_space_size);  // extents, and so the space, count from the disc start
    int32_t result = 0;
    if (primary_.Found()) {
        // With OPEN_SALVAGE a hierarchy that fails part way keeps what was read, and the other is read all the same.
        if (!ScanSide(iso_) && !Skipped(iso_, "the hierarchy", "")) return 0;
        if (!iso_.fallback) result |= KIND_ISO9660;
    }
    if (joliet_.Found()) {
        if (!ScanSide(joliet_side_) && !Skipped(joliet_side_, "the hierarchy", "")) return 0;
        if (!joliet_side_.fallback) result |= KIND_JOLIET;
    }
    if (salvage_ && (iso_.fallback || joliet_side_.fallback)) {
        // Only the hierarchies whose root failed are read through the path table; the others stay as walked.
        if (!Fallback(iso_.fallback ? &iso_ : nullptr, joliet_side_.fallback ? &joliet_side_ : nullptr)) return 0;
        return result | (iso_.fallback ? KIND_ISO9660 : 0) | (joliet_side_.fallback ? KIND_JOLIET : 0);
    }
    if (iso_.fallback || joliet_side_.fallback) {
        if (!Fallback(primary_.Found() ? &iso_ : nullptr, joliet_.Found() ? &joliet_side_ : nullptr)) return 0;
        // Only the hierarchies read through the path table count as found then.
        return (iso_.fallback ? KIND_ISO9660 : 0) | (joliet_side_.fallback ? KIND_JOLIET : 0);
    }
    return result;
}

std::string TrimLabel(std::string label) {
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

// The parts a side's listing starts with: its descriptor (and the set terminator for ISO 9660), then its
// path tables.
bool IsoScan::ListDescriptorParts(Side &side, int32_t block) {
    FsListing &listing = side.listing;
    auto add = [&](const char *name, EntryKind kind, uint64_t size, uint32_t extent, uint32_t sectors, int64_t date) {
        CatalogueEntry e;
        e.kind = kind;
        e.name = listing.names.Add(name, budget_);
        e.size = size;
        e.extent = extent;
        e.sectors = sectors;
        e.date = date;
        return listing.AddPart(e, budget_);
    };
    const VolumeDescriptor &d = *side.descriptor;
    const bool iso = side.fs == Fs::kIso;
    bool ok = add(iso ? "PVD" : "SVD", iso ? EntryKind::kIsoPrimaryDescriptor : EntryKind::kJolietDescriptor,
                  static_cast<uint64_t>(block), d.sector, 1, VolumeInstant(d.created.data()));
    if (iso && terminator_.Found())
        ok = ok && add("VDT", EntryKind::kIsoTerminator, static_cast<uint64_t>(block), terminator_.sector, 1, 0);
    if (d.path_table_size != 0) {
        ok = ok && add(iso ? "iso path table L" : "joliet path table L", side.table_l_kind, d.path_table_size,
                       d.path_table_l, Sectors(d.path_table_size, block), 0);
        ok = ok && add(iso ? "iso path table M" : "joliet path table M", side.table_m_kind, d.path_table_size_m,
                       d.path_table_m, Sectors(d.path_table_size_m, block), 0);
    }
    return ok;
}

void IsoScan::Finish(bool iso_found, bool joliet_found, FsListing *iso, FsListing *joliet) {
    if (budget_.Exhausted()) {
        status_ = Code::kTooLarge;
        return;
    }
    if (iso_found && iso) {
        *iso = std::move(iso_.listing);
        const auto &id = primary_.volume_id;
        iso->label = TrimLabel(std::string(id.begin(), std::find(id.begin(), id.end(), 0)));
        iso->found = true;
    }
    if (joliet_found && joliet) {
        *joliet = std::move(joliet_side_.listing);
        joliet->label = TrimLabel(joliet::ConvertName(ByteView(joliet_.volume_id.data(), joliet_.volume_id.size())));
        joliet->found = true;
    }
}

}  // namespace

Status ReadDirectoryRun(SectorReader &reader, uint32_t sector, uint64_t n, int32_t block, int64_t &budget,
                        std::vector<uint8_t> &out, std::vector<uint8_t> &scratch) {
    out.clear();
    if (sector > INT32_MAX || !reader.SeekSector(static_cast<int32_t>(sector))) return Code::kSeekFailed;
    if (n == 0) return Status::Ok();
    const int32_t u = reader.UserSize();
    if (u <= 0 || n > static_cast<uint64_t>(kMaxRunBytes) || static_cast<int64_t>(n) > budget) return Code::kReadFailed;
    budget -= static_cast<int64_t>(n);
    if (block == u) {
        // Blocks are whole sectors: the run is read in large requests and its tail dropped. The buffer grows
        // with what was read, so that a length the track cannot hold fails before all of it is taken.
        const uint64_t sectors = (n + static_cast<uint64_t>(u) - 1) / static_cast<uint64_t>(u);
        for (uint64_t done = 0; done < sectors;) {
            const uint64_t take = std::min<uint64_t>(sectors - done, kRunStepSectors);
            out.resize(static_cast<size_t>((done + take) * static_cast<uint64_t>(u)));
            if (reader.ReadSectors(out.data() + done * static_cast<uint64_t>(u), static_cast<int32_t>(take)) == 0) {
                out.clear();
                return reader.ReadFailure();
            }
            done += take;
        }
        out.resize(static_cast<size_t>(n));
        return Status::Ok();
    }
    out.reserve(static_cast<size_t>(n));
    scratch.resize(static_cast<size_t>(reader.MaxUserSize()));
    while (out.size() < n) {
        if (reader.ReadSectors(scratch.data(), 1) == 0) {
            out.clear();
            return reader.ReadFailure();
        }
        const size_t take =
            static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(block > 0 ? block : u), n - out.size()));
        out.insert(out.end(), scratch.begin(),
                   scratch.begin() + static_cast<ptrdiff_t>(std::min(take, scratch.size())));
    }
    return Status::Ok();
}

Status ReadIso(SectorReader &reader, const Limits &limits, FsListing *iso, FsListing *joliet) {
    IsoScan scan(reader, limits);
    const int32_t found = scan.Run();
    scan.Finish((found & KIND_ISO9660) != 0, (found & KIND_JOLIET) != 0, iso, joliet);
    return scan.status();
}

}  // namespace qorvex::iso9660
