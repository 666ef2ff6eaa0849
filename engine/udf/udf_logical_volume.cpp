// A logical volume: partitions, integrity sequence, file set sequence, and the directory trees.
#include <algorithm>

#include "qorvex.h"
#include "udf/udf_state.h"
#include "udf/udf_tag.h"

namespace qorvex::udf {

namespace {

constexpr size_t kFileEntryFixed = 176;
constexpr size_t kFidFixed = 38;

uint32_t Blocks(uint64_t bytes, int32_t s) {
    return static_cast<uint32_t>((bytes + s - 1) / s);
}

}  // namespace

UdfLogicalVolume::UdfLogicalVolume(VolumeScanner &scanner)
    : owner(scanner), block_size(std::max(scanner.reader.UserSize(), 1)) {}

UdfLogicalVolume::~UdfLogicalVolume() = default;

void UdfLogicalVolume::Load(const uint8_t *d, size_t available) {
    lvd.fill(0);
    maps.clear();
    integrity.clear();
    file_sets.clear();
    entries.clear();
    extents.clear();
    partition_starts.clear();
    std::copy(d, d + std::min(available, lvd.size()), lvd.begin());
    const uint64_t count = Le32(lvd.data() + 268);
    // Only type 1 maps are kept; the walk stops at the first other type or at the end of the data read.
    for (uint64_t i = 0; i < count && i < 0x10000; ++i) {
        const size_t at = 440 + 6 * static_cast<size_t>(i);
        if (at + 6 > available || d[at] != 1) break;
        std::array<uint8_t, 6> map{};
        std::copy(d + at, d + at + 6, map.begin());
        maps.push_back(map);
    }
}

uint32_t UdfLogicalVolume::MapTableLength() const {
    return Le32(lvd.data() + 264);
}

bool UdfLogicalVolume::PartitionStart(uint16_t reference, uint32_t &start) const {
    if (reference >= partition_starts.size()) return false;
    start = partition_starts[reference];
    return true;
}

bool UdfLogicalVolume::Read() {
    if (!ResolvePartitions()) return false;
    std::unordered_set<uint32_t> seen_integrity;
    if (!ReadIntegrity(ReadExtentAd(lvd.data() + 432), 0, seen_integrity)) return false;
    const LongAd file_set = ReadLongAd(lvd.data() + 248);
    if ((file_set.length & 1) != 0 || file_set.Bytes() == 0) return false;
    std::unordered_set<uint64_t> seen_sets;
    if (!ReadFileSets(file_set, 0, seen_sets)) return false;
    return ReadRoots();
}

bool UdfLogicalVolume::ResolvePartitions() {
    partition_starts.assign(maps.size(), 0);
    const auto &partitions = owner.udf->partitions;
    for (size_t i = 0; i < maps.size(); ++i) {
        const uint16_t number = Le16(maps[i].data() + 4);
        auto pd = std::find_if(partitions.begin(), partitions.end(),
                               [&](const auto &p) { return Le16(p.bytes.data() + 22) == number; });
        if (pd == partitions.end()) return false;
        partition_starts[i] = Le32(pd->bytes.data() + 188);
    }
    return true;
}

bool UdfLogicalVolume::ReadIntegrity(ExtentAd extent, int32_t depth, std::unordered_set<uint32_t> &seen) {
    if (extent.length == 0 || extent.location == 0) return false;
    seen.insert(extent.location);
    bool result = true;
    uint64_t n = BlocksFor(owner, extent.length);
    auto action = [&](const uint8_t *d, size_t available) {
        switch (TagIdentifier(d)) {
            case kTagEmpty: return true;
            case kTagTd: {
                std::array<uint8_t, 16> tag{};
                std::copy(d, d + 16, tag.begin());
                owner.udf->terminators.push_back(tag);
                return true;
            }
            case kTagLvid: {
                std::array<uint8_t, 134> copy{};
                std::copy(d, d + std::min(available, copy.size()), copy.begin());
                integrity.push_back(copy);
                const ExtentAd next = ReadExtentAd(copy.data() + 32);
                const bool outside = next.location < extent.location || next.location >= extent.location + n;
                if (next.length != 0 && outside && depth < kMaxChain && !seen.count(next.location))
                    result = ReadIntegrity(next, depth + 1, seen);
                return true;
            }
            default: return false;
        }
    };
    int32_t error = 0;
    if (!WalkSequence(owner, extent.length, extent.location, error, n, action)) {
        if (error != 0) last_error = error;
        return false;
    }
    return result;
}

bool UdfLogicalVolume::ReadFileSets(LongAd extent, int32_t depth, std::unordered_set<uint64_t> &seen) {
    if ((extent.length & 1) != 0 || extent.Bytes() == 0) return false;
    uint32_t c = 0;
    if (!PartitionStart(extent.partition, c)) return false;
    seen.insert((uint64_t(extent.partition) << 32) | extent.block);
    bool result = true;
    uint64_t n = BlocksFor(owner, extent.Bytes());
    auto action = [&](const uint8_t *d, size_t available) {
        switch (TagIdentifier(d)) {
            case kTagEmpty: return true;
            case kTagTd: {
                std::array<uint8_t, 16> tag{};
                std::copy(d, d + 16, tag.begin());
                PutLe32(tag.data() + 12, c + TagLocation(d));
                owner.udf->terminators.push_back(tag);
                return true;
            }
            case kTagFsd: {
                std::array<uint8_t, 464> copy{};
                std::copy(d, d + std::min(available, copy.size()), copy.begin());
                PutLe32(copy.data() + 12, c + TagLocation(d));
                file_sets.push_back(copy);
                const LongAd next = ReadLongAd(copy.data() + 448);
                const bool outside =
                    next.block < extent.block || next.block >= extent.block + n || next.partition != extent.partition;
                const uint64_t key = (uint64_t(next.partition) << 32) | next.block;
                if (next.length != 0 && outside && depth < kMaxChain && !seen.count(key))
                    result = ReadFileSets(next, depth + 1, seen);
                return true;
            }
            default: return false;
        }
    };
    int32_t error = 0;
    if (uint64_t(c) + extent.block > UINT32_MAX) return false;
    if (!WalkSequence(owner, extent.Bytes(), c + extent.block, error, n, action)) {
        if (error != 0) last_error = error;
        return false;
    }
    return result;
}

bool UdfLogicalVolume::AddIcbEntry(const LongAd &icb, const std::string &name) {
    uint32_t start = 0;
    if (!PartitionStart(icb.partition, start)) return false;
    CatalogueEntry entry;
    entry.kind = 33;
    entry.size = icb.Bytes();
    entry.extent = static_cast<uint32_t>(owner.udf->base + start + icb.block);
    entry.sectors = Blocks(entry.size, block_size);
    entry.name = name;
    entries.push_back(std::move(entry));
    return true;
}

bool UdfLogicalVolume::ReadRoots() {
    for (size_t i = 0; i < file_sets.size(); ++i) {
        const LongAd root = ReadLongAd(file_sets[i].data() + 400);
        if (!AddIcbEntry(root, "\\")) return false;
        walked_.clear();
        if (!ReadIcb(root, 0x02, "\\", 0)) return false;
    }
    return true;
}

bool UdfLogicalVolume::ReadIcb(LongAd icb, uint8_t characteristics, const std::string &path, int32_t depth) {
    if ((icb.length & 1) != 0 || icb.Bytes() == 0) return false;
    uint32_t start = 0;
    if (!PartitionStart(icb.partition, start)) return false;
    std::vector<uint8_t> fe;
    if (!ReadBlocks(owner, uint64_t(start) + icb.block, Blocks(icb.Bytes(), block_size), fe, last_error)) return false;
    // Only a File Entry is accepted; an Extended File Entry refuses the volume.
    if (!DescriptorCrcOk(fe.data(), fe.size()) || TagIdentifier(fe.data()) != kTagFe) return false;
    return ProcessFileEntry(fe, icb, uint64_t(start) + icb.block, characteristics, path, depth);
}

bool UdfLogicalVolume::ProcessFileEntry(const std::vector<uint8_t> &fe, LongAd icb, uint64_t icb_sector,
                                        uint8_t characteristics, const std::string &path, int32_t depth) {
    if (fe.size() < kFileEntryFixed) return false;
    const bool directory = fe[27] == 4;
    const uint32_t type = fe[34] & 7;
    const uint64_t ea_length = Le32(fe.data() + 168);
    const uint64_t ad_length = Le32(fe.data() + 172);
    const uint64_t ad_start = kFileEntryFixed + ea_length;
    const int32_t date = TimestampToUnix(fe.data() + 84);
    if (ad_length == 0 || type > 3) return true;  // no data, or descriptors of no defined size

    struct Extent {
        uint32_t bytes;
        uint32_t position;
        uint16_t partition;
        uint64_t offset;  // bytes into the first sector (embedded data)
    };
    std::vector<Extent> list;
    if (type == 3) {
        list.push_back(
            {static_cast<uint32_t>(std::min<uint64_t>(ad_length, kAdLengthMask)), icb.block, icb.partition, ad_start});
    } else {
        const size_t size = type == 0 ? 8 : type == 1 ? 16 : 20;
        // Descriptors are read from the bytes of the entry; a continuation extent (type 3) names the next
        // block of descriptors and is followed rather than listed as data.
        std::vector<uint8_t> more;
        const uint8_t *area = fe.data();
        uint64_t begin = ad_start, end = std::min<uint64_t>(ad_start + ad_length, fe.size());
        uint16_t area_partition = icb.partition;
        for (int32_t hops = 0; begin < end && list.size() < 0xFFFF;) {
            Extent next{};
            bool continuation = false;
            for (uint64_t at = begin; at + size <= end && list.size() < 0xFFFF; at += size) {
                const uint8_t *p = area + at;
                LongAd ad = type == 0   ? LongAd{Le32(p), Le32(p + 4), area_partition}
                            : type == 1 ? ReadLongAd(p)
                                        : ReadExtendedAd(p);
                if (ad.Type() == 3) {
                    next = {ad.Bytes(), ad.block, ad.partition, 0};
                    continuation = true;
                    break;
                }
                list.push_back({ad.Bytes(), ad.block, ad.partition, 0});
            }
            if (!continuation || next.bytes == 0 || ++hops > kMaxAdContinuations) break;
            uint32_t start = 0;
            if (!PartitionStart(next.partition, start)) return false;
            if (!ReadBlocks(owner, uint64_t(start) + next.position, Blocks(next.bytes, block_size), more, last_error))
                return false;
            area = more.data();
            area_partition = next.partition;
            begin = 0;
            end = std::min<uint64_t>(next.bytes, more.size());
        }
    }

    bool result = true;
    const bool walk = directory && depth < kMaxDepth && walked_.insert(icb_sector).second;
    for (size_t k = 0; k < list.size(); ++k) {
        const Extent &e = list[k];
        uint32_t start = 0;
        if (!PartitionStart(e.partition, start)) return false;
        uint64_t sector = uint64_t(start) + e.position;
        if (walk) {
            if (type == 3 && ad_start + ad_length <= std::min<uint64_t>(icb.Bytes(), fe.size())) {
                result = ParseIdentifiers(fe.data() + ad_start, ad_length, path, depth);
            } else if (type == 3) {
                std::vector<uint8_t> data;
                if ((ad_length & 1) != 0 || ad_length > kAdLengthMask) {
                    result = false;
                } else if (!ReadBlocks(owner, sector, Blocks(ad_length + ad_start, block_size), data, last_error)) {
                    result = false;
                } else {
                    const size_t from = static_cast<size_t>(std::min<uint64_t>(ad_start, data.size()));
                    result = ParseIdentifiers(data.data() + from, std::min<uint64_t>(ad_length, data.size() - from),
                                              path, depth);
                }
            } else if ((e.bytes & 1) != 0 || e.bytes == 0) {
                result = false;
            } else {
                std::vector<uint8_t> data;
                result = ReadBlocks(owner, sector, Blocks(e.bytes, block_size), data, last_error) &&
                         ParseIdentifiers(data.data(), std::min<size_t>(e.bytes, data.size()), path, depth);
            }
        }
        CatalogueEntry entry;
        uint64_t offset = e.offset;
        sector += offset / static_cast<uint64_t>(block_size);
        offset %= static_cast<uint64_t>(block_size);
        entry.kind = directory ? 32 : 31;
        entry.size = e.bytes;
        entry.attributes =
            ((characteristics & 0x02) ? kAttributeDirectory : 0) | ((characteristics & 0x01) ? kAttributeHidden : 0);
        entry.extent = static_cast<uint32_t>(owner.udf->base + sector);
        entry.offset_bytes = static_cast<uint32_t>(offset);
        entry.sectors = Blocks(entry.size + offset, block_size);
        entry.extent_count = static_cast<uint16_t>(list.size());
        entry.extent_index = static_cast<uint16_t>(k);
        entry.date = date;
        entry.name = path;
        extents.push_back(std::move(entry));
    }
    return result;
}

bool UdfLogicalVolume::ParseIdentifiers(const uint8_t *data, size_t length, const std::string &path, int32_t depth) {
    for (size_t at = 0; at < length;) {
        const uint8_t *d = data + at;
        const size_t available = length - at;
        if (available < kTagSize) break;
        if (!DescriptorCrcOk(d, available)) {
            // Skipped by its recorded length; one that cannot be measured ends the directory.
            if (available < kFidFixed) break;
            const size_t recorded = (kFidFixed + Le16(d + 36) + d[19] + 3) & ~size_t(3);
            at += recorded;
            continue;
        }
        switch (TagIdentifier(d)) {
            case kTagFid:
                if (!ProcessIdentifier(d, available, path, depth)) return false;
                at += kTagSize + TagCrcLength(d);
                break;
            case kTagEmpty: at += 1; break;
            default: return false;
        }
    }
    return true;
}

bool UdfLogicalVolume::ProcessIdentifier(const uint8_t *fid, size_t available, const std::string &path, int32_t depth) {
    if (available < kFidFixed) return true;
    const uint8_t characteristics = fid[18];
    const size_t name_length = fid[19];
    const size_t name_at = kFidFixed + Le16(fid + 36);
    if (name_length == 0) return true;        // the parent entry
    if (characteristics & 0x04) return true;  // deleted: no file behind it, its ICB may be empty
    if (name_at + name_length > available) return true;
    name.fill(0);
    const int32_t units = Cs0Decode(name_length, fid + name_at, name.data(), name.size());
    if (units <= 0) return true;
    const std::string text = UnitsToText(name.data(), static_cast<size_t>(units));
    if (text.empty() || entries.size() >= kMaxEntries) return true;
    const bool directory = (characteristics & 0x02) != 0;
    std::string child = path + text + (directory ? "\\" : "");
    if (child.size() > kMaxPathLength) return true;
    const LongAd icb = ReadLongAd(fid + 20);
    if (!AddIcbEntry(icb, child)) return false;
    return ReadIcb(icb, characteristics, child, depth + 1);
}

size_t UdfLogicalVolume::AddFiles(Catalogue &files) const {
    size_t added = 0;
    for (const CatalogueEntry &entry : extents) {
        if (entry.attributes & kAttributeDirectory) continue;
        files.push_back(entry);
        ++added;
    }
    return added;
}

}  // namespace qorvex::udf
