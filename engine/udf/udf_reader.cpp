// Recognition sequence, anchors, descriptor sequences, space tables and the order of the UDF reading.
#include "udf/udf_reader.h"

#include <algorithm>

#include "image/sector_format.h"
#include "udf/udf_scan.h"

namespace qorvex::udf {

namespace {
constexpr uint32_t kFirstRecognitionSector = 16;
constexpr int32_t kAnchorSector = 256;
}  // namespace

UdfScan::UdfScan(SectorReader &r, const Limits &limits_in, FsListing &l)
    : reader(r), limits(limits_in), budget(*limits_in.budget), listing(l), base(r.Record().start) {}

uint64_t UdfScan::BlocksFor(uint64_t bytes) const {
    const uint64_t s = static_cast<uint64_t>(std::max(reader.UserSize(), 1));
    return (bytes + s - 1) / s;
}

Status UdfScan::ReadBlocks(uint64_t sector, uint64_t n, std::vector<uint8_t> &out) {
    // A buffer that already has the size is filled over without being cleared first.
    auto fail = [&](Code code) {
        out.clear();
        return code;
    };
    const TrackRecord &track = reader.Record();
    const int64_t absolute = int64_t(track.start) + static_cast<int64_t>(std::min<uint64_t>(sector, INT32_MAX));
    if (sector > INT32_MAX || absolute > INT32_MAX || !reader.SeekSector(static_cast<int32_t>(absolute)))
        return fail(Code::kSeekFailed);
    const int64_t s = reader.UserSize();
    const uint64_t track_sectors = static_cast<uint64_t>(std::max<int64_t>(int64_t(track.end) - track.start, 0));
    // Nothing is allocated for a request that cannot be met: past the track, over the caps, or empty.
    if (s <= 0 || n == 0 || n > track_sectors || sector > track_sectors - n ||
        n * static_cast<uint64_t>(s) > static_cast<uint64_t>(kMaxExtentBytes) ||
        static_cast<int64_t>(n) * s > read_budget_)
        return fail(Code::kReadFailed);
    read_budget_ -= static_cast<int64_t>(n) * s;
    out.resize(static_cast<size_t>(n * static_cast<uint64_t>(s)));
    if (reader.ReadSectors(out.data(), static_cast<int32_t>(n)) == 0) {
        out.clear();
        return reader.ReadFailure();
    }
    return Status::Ok();
}

Status UdfScan::WalkSequence(uint32_t length, uint32_t sector, uint64_t &sectors, const BlockAction &action) {
    sectors = BlocksFor(length);
    std::vector<uint8_t> data;
    QORVEX_TRY(ReadBlocks(sector, sectors, data));
    if (!WalkBlocks(length, ByteView(data.data(), data.size()), action)) return Code::kReadFailed;
    return Status::Ok();
}

bool UdfScan::WalkBlocks(uint32_t length, ByteView bytes, const BlockAction &action) const {
    const size_t s = static_cast<size_t>(std::max(reader.UserSize(), 1));
    // Every block is visited; a terminator does not end the walk.
    for (size_t b = 0; b < length && b < bytes.Size(); b += s) {
        const ByteView d = bytes.From(b);
        if (!DescriptorCrcOk(d)) continue;
        if (!action(d)) return false;
    }
    return true;
}

uint64_t UdfScan::TrackSectors() const {
    const TrackRecord &track = reader.Record();
    return static_cast<uint64_t>(std::max<int64_t>(int64_t(track.end) - track.start, 0));
}

// ECMA-167 2/8.3: the volume recognition sequence from sector 16; true when NSR02 or NSR03 was seen.
bool UdfScan::ReadRecognition() {
    if (reader.UserSize() < 8 || reader.UserSize() > kMaxStoredSize) return false;
    if (!reader.SeekSector(reader.Record().start + static_cast<int32_t>(kFirstRecognitionSector)))
        return Fail(Code::kSeekFailed);
    sector_.resize(static_cast<size_t>(reader.MaxUserSize()));
    for (uint32_t sector = kFirstRecognitionSector;; ++sector) {
        if (reader.ReadSectors(sector_.data(), 1) == 0) return Fail(reader.ReadFailure());
        const ByteView d(sector_.data(), static_cast<size_t>(reader.UserSize()));
        if (d.Matches(1, "BEA01")) {
            bea01_ = sector;
        } else if (d.Matches(1, "NSR02")) {
            nsr02_ = sector;
        } else if (d.Matches(1, "NSR03")) {
            nsr03_ = sector;
        } else if (d.Matches(1, "TEA01")) {
            tea01_ = sector;
        } else if (!d.Matches(1, "CD001") && !d.Matches(1, "BOOT2") && !d.Matches(1, "CDW02")) {
            break;
        }
        if (tea01_ != 0) break;
    }
    return nsr02_ != 0 || nsr03_ != 0;
}

bool UdfScan::ReadAnchor(bool seek_ok) {
    if (!seek_ok) return Fail(Code::kSeekFailed);
    if (reader.ReadSectors(sector_.data(), 1) == 0) return Fail(reader.ReadFailure());
    const ByteView d(sector_.data(), static_cast<size_t>(reader.UserSize()));
    if (TagIdentifier(d) == kTagAvdp && DescriptorCrcOk(d)) anchors_.push_back(AnchorPointer::Parse(d));
    return true;
}

// UDF 2.2.3: anchors at sector 256, the last sector and the one 256 before it; every position must be readable.
bool UdfScan::ReadAnchors() {
    if (!ReadAnchor(reader.SeekSector(reader.Record().start + kAnchorSector))) return false;
    if (!ReadAnchor(reader.SeekFromEnd(-1))) return false;
    if (!ReadAnchor(reader.SeekFromEnd(-1 - kAnchorSector))) return false;
    return !anchors_.empty();
}

bool UdfScan::ReadSequence(uint32_t length, uint32_t sector, int32_t depth, std::unordered_set<uint32_t> &seen) {
    seen.insert(sector);
    uint64_t n = BlocksFor(length);
    bool result = true;
    auto action = [&](ByteView d) {
        const bool reserve = reading_reserve_;
        switch (TagIdentifier(d)) {
            case kTagPvd: primaries_.push_back({PrimaryVolumeDescriptor::Parse(d), reserve}); break;
            case kTagIuvd: implementation_uses_.push_back({Tag::Parse(d), reserve}); break;
            case kTagPd: partitions_.push_back({PartitionDescriptor::Parse(d), reserve}); break;
            case kTagLvd:
                volumes_.push_back(std::make_unique<LogicalVolume>(*this, LogicalVolumeDescriptor::Parse(d), reserve));
                break;
            case kTagUsd: {
                UnallocatedSpaceDescriptor usd = UnallocatedSpaceDescriptor::Parse(d);
                free_extents_.insert(free_extents_.end(), usd.extents.begin(), usd.extents.end());
                usd.extents.clear();
                unallocated_.push_back({std::move(usd), reserve});
                break;
            }
            case kTagTd: terminators.push_back(Tag::Parse(d).location); break;
            case kTagVdp: {
                const VolumeDescriptorPointer vdp = VolumeDescriptorPointer::Parse(d);
                pointers_.push_back(vdp.tag);
                if (!d.Has(0, 28)) break;
                const ExtentAd next = vdp.next;
                const bool outside = next.location < sector || uint64_t(next.location) >= sector + n;
                // A chain that comes back to an extent already walked, or runs too long, is not followed.
                if (next.length != 0 && outside && depth < kMaxChain && !seen.count(next.location))
                    result = ReadSequence(next.length, next.location, depth + 1, seen);
                break;
            }
            default: break;
        }
        return true;
    };
    if (const Status status = WalkSequence(length, sector, n, action); status.Failed()) return Fail(status);
    return result;
}

// ECMA-167 4/14.3: the first descriptor of a space table named by a partition header. A zero length is an
// empty table.
bool UdfScan::ReadSpaceTable(uint32_t start, const LongAd &table, uint16_t wanted) {
    if (table.Bytes() == 0) return true;
    std::vector<uint8_t> data;
    if (const Status status = ReadBlocks(uint64_t(start) + table.block, BlocksFor(table.Bytes()), data);
        status.Failed())
        return Fail(status);
    const ByteView d(data.data(), data.size());
    if (data.size() < 40 || TagIdentifier(d) != wanted) return true;
    if (wanted == kTagUse) {
        SpaceEntry use = SpaceEntry::Parse(d);
        use.tag.location += start;
        space_entries_.push_back(use);
    } else {
        SpaceBitmap sbd = SpaceBitmap::Parse(d);
        sbd.tag.location += start;
        space_bitmaps_.push_back(sbd);
    }
    return true;
}

bool UdfScan::ReadSpaceTables() {
    const std::vector<Recorded<PartitionDescriptor>> partitions = partitions_;
    for (const auto &pd : partitions) {
        if (!ReadSpaceTable(pd.descriptor.start, pd.descriptor.unallocated_table, kTagUse)) return false;
        if (!ReadSpaceTable(pd.descriptor.start, pd.descriptor.unallocated_bitmap, kTagSbd)) return false;
    }
    return true;
}

bool UdfScan::Run() {
    if (!ReadRecognition()) return false;
    if (!ReadAnchors()) return false;
    const AnchorPointer &anchor = anchors_.front();
    std::unordered_set<uint32_t> seen;
    bool reserve_as_main = false;
    if (!ReadSequence(anchor.main.length, anchor.main.location, 0, seen) || volumes_.empty()) {
        // With OPEN_SALVAGE the reserve sequence stands in for a main one that cannot be read.
        const ExtentAd &reserve = anchor.reserve;
        if (!limits.salvage || reserve.length == 0 || reserve.location == anchor.main.location) return false;
        primaries_.clear(), implementation_uses_.clear(), partitions_.clear(), volumes_.clear();
        unallocated_.clear(), free_extents_.clear(), terminators.clear(), pointers_.clear();
        std::unordered_set<uint32_t> reserve_seen;
        if (!ReadSequence(reserve.length, reserve.location, 0, reserve_seen) || volumes_.empty()) return false;
        limits.salvage->Failed("UDF: the main volume descriptor sequence could not be read; the reserve one was used");
        reserve_as_main = true;
    }
    const size_t main_volumes = volumes_.size();
    for (size_t i = 0; i < main_volumes; ++i)
        if (!volumes_[i]->Read()) return false;
    (void)ReadSpaceTables();  // a failure leaves its code, but the volume stands
    reserve_read_ = false;
    const ExtentAd &reserve = anchor.reserve;
    if (!reserve_as_main && reserve.length != 0 &&
        (reserve.length != anchor.main.length || reserve.location != anchor.main.location)) {
        reading_reserve_ = true;
        std::unordered_set<uint32_t> reserve_seen;
        if (ReadSequence(reserve.length, reserve.location, 0, reserve_seen)) reserve_read_ = true;
        reading_reserve_ = false;
    }
    return true;
}

Status ReadUdf(SectorReader &reader, const Limits &limits, FsListing *udf) {
    FsListing listing;
    UdfScan scan(reader, limits, listing);
    if (scan.Run()) {
        scan.BuildList();
        listing.found = !limits.budget->Exhausted();
        if (!listing.found) scan.status_ = Code::kTooLarge;
    } else if (limits.budget->Exhausted()) {
        scan.status_ = Code::kTooLarge;
    }
    if (udf && listing.found) *udf = std::move(listing);
    return scan.status_;
}

}  // namespace qorvex::udf
