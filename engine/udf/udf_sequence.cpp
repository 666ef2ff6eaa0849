// Reading extents, the descriptor sequence walk, the volume descriptor sequence and the space tables.
#include <algorithm>
#include <set>

#include "qorvex.h"
#include "udf/udf_state.h"
#include "udf/udf_tag.h"

namespace qorvex::udf {

uint64_t BlocksFor(const VolumeScanner &scanner, uint64_t bytes) {
    const uint64_t s = static_cast<uint64_t>(std::max(scanner.reader.UserSize(), 1));
    return (bytes + s - 1) / s;
}

bool ReadBlocks(VolumeScanner &scanner, uint64_t sector, uint64_t n, std::vector<uint8_t> &out, int32_t &error) {
    out.clear();
    SectorReader &reader = scanner.reader;
    const TrackRecord &track = reader.Record();
    const int64_t absolute = int64_t(track.start) + static_cast<int64_t>(std::min<uint64_t>(sector, INT32_MAX));
    if (sector > INT32_MAX || absolute > INT32_MAX || !reader.SeekSector(static_cast<int32_t>(absolute))) {
        error = ENGINE_SEEK_FAILED;
        return false;
    }
    const int64_t s = reader.UserSize();
    const uint64_t track_sectors = static_cast<uint64_t>(std::max<int64_t>(int64_t(track.end) - track.start, 0));
    // Nothing is allocated for a request that cannot be met: past the track, over the caps, or empty.
    if (s <= 0 || n == 0 || n > track_sectors || sector > track_sectors - n ||
        n * static_cast<uint64_t>(s) > static_cast<uint64_t>(kMaxExtentBytes) || !scanner.udf ||
        static_cast<int64_t>(n) * s > scanner.udf->budget) {
        error = ENGINE_READ_FAILED;
        return false;
    }
    scanner.udf->budget -= static_cast<int64_t>(n) * s;
    out.resize(static_cast<size_t>(n * static_cast<uint64_t>(s)));
    if (reader.ReadSectors(out.data(), static_cast<int32_t>(n)) == 0) {
        error = scanner.ReadFailureCode();
        out.clear();
        return false;
    }
    return true;
}

bool WalkSequence(VolumeScanner &scanner, uint32_t length, uint32_t sector, int32_t &error, uint64_t &sectors,
                  const BlockAction &action) {
    sectors = BlocksFor(scanner, length);
    std::vector<uint8_t> data;
    if (!ReadBlocks(scanner, sector, sectors, data, error)) return false;
    const size_t s = static_cast<size_t>(scanner.reader.UserSize());
    // Every block is visited; a terminator does not end the walk.
    for (size_t b = 0; b < length && b < data.size(); b += s) {
        const uint8_t *d = data.data() + b;
        if (!DescriptorCrcOk(d, data.size() - b)) continue;
        if (!action(d, data.size() - b)) return false;
    }
    return true;
}

namespace {

bool ReadSequence(VolumeScanner &scanner, uint32_t length, uint32_t sector, int32_t depth, std::set<uint32_t> &seen) {
    UdfState &state = *scanner.udf;
    seen.insert(sector);
    uint64_t n = BlocksFor(scanner, length);
    bool result = true;
    auto action = [&](const uint8_t *d, size_t available) {
        const bool reserve = state.reading_reserve;
        switch (TagIdentifier(d)) {
            case kTagPvd: state.primaries.push_back(CopyDescriptor<490>(d, available, reserve)); break;
            case kTagIuvd: state.implementation_uses.push_back(CopyDescriptor<512>(d, available, reserve)); break;
            case kTagPd: state.partitions.push_back(CopyDescriptor<356>(d, available, reserve)); break;
            case kTagLvd: {
                auto volume = std::make_unique<UdfLogicalVolume>(scanner);
                volume->Load(d, available);
                volume->reserve = reserve;
                state.volumes.push_back(std::move(volume));
                break;
            }
            case kTagUsd: {
                state.unallocated.push_back(CopyDescriptor<24>(d, available, reserve));
                const uint64_t count = available >= 24 ? Le32(d + 20) : 0;
                // The count is bounded by the descriptors actually read.
                for (uint64_t i = 0; i < count && 24 + 8 * i + 8 <= available; ++i)
                    state.free_extents.push_back(ReadExtentAd(d + 24 + 8 * i));
                break;
            }
            case kTagTd: {
                std::array<uint8_t, 16> tag{};
                std::copy(d, d + 16, tag.begin());
                state.terminators.push_back(tag);
                break;
            }
            case kTagVdp: {
                state.pointers.push_back(CopyDescriptor<28>(d, available, reserve));
                if (available < 28) break;
                const ExtentAd next = ReadExtentAd(d + 20);
                const bool outside = next.location < sector || uint64_t(next.location) >= sector + n;
                // A chain that comes back to an extent already walked, or runs too long, is not followed.
                if (next.length != 0 && outside && depth < kMaxChain && !seen.count(next.location))
                    result = ReadSequence(scanner, next.length, next.location, depth + 1, seen);
                break;
            }
            default: break;
        }
        return true;
    };
    int32_t error = 0;
    if (!WalkSequence(scanner, length, sector, error, n, action)) {
        scanner.RecordError(error);
        return false;
    }
    return result;
}

// Reads the first descriptor of a space table named by a partition header short_ad. A zero length
// is an empty table.
bool ReadSpaceTable(VolumeScanner &scanner, uint32_t base, const uint8_t *short_ad, uint16_t wanted) {
    const ShortAd ad = ReadShortAd(short_ad);
    if (ad.Bytes() == 0) return true;
    std::vector<uint8_t> data;
    int32_t error = 0;
    if (!ReadBlocks(scanner, uint64_t(base) + ad.position, BlocksFor(scanner, ad.Bytes()), data, error)) {
        scanner.RecordError(error);
        return false;
    }
    UdfState &state = *scanner.udf;
    if (data.size() < 40 || TagIdentifier(data.data()) != wanted) return true;
    const uint32_t location = base + TagLocation(data.data());
    if (wanted == kTagUse) {
        std::array<uint8_t, 40> record{};
        std::copy(data.begin(), data.begin() + 40, record.begin());
        PutLe32(record.data() + 12, location);
        state.space_entries.push_back(record);
    } else {
        std::array<uint8_t, 24> record{};
        std::copy(data.begin(), data.begin() + 24, record.begin());
        PutLe32(record.data() + 12, location);
        state.space_bitmaps.push_back(record);
    }
    return true;
}

}  // namespace

bool ReadVolumeDescriptorSequence(VolumeScanner &scanner, uint32_t length, uint32_t sector) {
    std::set<uint32_t> seen;
    return ReadSequence(scanner, length, sector, 0, seen);
}

bool ReadSpaceTables(VolumeScanner &scanner) {
    const std::vector<DescriptorCopy<356>> partitions = scanner.udf->partitions;
    for (const auto &pd : partitions) {
        const uint32_t base = Le32(pd.bytes.data() + 188);
        if (!ReadSpaceTable(scanner, base, pd.bytes.data() + 56, kTagUse)) return false;
        if (!ReadSpaceTable(scanner, base, pd.bytes.data() + 64, kTagSbd)) return false;
    }
    return true;
}

}  // namespace qorvex::udf
