// Recognition sequence, anchors, descriptor sequences, space tables and the order of the UDF reading.
#include "udf/udf_reader.h"

#include <algorithm>

#include "image/sector_format.h"
#include "udf/udf_scan.h"

namespace qorvex::udf {

namespace {
constexpr uint32_t kFirstRecognitionSector = 16;
constexpr int32_t kAnchorSector = 256;
// ECMA-167 2/8.4: the recognition sequence starts at byte 32768, each descriptor in a block of its own of at
// least 2048 bytes. UDF 2.60 2.1.5: logical blocks other than 2048 bytes (hard disks, flash memory).
constexpr uint32_t kRecognitionBytes = 32768;
constexpr int32_t kOtherBlockSizes[] = {512, 1024, 4096};
}  // namespace

UdfScan::UdfScan(SectorReader &r, const Limits &limits_in, FsListing &l)
    : reader(r),
      limits(limits_in),
      budget(*limits_in.budget),
      listing(l),
      base(r.Record().start),
      sector_size_(std::max(r.UserSize(), 1)),
      block_(sector_size_) {}

uint64_t UdfScan::BlocksFor(uint64_t bytes) const {
    const uint64_t s = static_cast<uint64_t>(block_);
    return (bytes + s - 1) / s;
}

Status UdfScan::ReadBlocks(uint64_t sector, uint64_t n, std::vector<uint8_t> &out) {
    // A buffer that already has the size is filled over without being cleared first.
    auto fail = [&](Status code) {
        out.clear();
        return code;
    };
    // Blocks of another size: the sectors that hold them, read whole, then cut.
    const uint64_t b = static_cast<uint64_t>(block_), s = static_cast<uint64_t>(sector_size_);
    const bool other = b != s;
    const uint64_t blocks = TrackSectors();
    if (other && (n == 0 || n > blocks || sector > blocks - n)) return fail(Code::kReadFailed);
    const uint64_t first = other ? sector * b / s : sector, skip = other ? sector * b % s : 0;
    const uint64_t count = other ? (skip + n * b + s - 1) / s : n;
    std::vector<uint8_t> &into = other ? sectors_ : out;

    const TrackRecord &track = reader.Record();
    const int64_t absolute = int64_t(track.start) + static_cast<int64_t>(std::min<uint64_t>(first, INT32_MAX));
    if (first > INT32_MAX || absolute > INT32_MAX || !reader.SeekSector(static_cast<int32_t>(absolute)))
        return fail(Code::kSeekFailed);
    const uint64_t track_sectors = static_cast<uint64_t>(std::max<int64_t>(int64_t(track.end) - track.start, 0));
    // Nothing is allocated for a request that cannot be met: past the track, over the caps, or empty.
    if (count == 0 || count > track_sectors || first > track_sectors - count ||
        count * s > static_cast<uint64_t>(kMaxExtentBytes) || static_cast<int64_t>(count * s) > read_budget_)
        return fail(Code::kReadFailed);
    read_budget_ -= static_cast<int64_t>(count * s);
    into.resize(static_cast<size_t>(count * s));
    if (reader.ReadSectors(into.data(), static_cast<int32_t>(count)) == 0) return fail(reader.ReadFailure());
    if (other)
        out.assign(sectors_.begin() + static_cast<ptrdiff_t>(skip),
                   sectors_.begin() + static_cast<ptrdiff_t>(skip + n * b));
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
    const size_t s = static_cast<size_t>(block_);
    const size_t end = std::min<size_t>(length, bytes.Size());
    auto next_descriptor = [&](size_t b) {
        while (b < end && !DescriptorCrcOk(bytes.From(b))) b += s;
        return b;
    };
    // Every block is visited; a terminator does not end the walk. A descriptor's bytes end where the next
    // descriptor begins: a count that runs on (a USD's extents, an LVD's maps) cannot read the descriptors after
    // it, nor can each of a run of such descriptors read the whole rest of the sequence again.
    for (size_t b = next_descriptor(0); b < end;) {
        const size_t next = next_descriptor(b + s);
        if (!action(next < end ? bytes.Sub(b, next - b) : bytes.From(b))) return false;
        b = next;
    }
    return true;
}

uint64_t UdfScan::TrackSectors() const {
    const TrackRecord &track = reader.Record();
    const uint64_t sectors = static_cast<uint64_t>(std::max<int64_t>(int64_t(track.end) - track.start, 0));
    return sectors * static_cast<uint64_t>(sector_size_) / static_cast<uint64_t>(block_);
}

// ECMA-167 2/8.3: the volume recognition sequence from sector 16, a descriptor every `step` sectors; true when
// NSR02 or NSR03 was seen.
bool UdfScan::ReadRecognition(uint32_t step) {
    if (reader.UserSize() < 8 || reader.UserSize() > kMaxStoredSize) return false;
    bea01_ = nsr02_ = nsr03_ = tea01_ = 0;
    if (!reader.SeekSector(reader.Record().start + static_cast<int32_t>(kFirstRecognitionSector)))
        return Fail(Code::kSeekFailed);
    sector_.resize(static_cast<size_t>(reader.MaxUserSize()));
    for (uint32_t sector = kFirstRecognitionSector;; sector += step) {
        if (step > 1 && !reader.SeekSector(reader.Record().start + static_cast<int32_t>(sector)))
            return Fail(Code::kSeekFailed);
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

// An anchor at `block` of the size being tried counts only when its tag names that block: the same bytes
// read with another block size would name another.
bool UdfScan::ReadAnchorBlock(uint64_t block) {
    std::vector<uint8_t> data;
    if (ReadBlocks(block, 1, data).Failed()) return false;
    const ByteView d(data.data(), data.size());
    if (TagIdentifier(d) != kTagAvdp || !DescriptorCrcOk(d)) return false;
    const AnchorPointer anchor = AnchorPointer::Parse(d);
    if (anchor.tag.location != block) return false;
    anchors_.push_back(anchor);
    return true;
}

bool UdfScan::FindBlockSize() {
    if (sector_size_ != kRecognitionBytes / kFirstRecognitionSector) return false;  // 2048-byte sectors only
    const uint32_t recognition[] = {bea01_, nsr02_, nsr03_, tea01_};
    for (int32_t size : kOtherBlockSizes) {
        block_ = size;
        anchors_.clear();
        const uint64_t blocks = TrackSectors();
        if (blocks <= uint64_t(kAnchorSector)) continue;
        ReadAnchorBlock(kAnchorSector);
        ReadAnchorBlock(blocks - 1);
        ReadAnchorBlock(blocks - 1 - kAnchorSector);
        if (anchors_.empty()) continue;
        // The recognition sequence is listed in blocks too.
        uint32_t *ids[] = {&bea01_, &nsr02_, &nsr03_, &tea01_};
        for (size_t i = 0; i < 4; ++i)
            *ids[i] = static_cast<uint32_t>(uint64_t(recognition[i]) * uint64_t(sector_size_) / uint64_t(block_));
        status_ = Status::Ok();
        return true;
    }
    block_ = sector_size_;
    anchors_.clear();
    return false;
}

void UdfScan::ListInSectors() {
    if (block_ == sector_size_) return;
    const uint64_t b = static_cast<uint64_t>(block_), s = static_cast<uint64_t>(sector_size_);
    for (Catalogue *list : {&listing.files, &listing.parts})
        for (CatalogueEntry &e : *list) {
            const uint64_t bytes = (uint64_t(e.extent) - uint64_t(base)) * b + e.offset_bytes;
            const uint64_t span = e.offset_bytes + std::max<uint64_t>(uint64_t(e.sectors) * b, e.size);
            e.extent = static_cast<uint32_t>(uint64_t(base) + bytes / s);
            e.offset_bytes = static_cast<uint32_t>(bytes % s);
            e.sectors = e.sectors == 0 ? 0 : static_cast<uint32_t>((bytes % s + span - e.offset_bytes + s - 1) / s);
        }
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

// With OPEN_SALVAGE: the furthest end the volume records, for a cut image to be told against. The partitions
// count, save one a virtual map stands on (a sequentially written disc's partition takes in the blank rest of
// the medium), and so do the descriptor sequences (a UDF-only writer keeps the reserve one near the end).
void UdfScan::RecordEnds(const AnchorPointer &anchor) {
    auto record = [&](uint64_t blocks) {
        const uint64_t bytes = blocks * static_cast<uint64_t>(block_), s = static_cast<uint64_t>(sector_size_);
        limits.salvage->Recorded(base + static_cast<int64_t>(std::min<uint64_t>((bytes + s - 1) / s, INT32_MAX)));
    };
    for (const auto &pd : partitions_) {
        bool virtual_map = false;
        for (const auto &volume : volumes_)
            for (const AnyPartitionMap &map : volume->lvd.all_maps)
                virtual_map = virtual_map ||
                              (map.kind == MapKind::kVirtual && map.partition_number == pd.descriptor.number);
        if (!virtual_map) record(uint64_t(pd.descriptor.start) + pd.descriptor.length);
    }
    for (const ExtentAd &sequence : {anchor.main, anchor.reserve})
        if (sequence.length != 0) record(sequence.location + BlocksFor(sequence.length));
}

bool UdfScan::Run() {
    // UDF 2.x: a volume of 4096-byte blocks keeps its recognition descriptors 4096 bytes apart.
    const bool others = limits.Has(OPEN_UDF_2X);
    if (!ReadRecognition(1) && !(others && status_.IsOk() && ReadRecognition(2))) return false;
    if (!ReadAnchors() && !(others && FindBlockSize())) return false;
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
    if (limits.salvage) RecordEnds(anchor);
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
        scan.ListInSectors();
        listing.found = !limits.budget->Exhausted();
        if (!listing.found) scan.status_ = Code::kTooLarge;
    } else if (limits.budget->Exhausted()) {
        scan.status_ = Code::kTooLarge;
    }
    if (udf && listing.found) *udf = std::move(listing);
    return scan.status_;
}

}  // namespace qorvex::udf
