#include "iso9660/iso_scan.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "joliet/joliet.h"
#include "platform/text.h"
#include "qorvex.h"

namespace qorvex::iso9660 {

namespace {

uint16_t Le16(const uint8_t *p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint32_t Be32(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
uint64_t CeilDiv(uint64_t a, uint64_t b) {
    return b == 0 ? 0 : (a + b - 1) / b;
}
uint32_t Sectors(uint64_t bytes, int32_t block) {
    return static_cast<uint32_t>(std::min<uint64_t>(CeilDiv(bytes, static_cast<uint64_t>(block)), UINT32_MAX));
}

// Descriptor fields.
constexpr size_t kVolumeId = 40, kBlockSize = 128, kPathSizeLe = 132, kPathSizeBe = 136, kPathL = 140, kPathM = 148,
                 kRoot = 156, kCreated = 813;
// Directory record fields.
constexpr size_t kExtent = 2, kDataLength = 10, kDate = 18, kFlags = 25, kIdLength = 32, kId = 33;
constexpr uint8_t kFlagHidden = 1, kFlagDirectory = 2;

enum class Fs { kIso, kJoliet };

struct Side {
    Fs fs;
    const DescriptorSlot *descriptor;
    std::vector<PathTableRecord> *path_table;
    std::vector<DirectoryRecord> *directory;
    int32_t folder_kind;
    int32_t table_l_kind;
    int32_t table_m_kind;
};

// State of one ISO 9660 / Joliet scan.
class IsoScan {
public:
    explicit IsoScan(VolumeScanner &s) : s_(s) {}
    int32_t Run();

private:
    std::string Identifier(Fs fs, const uint8_t *id, size_t n) const {
        if (fs == Fs::kJoliet) return joliet::ConvertName(id, n);
        const size_t cut = std::find(id, id + n, 0) - id;
        return std::string(reinterpret_cast<const char *>(id), cut);
    }
    bool ReadRun(uint32_t sector, uint64_t n, std::vector<uint8_t> &out);
    bool WalkDescriptors();
    void ReadPathTable(const Side &side);
    bool WalkDirectory(const Side &side, DirectoryRecord dir, int32_t depth);
    // Goes through directory data; calls `take` for each record that is not passed over. False stops.
    bool ParseRecords(const Side &side, const std::vector<uint8_t> &data, std::string parent,
                      const std::function<bool(const DirectoryRecord &, bool)> &take);
    bool Fallback(const Side *iso, const Side *joliet);
    bool FolderPath(const std::vector<PathTableRecord> &table, size_t k, std::vector<std::string> &memo,
                    std::vector<uint8_t> &state);

    VolumeScanner &s_;
    int32_t block_ = 0;  // B
    int64_t directory_budget_ = kMaxDirectoryBytes;
    std::unordered_set<uint64_t> walked_;
};

bool IsoScan::ReadRun(uint32_t sector, uint64_t n, std::vector<uint8_t> &out) {
    out.clear();
    if (sector > INT32_MAX || !s_.reader.SeekSector(static_cast<int32_t>(sector))) {
        s_.RecordError(ENGINE_SEEK_FAILED);
        return false;
    }
    if (n == 0) return true;
    const int32_t u = s_.reader.UserSize();
    if (u <= 0 || n > static_cast<uint64_t>(kMaxRunBytes) || static_cast<int64_t>(n) > directory_budget_) {
        s_.RecordError(ENGINE_READ_FAILED);
        return false;
    }
    directory_budget_ -= static_cast<int64_t>(n);
    out.reserve(static_cast<size_t>(n));
    while (out.size() < n) {
        if (s_.reader.ReadSectors(s_.buffer.data(), 1) == 0) {
            s_.RecordError(s_.ReadFailureCode());
            out.clear();
            return false;
        }
        const size_t take =
            static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(block_ > 0 ? block_ : u), n - out.size()));
        out.insert(out.end(), s_.buffer.begin(),
                   s_.buffer.begin() + static_cast<ptrdiff_t>(std::min<size_t>(take, s_.buffer.size())));
    }
    return true;
}

bool IsoScan::WalkDescriptors() {
    const int64_t first = int64_t(s_.reader.Record().start) + 16;
    if (!s_.reader.SeekSector(static_cast<int32_t>(first))) {
        s_.RecordError(ENGINE_SEEK_FAILED);
        return false;
    }
    uint32_t sector = static_cast<uint32_t>(first);
    std::array<uint8_t, 2048> d{};
    for (;;) {
        if (s_.reader.ReadSectors(s_.buffer.data(), 1) == 0) {
            s_.RecordError(s_.ReadFailureCode());
            return false;
        }
        d.fill(0);
        std::memcpy(d.data(), s_.buffer.data(), static_cast<size_t>(std::min(s_.reader.UserSize(), 2048)));
        if (std::memcmp(d.data() + 1, "CD001", 5) != 0) return true;
        DescriptorSlot *slot = nullptr;
        switch (d[0]) {
            case 0: slot = &s_.boot; break;
            case 1: slot = &s_.primary; break;
            case 3: slot = &s_.partition; break;
            case 2:
                if (joliet::IsJolietDescriptor(d.data())) slot = &s_.joliet;
                break;
            case 255:
                s_.terminator.data = d;
                s_.terminator.sector = sector;
                return true;
            default: return true;
        }
        if (slot && !slot->Found()) {
            slot->data = d;
            slot->sector = sector;
        }
        ++sector;
    }
}

void IsoScan::ReadPathTable(const Side &side) {
    const uint8_t *d = side.descriptor->data.data();
    const uint32_t size = Le32(d + kPathSizeLe);
    if (size == 0) return;
    std::vector<uint8_t> table;
    if (!ReadRun(Le32(d + kPathL), size, table)) return;
    for (size_t i = 0; i + 8 < table.size() && side.path_table->size() < kMaxPathTableRecords;) {
        const uint8_t n = table[i];
        if (n == 0) {
            ++i;
            continue;
        }
        PathTableRecord record;
        std::memcpy(record.bytes.data(), table.data() + i, 9);
        const size_t available = std::min<size_t>(n, table.size() - (i + 8));
        record.name = Identifier(side.fs, table.data() + i + 8, available);
        side.path_table->push_back(std::move(record));
        i += 8 + n + (n & 1);
    }
}

bool IsoScan::ParseRecords(const Side &side, const std::vector<uint8_t> &data, std::string parent,
                           const std::function<bool(const DirectoryRecord &, bool)> &take) {
    // A record needs its 33-byte header and at least one identifier byte; one that ends exactly at the end of
    // the data is still a record.
    for (size_t i = 0; i + 34 <= data.size();) {
        const uint8_t length = data[i];
        if (length == 0) {
            ++i;
            continue;
        }
        const uint8_t n = data[i + kIdLength];
        if (i + kId + n > data.size()) break;  // the identifier runs past the directory's data
        const uint8_t flags = data[i + kFlags];
        const bool directory = (flags & kFlagDirectory) != 0;
        const uint8_t *id = data.data() + i + kId;
        if (!(directory && n == 1 && (id[0] == 0 || id[0] == 1))) {
            DirectoryRecord record;
            std::memcpy(record.bytes.data(), data.data() + i, 34);
            record.path = parent + Identifier(side.fs, id, n);
            if (directory) record.path += '\\';
            if (record.path.size() > kMaxPathLength) {
                s_.RecordError(ENGINE_READ_FAILED);
                return false;
            }
            if (!take(record, directory)) return false;
        }
        size_t step = std::max<size_t>(length, size_t(33) + n);
        i += step + (step & 1);
    }
    return true;
}

bool IsoScan::WalkDirectory(const Side &side, DirectoryRecord dir, int32_t depth) {
    std::vector<uint8_t> data;
    if (!ReadRun(Le32(dir.bytes.data() + kExtent), Le32(dir.bytes.data() + kDataLength), data)) return false;
    return ParseRecords(side, data, dir.path, [&](const DirectoryRecord &record, bool directory) {
        side.directory->push_back(record);
        if (!directory) return true;
        // A folder already walked (a loop or a shared extent) or too deep is listed but not entered.
        const uint64_t key = (uint64_t(Le32(record.bytes.data() + kExtent)) << 1) | (side.fs == Fs::kJoliet);
        if (depth + 1 > kMaxDepth || !walked_.insert(key).second) return true;
        return WalkDirectory(side, record, depth + 1);
    });
}

bool IsoScan::FolderPath(const std::vector<PathTableRecord> &table, size_t k, std::vector<std::string> &memo,
                         std::vector<uint8_t> &state) {
    // Iterative resolution of record k (1-based) through its parents; state 1 = in progress, 2 = done.
    std::vector<size_t> chain;
    size_t at = k;
    while (state[at] != 2) {
        if (state[at] == 1) return false;  // the parents loop
        state[at] = 1;
        chain.push_back(at);
        if (at == 1) break;
        const size_t parent = Le16(table[at - 1].bytes.data() + 6);
        if (parent == 0 || parent > table.size()) return false;
        at = parent;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const size_t r = *it;
        if (r == 1) {
            memo[r] = "\\";
        } else {
            const size_t parent = Le16(table[r - 1].bytes.data() + 6);
            memo[r] = memo[parent] + table[r - 1].name + "\\";
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
        return a.extent > b.extent || (a.extent == b.extent && a.kind == 12);
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
                        return a.extent < b.extent || (a.extent == b.extent && a.kind != 12 && b.kind == 12);
                    });
                    return;
                }
            }
            if (last == 0) break;
            --last;
        } while (swapped);
    } while (gap > 1);
}

bool IsoScan::Fallback(const Side *iso, const Side *joliet) {
    std::vector<CatalogueEntry> list;
    auto add_tables = [&](const Side &side, int32_t block) {
        const uint8_t *d = side.descriptor->data.data();
        const uint32_t size = Le32(d + kPathSizeLe);
        if (size == 0) return;
        CatalogueEntry l;
        l.kind = side.table_l_kind;
        l.extent = Le32(d + kPathL);
        l.size = size;
        l.sectors = Sectors(size, block);
        list.push_back(l);
        CatalogueEntry m = l;
        m.kind = side.table_m_kind;
        m.extent = Be32(d + kPathM);
        list.push_back(m);
    };
    auto add_folders = [&](const Side &side) {
        const auto &table = *side.path_table;
        std::vector<std::string> memo(table.size() + 1);
        std::vector<uint8_t> state(table.size() + 1, 0);
        for (size_t k = 1; k <= table.size(); ++k) {
            if (!FolderPath(table, k, memo, state)) return false;
            CatalogueEntry f;
            f.kind = side.folder_kind;
            f.extent = Le32(table[k - 1].bytes.data() + 2);
            f.name = memo[k];
            list.push_back(std::move(f));
        }
        return true;
    };
    const Side *sides[2] = {iso, joliet};
    for (const Side *side : sides)
        if (side) add_tables(*side, block_);
    for (const Side *side : sides)
        if (side && !add_folders(*side)) {
            s_.RecordError(ENGINE_READ_FAILED);
            return false;
        }
    if (list.empty()) return true;
    SortFallbackList(list);

    auto read_folder = [&](const CatalogueEntry &f, bool &found, uint32_t &lowest) {
        found = false;
        const Side &side = f.kind == 12 ? *joliet : *iso;
        std::vector<uint8_t> data;
        uint64_t n = uint64_t(f.sectors) * static_cast<uint64_t>(block_);
        // The gap to the next listed extent may hold file data as well: a folder whose own "." record gives a
        // shorter length is read only that far, so file contents are never taken for directory records.
        if (n > 0) {
            if (!ReadRun(f.extent, std::min<uint64_t>(n, static_cast<uint64_t>(block_)), data)) return false;
            if (data.size() >= 34 && data[0] >= 34 && (data[kFlags] & kFlagDirectory) && data[kIdLength] == 1 &&
                data[kId] == 0) {
                const uint64_t own = CeilDiv(Le32(data.data() + kDataLength), static_cast<uint64_t>(block_)) *
                                     static_cast<uint64_t>(block_);
                if (own > 0) n = std::min(n, own);
            }
        }
        if (!ReadRun(f.extent, n, data)) return false;
        return ParseRecords(side, data, f.name, [&](const DirectoryRecord &record, bool directory) {
            side.directory->push_back(record);
            const uint32_t extent = Le32(record.bytes.data() + kExtent);
            if (!directory && (!found || extent < lowest)) {
                lowest = extent;
                found = true;
            }
            return true;
        });
    };
    bool have_m = false;
    uint32_t m = 0;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        list[i].sectors = list[i + 1].extent - list[i].extent;
        if (list[i].kind != 2 && list[i].kind != 12) continue;
        bool found;
        uint32_t lowest = 0;
        if (!read_folder(list[i], found, lowest)) return false;
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
        last.sectors = static_cast<uint32_t>(std::max<int64_t>(0, int64_t(s_.reader.TrackEnd()) - last.extent));
    if (last.kind == 2 || last.kind == 12) {
        bool found;
        uint32_t lowest = 0;
        if (!read_folder(last, found, lowest)) return false;
    }
    return true;
}

int32_t IsoScan::Run() {
    s_.primary = DescriptorSlot{};
    s_.joliet = DescriptorSlot{};
    s_.partition = DescriptorSlot{};
    s_.boot = DescriptorSlot{};
    s_.terminator = DescriptorSlot{};
    s_.iso_path_table.clear();
    s_.iso_directory.clear();
    s_.joliet_path_table.clear();
    s_.joliet_directory.clear();
    if (!WalkDescriptors()) return 0;

    // A descriptor whose block size this reader cannot deliver is not used.
    const int32_t max_user = s_.reader.MaxUserSize();
    if (s_.primary.Found() && UsableBlockSize(s_.primary.data.data(), max_user) == 0) s_.primary = DescriptorSlot{};
    if (s_.joliet.Found()) {
        const int32_t bj = UsableBlockSize(s_.joliet.data.data(), max_user);
        const int32_t b = s_.primary.Found() ? UsableBlockSize(s_.primary.data.data(), max_user) : bj;
        if (bj == 0 || bj != b) s_.joliet = DescriptorSlot{};  // Joliet is read only with the primary's block size
    }

    Side iso{Fs::kIso, &s_.primary, &s_.iso_path_table, &s_.iso_directory, 2, 3, 4};
    Side jol{Fs::kJoliet, &s_.joliet, &s_.joliet_path_table, &s_.joliet_directory, 12, 13, 14};
    int32_t result = 0;
    bool fallback_iso = false, fallback_joliet = false;
    auto scan_side = [&](Side &side, int32_t bit, bool &fallback) {
        block_ = UsableBlockSize(side.descriptor->data.data(), max_user);
        s_.reader.SetUserSize(block_);
        ReadPathTable(side);
        DirectoryRecord root;
        std::memcpy(root.bytes.data(), side.descriptor->data.data() + kRoot, 34);
        root.path = "\\";
        side.directory->push_back(root);
        if (Le32(root.bytes.data() + kDataLength) < 34) {
            fallback = true;
            return true;
        }
        walked_.insert((uint64_t(Le32(root.bytes.data() + kExtent)) << 1) | (side.fs == Fs::kJoliet));
        if (!WalkDirectory(side, root, 0)) return false;
        result |= bit;
        return true;
    };
    if (s_.primary.Found() && !scan_side(iso, 1, fallback_iso)) return 0;
    if (s_.joliet.Found() && !scan_side(jol, 2, fallback_joliet)) return 0;
    if (fallback_iso || fallback_joliet) {
        if (!Fallback(s_.primary.Found() ? &iso : nullptr, s_.joliet.Found() ? &jol : nullptr)) return 0;
        return (fallback_iso ? 1 : 0) | (fallback_joliet ? 2 : 0);
    }
    return result;
}

int32_t FolderDate(const uint8_t *record) {
    return record[kDate] >= 128 ? 0 : RecordingDate(record + kDate);
}

void AddDescriptor(Catalogue &list, const char *name, int32_t kind, const DescriptorSlot &slot, int32_t size,
                   int32_t date) {
    CatalogueEntry e;
    e.kind = kind;
    e.name = name;
    e.size = static_cast<uint64_t>(size);
    e.extent = slot.sector;
    e.sectors = 1;
    e.date = date;
    list.push_back(std::move(e));
}

void AddPathTables(Catalogue &list, const uint8_t *d, const char *name_l, const char *name_m, int32_t kind_l,
                   int32_t block) {
    const uint32_t size_l = Le32(d + kPathSizeLe);
    if (size_l == 0) return;
    const uint32_t size_m = Be32(d + kPathSizeBe);
    CatalogueEntry l;
    l.kind = kind_l;
    l.name = name_l;
    l.size = size_l;
    l.extent = Le32(d + kPathL);
    l.sectors = Sectors(size_l, block);
    list.push_back(l);
    CatalogueEntry m;
    m.kind = kind_l + 1;
    m.name = name_m;
    m.size = size_m;
    m.extent = Be32(d + kPathM);
    m.sectors = Sectors(size_m, block);
    list.push_back(std::move(m));
}

void AddRecords(Catalogue &files, Catalogue &parts, const std::vector<DirectoryRecord> &records, int32_t file_kind,
                int32_t folder_kind, const char *folder_prefix, int32_t block) {
    for (const DirectoryRecord &r : records) {
        const uint8_t *b = r.bytes.data();
        const bool hidden = (b[kFlags] & kFlagHidden) != 0;
        CatalogueEntry e;
        e.size = Le32(b + kDataLength);
        e.file_flags = b[kFlags];
        e.extent = Le32(b + kExtent);
        e.sectors = Sectors(e.size, block);
        if (b[kFlags] & kFlagDirectory) {
            e.kind = folder_kind;
            e.attributes = kAttributeDirectory | (hidden ? kAttributeHidden : 0);
            e.date = FolderDate(b);
            e.name = folder_prefix + r.path;
            parts.push_back(std::move(e));
        } else {
            e.kind = file_kind;
            e.attributes = hidden ? kAttributeHidden : 0;
            e.date = RecordingDate(b + kDate);
            e.name = r.path;
            files.push_back(std::move(e));
        }
    }
}

std::string TrimLabel(std::string label) {
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

}  // namespace

int32_t UsableBlockSize(const uint8_t *descriptor, int32_t max_user_size) {
    const int32_t b = Le16(descriptor + kBlockSize);
    // ECMA-119 block sizes are powers of two from 512 up to the sector's user data.
    if (b < 512 || (b & (b - 1)) != 0 || b > max_user_size || b > 2048) return 0;
    return b;
}

int32_t RecordingDate(const uint8_t d[7]) {
    const bool zeros = std::all_of(d, d + 7, [](uint8_t c) { return c == 0; });
    const bool spaces = std::all_of(d, d + 7, [](uint8_t c) { return c == ' '; });
    if (zeros || spaces) return 0;
    return platform::RecordedDateToUnix(1900 + d[0], d[1], d[2], d[3], d[4], d[5], int8_t(d[6]) * 15);
}

int32_t VolumeDate(const uint8_t d[17]) {
    if (std::all_of(d, d + 16, [](uint8_t c) { return c == 0; })) return 0;
    if (d[0] < '0' || d[0] > '9' || std::memcmp(d, "0000", 4) == 0) return 0;
    auto field = [&](size_t at, size_t width) {
        int value = 0;
        for (size_t i = at; i < at + width && d[i] >= '0' && d[i] <= '9'; ++i) value = value * 10 + (d[i] - '0');
        return value;
    };
    return platform::RecordedDateToUnix(field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2), field(12, 2),
                                        int8_t(d[16]) * 15);
}

int32_t ScanIsoAndJoliet(VolumeScanner &scanner) {
    return IsoScan(scanner).Run();
}

void BuildIsoLists(const VolumeScanner &s, CatalogueSet &set) {
    const uint8_t *d = s.primary.data.data();
    const int32_t b = UsableBlockSize(d, s.reader.MaxUserSize());
    if (s.primary.Found()) AddDescriptor(set.iso_parts, "PVD", 5, s.primary, b, VolumeDate(d + kCreated));
    if (s.terminator.Found()) AddDescriptor(set.iso_parts, "VDT", 6, s.terminator, b, 0);
    AddPathTables(set.iso_parts, d, "iso path table L", "iso path table M", 3, b);
    AddRecords(set.iso_files, set.iso_parts, s.iso_directory, 1, 2, "iso9660 folder ", b);
    set.iso_label = TrimLabel(std::string(reinterpret_cast<const char *>(d + kVolumeId),
                                          std::find(d + kVolumeId, d + kVolumeId + 32, 0) - (d + kVolumeId)));
}

void BuildJolietLists(const VolumeScanner &s, CatalogueSet &set) {
    const uint8_t *d = s.joliet.data.data();
    const int32_t bj = UsableBlockSize(d, s.reader.MaxUserSize());
    const int32_t b = s.primary.Found() ? UsableBlockSize(s.primary.data.data(), s.reader.MaxUserSize()) : bj;
    AddDescriptor(set.joliet_parts, "SVD", 15, s.joliet, bj, VolumeDate(d + kCreated));
    AddPathTables(set.joliet_parts, d, "joliet path table L", "joliet path table M", 13, bj);
    AddRecords(set.joliet_files, set.joliet_parts, s.joliet_directory, 11, 12, "joliet folder ", b);
    set.joliet_label = TrimLabel(joliet::ConvertName(d + kVolumeId, 32));
}

}  // namespace qorvex::iso9660
