// A logical volume: partitions, integrity sequence, file set sequence, and the directory trees.
#include <algorithm>

#include "platform/text.h"

#include "udf/udf_scan.h"

namespace qorvex::udf {

namespace {

uint32_t Blocks(uint64_t bytes, int32_t s) {
    return static_cast<uint32_t>((bytes + s - 1) / s);
}

// The size of one allocation descriptor of an ICB's descriptor type (4/14.6.8): short, long, extended.
size_t AdSize(uint8_t ad_type) {
    return ad_type == 0 ? 8 : ad_type == 1 ? 16 : 20;
}

constexpr uint8_t kAdEmbedded = 3;  // the data is recorded in the entry itself

}  // namespace

LogicalVolume::LogicalVolume(UdfScan &scan, const LogicalVolumeDescriptor &descriptor, bool from_reserve)
    : lvd(descriptor),
      reserve(from_reserve),
      scan_(scan),
      block_size_(scan.BlockSize()),
      extended_(scan.limits.Has(OPEN_UDF_2X)) {}

bool LogicalVolume::Keep(Catalogue &list, const CatalogueEntry &entry) {
    return Append(list, entry, scan_.budget);
}

bool LogicalVolume::ReadBlocks(uint64_t sector, uint64_t n, std::vector<uint8_t> &out) {
    return scan_.ReadBlocks(sector, n, out).IsOk();
}

bool LogicalVolume::PartitionStart(uint16_t reference, uint32_t &start) const {
    if (reference >= partition_starts_.size()) return false;
    start = partition_starts_[reference];
    return true;
}

bool LogicalVolume::Read() {
    if (!(extended_ ? ResolveAllMaps() : ResolvePartitions())) return false;
    std::unordered_set<uint32_t> seen_integrity;
    if (!ReadIntegrity(lvd.integrity, 0, seen_integrity)) return false;
    if ((lvd.file_set.length & 1) != 0 || lvd.file_set.Bytes() == 0) return false;
    std::unordered_set<uint64_t> seen_sets;
    if (!ReadFileSets(lvd.file_set, 0, seen_sets)) return false;
    return ReadRoots();
}

// Each map's partition number names a partition descriptor; the reference number is the map's index.
bool LogicalVolume::ResolvePartitions() {
    partition_starts_.assign(lvd.maps.size(), 0);
    const auto &partitions = scan_.Partitions();
    for (size_t i = 0; i < lvd.maps.size(); ++i) {
        const uint16_t number = lvd.maps[i].partition_number;
        auto pd = std::find_if(partitions.begin(), partitions.end(),
                               [&](const auto &p) { return p.descriptor.number == number; });
        if (pd == partitions.end()) return false;
        partition_starts_[i] = pd->descriptor.start;
    }
    return true;
}

bool LogicalVolume::ReadIntegrity(ExtentAd extent, int32_t depth, std::unordered_set<uint32_t> &seen) {
    if (extent.length == 0 || extent.location == 0) return false;
    seen.insert(extent.location);
    bool result = true;
    uint64_t n = scan_.BlocksFor(extent.length);
    auto action = [&](ByteView d) {
        switch (TagIdentifier(d)) {
            case kTagEmpty: return true;
            case kTagTd: scan_.terminators.push_back(Tag::Parse(d).location); return true;
            case kTagLvid: {
                const IntegrityDescriptor lvid = IntegrityDescriptor::Parse(d);
                integrity.push_back(lvid);
                const ExtentAd next = lvid.next;
                const bool outside = next.location < extent.location || next.location >= extent.location + n;
                if (next.length != 0 && outside && depth < kMaxChain && !seen.count(next.location))
                    result = ReadIntegrity(next, depth + 1, seen);
                return true;
            }
            default: return false;
        }
    };
    return scan_.WalkSequence(extent.length, extent.location, n, action).IsOk() && result;
}

bool LogicalVolume::ReadFileSets(LongAd extent, int32_t depth, std::unordered_set<uint64_t> &seen) {
    if ((extent.length & 1) != 0 || extent.Bytes() == 0) return false;
    uint64_t first = 0, run = 0;
    if (!Translate(extent.partition, extent.block, first, run)) return false;
    const bool contiguous = run == UINT32_MAX;
    // A descriptor's place as listed: its recorded location in the partition, mapped.
    auto located = [&](uint32_t location) -> uint32_t {
        if (contiguous) return static_cast<uint32_t>(first - extent.block + location);
        uint64_t sector = 0, n = 0;
        return Translate(extent.partition, location, sector, n) ? static_cast<uint32_t>(sector) : 0;
    };
    seen.insert((uint64_t(extent.partition) << 32) | extent.block);
    bool result = true;
    uint64_t n = scan_.BlocksFor(extent.Bytes());
    auto action = [&](ByteView d) {
        switch (TagIdentifier(d)) {
            case kTagEmpty: return true;
            case kTagTd: scan_.terminators.push_back(located(Tag::Parse(d).location)); return true;
            case kTagFsd: {
                FileSetDescriptor fsd = FileSetDescriptor::Parse(d);
                fsd.tag.location = located(fsd.tag.location);
                file_sets.push_back(fsd);
                const LongAd next = fsd.next;
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
    if (first > UINT32_MAX) return false;
    if (run >= n) return scan_.WalkSequence(extent.Bytes(), static_cast<uint32_t>(first), n, action).IsOk() && result;
    std::vector<uint8_t> data;
    return ReadRef(extent.partition, extent.block, extent.Bytes(), data) &&
           scan_.WalkBlocks(extent.Bytes(), ByteView(data.data(), data.size()), action) && result;
}

bool LogicalVolume::AddIcbEntry(const LongAd &icb, std::string_view name) {
    uint64_t sector = 0, run = 0;
    if (!Translate(icb.partition, icb.block, sector, run)) return false;
    CatalogueEntry entry;
    entry.kind = EntryKind::kUdfIcb;
    entry.size = icb.Bytes();
    entry.extent = static_cast<uint32_t>(scan_.base + sector);
    entry.sectors = Blocks(entry.size, block_size_);
    entry.name = name;
    return Keep(entries, entry);
}

bool LogicalVolume::ReadRoots() {
    const std::string_view root_path = scan_.listing.names.Add("\\", scan_.budget);
    for (const FileSetDescriptor &fsd : file_sets) {
        if (!AddIcbEntry(fsd.root, root_path)) return false;
        walked_.clear();
        if (!ReadIcb(fsd.root, kFidDirectory, root_path, 0)) return false;
    }
    return true;
}

std::vector<uint8_t> &LogicalVolume::EntryBuffer(int32_t depth) {
    const size_t level = static_cast<size_t>(std::max(depth, 0));
    while (entry_buffers_.size() <= level) entry_buffers_.emplace_back();
    return entry_buffers_[level];
}

bool LogicalVolume::ReadIcb(LongAd icb, uint8_t characteristics, std::string_view path, int32_t depth) {
    if ((icb.length & 1) != 0 || icb.Bytes() == 0) return false;
    // The entries of one level share a buffer; one that grew large for a single entry is let go afterwards.
    std::vector<uint8_t> &fe = EntryBuffer(depth);
    struct KeepSmall {
        std::vector<uint8_t> &buffer;
        ~KeepSmall() {
            if (buffer.capacity() > kKeptEntryBytes) std::vector<uint8_t>().swap(buffer);
        }
    } keep_small{fe};
    LongAd entry_icb = icb;
    bool checked = false;
    if (!ReadEntry(entry_icb, fe, checked)) return false;
    // Only a File Entry is accepted in the described reading; an Extended File Entry refuses the volume.
    auto is_entry = [&] {
        const ByteView bytes(fe.data(), fe.size());
        const uint16_t id = TagIdentifier(bytes);
        return DescriptorCrcOk(bytes) && (id == kTagFe || (extended_ && id == kTagEfe));
    };
    if (!checked && !is_entry()) {
        // Some writers record a metadata partition's ICBs under the reference of the partition below it (or
        // the other way round): the other reading of the reference is tried once.
        uint16_t other = 0;
        if (!OtherReference(icb.partition, other)) return false;
        entry_icb = {icb.length, icb.block, other};
        if (!ReadEntry(entry_icb, fe, checked) || (!checked && !is_entry())) return false;
    }
    uint64_t sector = 0, run = 0;
    if (!Translate(entry_icb.partition, entry_icb.block, sector, run)) return false;
    return ProcessFileEntry(fe, entry_icb, sector, characteristics, path, depth);
}

bool LogicalVolume::OtherReference(uint16_t reference, uint16_t &other) const {
    if (!extended_ || reference >= mapped_.size()) return false;
    const MappedPartition &m = mapped_[reference];
    if (m.kind == MapKind::kMetadata) {
        other = m.physical_reference;
        return other != reference && mapped_[other].usable;
    }
    for (size_t i = 0; i < mapped_.size(); ++i)
        if (i != reference && mapped_[i].kind == MapKind::kMetadata && mapped_[i].usable &&
            mapped_[i].physical_reference == reference) {
            other = static_cast<uint16_t>(i);
            return true;
        }
    return false;
}

// The extents of a file entry: its allocation descriptors, following continuation extents (type 3) rather than
// listing them as data; embedded data is one extent inside the entry.
bool LogicalVolume::CollectExtents(const std::vector<uint8_t> &fe, const FileEntry &entry, LongAd icb,
                                   std::vector<Extent> &list) {
    const uint64_t ad_start = entry.AdStart();
    if (entry.ad_type == kAdEmbedded) {
        list.push_back({static_cast<uint32_t>(std::min<uint64_t>(entry.ad_length, kAdLengthMask)), icb.block,
                        icb.partition, ad_start});
        return true;
    }
    const size_t size = AdSize(entry.ad_type);
    std::vector<uint8_t> more;
    ByteView area(fe.data(), fe.size());
    uint64_t begin = ad_start, end = std::min<uint64_t>(ad_start + entry.ad_length, fe.size());
    uint16_t area_partition = icb.partition;
    for (int32_t hops = 0; begin < end && list.size() < 0xFFFF;) {
        Extent next{};
        bool continuation = false;
        for (uint64_t at = begin; at + size <= end && list.size() < 0xFFFF; at += size) {
            const size_t p = static_cast<size_t>(at);
            const LongAd ad = entry.ad_type == 0   ? LongAd::ParseShort(area, p, area_partition)
                              : entry.ad_type == 1 ? LongAd::ParseLong(area, p)
                                                   : LongAd::ParseExtended(area, p);
            if (ad.Type() == kAdTypeContinuation) {
                next = {ad.Bytes(), ad.block, ad.partition, 0};
                continuation = true;
                break;
            }
            if (!Append(list, Extent{ad.Bytes(), ad.block, ad.partition, 0}, scan_.budget)) return false;
        }
        if (!continuation || next.bytes == 0 || ++hops > kMaxAdContinuations) break;
        if (!ReadRef(next.partition, next.position, next.bytes, more)) return false;
        area = ByteView(more.data(), more.size());
        area_partition = next.partition;
        begin = 0;
        end = std::min<uint64_t>(next.bytes, more.size());
    }
    return true;
}

// Reads the identifiers a folder's extent holds (or, for embedded data, the entry's own bytes).
bool LogicalVolume::WalkFolderExtent(const std::vector<uint8_t> &fe, const FileEntry &entry, LongAd icb,
                                     const Extent &extent, std::string_view path, int32_t depth) {
    const uint64_t ad_start = entry.AdStart(), ad_length = entry.ad_length;
    uint64_t sector = 0, run = 0;
    if (!Translate(extent.partition, extent.position, sector, run)) return false;
    std::vector<uint8_t> data;
    if (entry.ad_type == kAdEmbedded) {
        if (ad_start + ad_length <= std::min<uint64_t>(icb.Bytes(), fe.size()))
            return ParseIdentifiers(ByteView(fe.data(), fe.size()).Sub(static_cast<size_t>(ad_start), ad_length), path,
                                    depth);
        if ((ad_length & 1) != 0 || ad_length > kAdLengthMask) return false;
        if (!ReadRef(extent.partition, extent.position, ad_length + ad_start, data)) return false;
        const size_t from = static_cast<size_t>(std::min<uint64_t>(ad_start, data.size()));
        return ParseIdentifiers(ByteView(data.data(), data.size()).Sub(from, ad_length), path, depth);
    }
    if ((extent.bytes & 1) != 0 || extent.bytes == 0) return false;
    return ReadRef(extent.partition, extent.position, extent.bytes, data) &&
           ParseIdentifiers(ByteView(data.data(), data.size()).Sub(0, extent.bytes), path, depth);
}

bool LogicalVolume::ProcessFileEntry(const std::vector<uint8_t> &fe, LongAd icb, uint64_t icb_sector,
                                     uint8_t characteristics, std::string_view path, int32_t depth) {
    if (fe.size() < FileEntry::kFixedSize) return false;
    const FileEntry entry = FileEntry::Parse(ByteView(fe.data(), fe.size()));
    const bool directory = entry.file_type == kFileTypeDirectory;
    // Every ICB is listed right before it is read, so the last listed entry is this one: it takes the entry's
    // date, which folders and files without data have nowhere else (the described record shows 0).
    if (!entries.empty()) entries.back().date = entry.modified;
    if (entry.ad_length == 0 || entry.ad_type > kAdEmbedded) return true;  // no data, or descriptors of no defined size
    if (entry.extended) {
        // Attributes and descriptors that run past the entry leave it without data.
        if (fe.size() < entry.FixedSize() || entry.AdStart() > fe.size() ||
            entry.ad_length > fe.size() - entry.AdStart())
            return true;
    }
    // Stream directories and the volume's own files (VAT, metadata files) are not files of the tree.
    if (extended_ && (entry.file_type == kFileTypeStreamDirectory || entry.file_type >= kFileTypeVat)) return true;

    std::vector<Extent> list;
    if (!CollectExtents(fe, entry, icb, list)) return false;

    bool result = true;
    const bool walk = directory && depth < kMaxDepth && walked_.insert(icb_sector).second;
    if (directory && depth >= kMaxDepth) ++scan_.listing.skipped_folders;
    std::vector<Piece> pieces;
    for (const Extent &e : list) {
        uint64_t sector = 0, run = 0;
        if (!Translate(e.partition, e.position, sector, run)) return false;
        if (walk) result = WalkFolderExtent(fe, entry, icb, e, path, depth);
        if (!AddPieces(e, pieces)) return false;
    }
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece &piece = pieces[k];
        CatalogueEntry extent;
        extent.kind = directory ? EntryKind::kUdfFolderExtent : EntryKind::kUdfFileExtent;
        extent.size = piece.bytes;
        extent.attributes = ((characteristics & kFidDirectory) ? kAttributeDirectory : 0) |
                            ((characteristics & kFidHidden) ? kAttributeHidden : 0);
        extent.extent = static_cast<uint32_t>(scan_.base + piece.sector);
        extent.offset_bytes = piece.offset;
        extent.sectors = Blocks(extent.size + piece.offset, block_size_);
        extent.extent_count = static_cast<uint16_t>(pieces.size());
        extent.extent_index = static_cast<uint16_t>(k);
        extent.date = entry.modified;
        extent.name = path;
        // A file's extents go straight to the file list (volumes are read in the order they are listed);
        // a folder's are listed among the system parts, behind the volume's other parts.
        if (!Keep((extent.attributes & kAttributeDirectory) ? extents : scan_.listing.files, extent)) return false;
    }
    return result;
}

// An extent as runs of consecutive track sectors: one run in a physical partition, possibly several where a
// map moves blocks (VAT, spared packets, metadata file). A file keeps at most 0xFFFF of them.
bool LogicalVolume::AddPieces(const Extent &e, std::vector<Piece> &pieces) {
    const uint64_t s = static_cast<uint64_t>(block_size_);
    uint64_t block = uint64_t(e.position) + e.offset / s;
    uint32_t offset = static_cast<uint32_t>(e.offset % s);
    uint64_t sector = 0, run = 0;
    if (!Translate(e.partition, e.position, sector, run)) return false;
    if (run == UINT32_MAX || e.bytes == 0) {
        sector += e.offset / s;
        if (run != UINT32_MAX && (block > UINT32_MAX || !Translate(e.partition, uint32_t(block), sector, run)))
            return false;
        return pieces.size() >= 0xFFFF || Append(pieces, Piece{sector, offset, e.bytes}, scan_.budget);
    }
    const size_t first = pieces.size();
    for (uint64_t left = e.bytes; left > 0 && pieces.size() < 0xFFFF;) {
        if (block > UINT32_MAX || !Translate(e.partition, static_cast<uint32_t>(block), sector, run)) return false;
        const uint64_t bytes = std::min<uint64_t>(left, run * s - offset);
        if (pieces.size() > first && offset == 0 && pieces.back().sector + pieces.back().Blocks(s) == sector &&
            pieces.back().bytes % s == 0 && pieces.back().offset == 0) {
            pieces.back().bytes += bytes;  // the next block lies right after: one run
        } else if (!Append(pieces, Piece{sector, offset, bytes}, scan_.budget)) {
            return false;
        }
        left -= bytes;
        block += run;
        offset = 0;
    }
    return true;
}

bool LogicalVolume::ParseIdentifiers(ByteView data, std::string_view path, int32_t depth) {
    // A skipped identifier moves on by a few bytes, so a hostile folder can have a long CRC tested at every
    // few bytes: the window CRCs keep that linear.
    WindowCrc crcs(data);
    for (size_t at = 0; at < data.Size();) {
        const ByteView d = data.From(at);
        if (d.Size() < kTagSize) break;
        // Sixteen zero bytes are a block that passes its CRC with identifier 0 and moves on by one byte; a run
        // of zeros is passed at once, up to the tag its last 15 bytes begin.
        const size_t zeros = data.SkipZeros(at, data.Size()) - at;
        if (zeros >= kTagSize) {
            at += zeros - (kTagSize - 1);
            continue;
        }
        if (!DescriptorCrcOk(crcs, at)) {
            // Skipped by its recorded length; one that cannot be measured ends the directory.
            if (d.Size() < FileIdentifier::kFixedSize) break;
            at += FileIdentifier::Parse(d).RecordedLength();
            continue;
        }
        switch (TagIdentifier(d)) {
            case kTagFid:
                if (!ProcessIdentifier(d, path, depth)) return false;
                at += kTagSize + Tag::Parse(d).crc_length;
                break;
            case kTagEmpty: at += 1; break;
            default: return false;
        }
    }
    return true;
}

bool LogicalVolume::ProcessIdentifier(ByteView d, std::string_view path, int32_t depth) {
    if (d.Size() < FileIdentifier::kFixedSize) return true;
    const FileIdentifier fid = FileIdentifier::Parse(d);
    if (fid.identifier_length == 0) return true;         // the parent entry
    if (fid.characteristics & kFidDeleted) return true;  // no file behind it, its ICB may be empty
    if (!d.Has(fid.IdentifierAt(), fid.identifier_length)) return true;
    std::array<char16_t, 256> name;
    const int32_t units = Cs0Decode(fid.identifier_length, d.Data() + fid.IdentifierAt(), name.data(), name.size());
    if (units <= 0) return true;
    // The name up to its first zero unit, put behind the folder's path.
    const size_t count = static_cast<size_t>(units);
    const size_t end = static_cast<size_t>(std::find(name.data(), name.data() + count, u'\0') - name.data());
    path_.assign(path);
    platform::AppendMultiByte(std::u16string_view(name.data(), end), path_);
    if (path_.size() == path.size() || entries.size() >= kMaxEntries) return true;
    const bool directory = (fid.characteristics & kFidDirectory) != 0;
    if (path_.size() + (directory ? 1 : 0) > kMaxPathLength) return true;
    if (directory) path_ += '\\';
    // The path is stored once; the entry and every extent of the file refer to it.
    const std::string_view child = scan_.listing.names.Add(path_, scan_.budget);
    if (child.empty()) return false;
    if (!AddIcbEntry(fid.icb, child)) return false;
    if (ReadIcb(fid.icb, fid.characteristics, child, depth + 1)) return true;
    // With OPEN_SALVAGE an entry that cannot be read is noted and the folder goes on.
    SalvageNotes *salvage = scan_.limits.salvage;
    if (!salvage || scan_.budget.Exhausted()) return false;
    salvage->Failed("UDF: " + std::string(child) + " could not be read");
    return true;
}

}  // namespace qorvex::udf
