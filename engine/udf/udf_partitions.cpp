// UDF 2.x partition maps: physical, virtual (VAT), sparable and metadata partitions, and the mapping of a
// (reference, block) address to a track sector through each of them.
#include <algorithm>
#include <cstdio>

#include "udf/udf_scan.h"

namespace qorvex::udf {

namespace {

constexpr uint8_t kAdEmbedded = 3;

size_t AdSize(uint8_t ad_type) {
    return ad_type == 0 ? 8 : ad_type == 1 ? 16 : 20;
}

}  // namespace

void LogicalVolume::AddPart(const VolumePart &part) {
    // A part that cannot be kept is left out; the budget's refusal fails the listing later.
    (void)Append(parts, part, scan_.budget);
}

bool LogicalVolume::Translate(uint16_t reference, uint32_t block, uint64_t &sector, uint64_t &run) const {
    if (!extended_) {
        uint32_t start = 0;
        if (!PartitionStart(reference, start)) return false;
        sector = uint64_t(start) + block;
        run = UINT32_MAX;
        return true;
    }
    if (reference >= mapped_.size() || !mapped_[reference].usable) return false;
    const MappedPartition &m = mapped_[reference];
    switch (m.kind) {
        case MapKind::kPhysical:
            sector = uint64_t(m.start) + block;
            run = UINT32_MAX;
            return true;
        case MapKind::kVirtual: {
            // Each virtual block is mapped on its own; an unused entry or one outside the partition is no block.
            if (block >= m.vat.size() || m.vat[block] == kVatUnused || m.vat[block] >= m.length) return false;
            sector = uint64_t(m.start) + m.vat[block];
            run = 1;
            return true;
        }
        case MapKind::kSparable: {
            if (block >= m.length) return false;
            const uint32_t within = block % m.packet;
            run = m.packet - within;
            const auto moved = m.spared.find(block - within);
            sector = moved == m.spared.end() ? uint64_t(m.start) + block : uint64_t(moved->second) + within;
            return true;
        }
        case MapKind::kMetadata: {
            // The run holding the block: the last whose first block is not past it.
            const auto next = std::upper_bound(m.run_starts.begin(), m.run_starts.end(), uint64_t(block));
            if (next == m.run_starts.begin()) return false;
            const size_t k = static_cast<size_t>(next - m.run_starts.begin()) - 1;
            const uint64_t within = block - m.run_starts[k];
            if (within >= m.runs[k].count) return false;
            sector = m.runs[k].sector + within;
            run = m.runs[k].count - within;
            return true;
        }
        case MapKind::kUnknown: break;
    }
    return false;
}

bool LogicalVolume::ReadRef(uint16_t reference, uint32_t block, uint64_t bytes, std::vector<uint8_t> &out) {
    const uint64_t blocks = (bytes + block_size_ - 1) / block_size_;
    uint64_t sector = 0, run = 0;
    if (blocks == 0 || !Translate(reference, block, sector, run)) {
        out.clear();
        return false;
    }
    if (run >= blocks) return ReadBlocks(sector, blocks, out);
    out.clear();
    // Pieced together run by run; the caps of one read apply to the whole.
    if (blocks * static_cast<uint64_t>(block_size_) > static_cast<uint64_t>(kMaxExtentBytes)) return false;
    std::vector<uint8_t> piece;
    for (uint64_t done = 0; done < blocks;) {
        if (block + done > UINT32_MAX || !Translate(reference, static_cast<uint32_t>(block + done), sector, run))
            return false;
        const uint64_t n = std::min(run, blocks - done);
        if (!ReadBlocks(sector, n, piece)) return false;
        out.insert(out.end(), piece.begin(), piece.end());
        done += n;
    }
    return true;
}

// Strategy 4096: the entry at the ICB's block, then at the next block either a newer entry or an indirect
// entry naming the ICB that continues the chain. The newest entry read wins; a block that is neither ends
// the chain (it is not written yet).
bool LogicalVolume::ReadEntry(LongAd &icb, std::vector<uint8_t> &fe, bool &entry_checked) {
    entry_checked = false;
    if (!ReadRef(icb.partition, icb.block, icb.Bytes(), fe)) return false;
    auto is_entry = [&](const std::vector<uint8_t> &d) {
        const ByteView b(d.data(), d.size());
        const uint16_t id = TagIdentifier(b);
        return DescriptorCrcOk(b) && (id == kTagFe || (extended_ && id == kTagEfe));
    };
    if (!extended_ || !is_entry(fe)) return true;  // the caller decides on what was read
    entry_checked = true;                          // and stays so: only a checked entry replaces it below
    if (FileEntry::Parse(ByteView(fe.data(), fe.size())).strategy != kStrategyTwoEntries) return true;
    std::unordered_set<uint64_t> seen{(uint64_t(icb.partition) << 32) | icb.block};
    std::vector<uint8_t> next;
    for (int32_t hops = 0; hops < kMaxIcbChain; ++hops) {
        if (FileEntry::Parse(ByteView(fe.data(), fe.size())).strategy != kStrategyTwoEntries) break;
        if (icb.block == UINT32_MAX) break;
        LongAd candidate{static_cast<uint32_t>(block_size_), icb.block + 1, icb.partition};
        if (!ReadRef(candidate.partition, candidate.block, candidate.Bytes(), next)) break;
        const ByteView n(next.data(), next.size());
        if (DescriptorCrcOk(n) && TagIdentifier(n) == kTagIe) {
            candidate = IndirectEntry::Parse(n).next;
            if (candidate.Bytes() == 0 || !seen.insert((uint64_t(candidate.partition) << 32) | candidate.block).second)
                break;
            if (!ReadRef(candidate.partition, candidate.block, candidate.Bytes(), next)) break;
        } else if (!is_entry(next) ||
                   FileEntry::Parse(n).unique_id != FileEntry::Parse(ByteView(fe.data(), fe.size())).unique_id ||
                   !seen.insert((uint64_t(candidate.partition) << 32) | candidate.block).second) {
            break;  // another file's entry, or nothing recorded yet
        }
        if (!is_entry(next)) break;
        icb = candidate;
        fe.swap(next);
    }
    return true;
}

// The data extents of a file entry recorded in a physical partition (VAT, metadata files): embedded, or
// short / long allocation descriptors in that same partition, without continuations.
bool LogicalVolume::EntryData(const std::vector<uint8_t> &fe, const FileEntry &entry, LongAd icb,
                              std::vector<std::pair<SectorRun, uint64_t>> &data, uint64_t &offset) {
    data.clear();
    offset = 0;
    const ByteView bytes(fe.data(), fe.size());
    const uint64_t ad_start = entry.AdStart();
    if (ad_start > fe.size() || entry.ad_length > fe.size() - ad_start) return false;
    uint64_t sector = 0, run = 0;
    if (entry.ad_type == kAdEmbedded) {
        if (!Translate(icb.partition, icb.block, sector, run)) return false;
        offset = ad_start;
        return Append(data, std::pair<SectorRun, uint64_t>{{sector, 1}, entry.ad_length}, scan_.budget);
    }
    if (entry.ad_type > 2) return false;
    const size_t size = AdSize(entry.ad_type);
    for (uint64_t at = ad_start; at + size <= ad_start + entry.ad_length; at += size) {
        const size_t p = static_cast<size_t>(at);
        const LongAd ad = entry.ad_type == 0   ? LongAd::ParseShort(bytes, p, icb.partition)
                          : entry.ad_type == 1 ? LongAd::ParseLong(bytes, p)
                                               : LongAd::ParseExtended(bytes, p);
        if (ad.Bytes() == 0) break;
        // An extent elsewhere than the entry's own partition (a metadata file pointing into the metadata
        // partition it makes) or a continuation is not followed.
        if (ad.partition != icb.partition || ad.Type() == kAdTypeContinuation) return false;
        const uint64_t blocks = (uint64_t(ad.Bytes()) + block_size_ - 1) / block_size_;
        if (uint64_t(ad.block) + blocks > mapped_[icb.partition].length) return false;
        // One piece per run of consecutive sectors (a spared packet splits an extent).
        uint64_t left = ad.Bytes();
        for (uint64_t done = 0; done < blocks;) {
            if (!Translate(icb.partition, static_cast<uint32_t>(ad.block + done), sector, run)) return false;
            const uint64_t n = std::min(run, blocks - done);
            const uint64_t bytes = std::min<uint64_t>(left, n * static_cast<uint64_t>(block_size_));
            if (!Append(data, std::pair<SectorRun, uint64_t>{{sector, n}, bytes}, scan_.budget)) return false;
            left -= bytes;
            done += n;
        }
    }
    return true;
}

// UDF 2.2.11: the VAT is the last entry written, found from the track's last sector backwards: a file entry
// of type 248 (2.00 and later) or of type 0 whose data ends in the 1.50 identifier.
bool LogicalVolume::ResolveVirtual(MappedPartition &map) {
    const uint64_t last = scan_.TrackSectors();
    if (last == 0) return false;
    std::vector<uint8_t> fe, data, piece;
    for (uint64_t back = 0; back < kMaxVatSearch && back < last; ++back) {
        const uint64_t sector = last - 1 - back;
        if (sector < map.start || sector - map.start >= map.length) continue;
        if (!ReadBlocks(sector, 1, fe)) continue;
        const ByteView b(fe.data(), fe.size());
        const uint16_t id = TagIdentifier(b);
        if (!DescriptorCrcOk(b) || (id != kTagFe && id != kTagEfe)) continue;
        const FileEntry entry = FileEntry::Parse(b);
        if (entry.file_type != kFileTypeVat && entry.file_type != kFileTypeUnspecified) continue;
        const LongAd icb{static_cast<uint32_t>(block_size_), static_cast<uint32_t>(sector - map.start),
                         map.physical_reference};
        std::vector<std::pair<SectorRun, uint64_t>> extents;
        uint64_t offset = 0;
        if (!EntryData(fe, entry, icb, extents, offset)) continue;
        // The VAT's bytes, at most its information length.
        data.clear();
        bool read = entry.information_length <= static_cast<uint64_t>(kMaxExtentBytes);
        for (const auto &[run, bytes] : extents) {
            if (!read) break;
            if (entry.ad_type == kAdEmbedded) {
                data.assign(fe.begin() + static_cast<std::ptrdiff_t>(offset),
                            fe.begin() + static_cast<std::ptrdiff_t>(offset + bytes));
                break;
            }
            read = ReadBlocks(run.sector, run.count, piece) && data.size() + bytes <= uint64_t(kMaxExtentBytes);
            if (read) data.insert(data.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(bytes));
        }
        if (!read) continue;
        data.resize(static_cast<size_t>(std::min<uint64_t>(data.size(), entry.information_length)));
        size_t first = 0, count = 0;
        const ByteView vat(data.data(), data.size());
        if (!VatEntries(vat, entry.file_type == kFileTypeUnspecified, first, count)) continue;
        if (!scan_.budget.Charge(uint64_t(count) * sizeof(uint32_t))) return false;
        map.vat.resize(count);
        for (size_t i = 0; i < count; ++i) map.vat[i] = vat.U32le(first + 4 * i);
        AddPart({EntryKind::kUdfVatEntry, entry.FixedSize() + uint64_t(entry.ea_length) + entry.ad_length,
                 static_cast<uint32_t>(sector), 0, 1, 0, "VAT ICB"});
        const uint16_t n = static_cast<uint16_t>(std::min<size_t>(extents.size(), 0xFFFF));
        for (uint16_t k = 0; k < n; ++k)
            AddPart({EntryKind::kUdfVat, extents[k].second, static_cast<uint32_t>(extents[k].first.sector),
                     static_cast<uint32_t>(offset), n, k, "VAT"});
        return true;
    }
    return false;
}

// UDF 2.2.9 / 2.2.12: every sparing table is read and listed; the valid one of the highest sequence number
// maps (the first of them when several agree on it). Only whole packets are moved, and only once: a mapped
// location is never looked up again, so tables that map in a loop cannot make the reader go round.
bool LogicalVolume::ResolveSparable(const AnyPartitionMap &recorded, MappedPartition &map) {
    if (recorded.packet_length == 0) return false;
    map.packet = recorded.packet_length;
    const uint64_t blocks = std::max<uint64_t>(scan_.BlocksFor(recorded.table_size), 1);
    const SparingTable *best = nullptr;
    std::vector<SparingTable> tables;
    std::vector<uint8_t> data;
    for (size_t i = 0; i < recorded.table_count && i < recorded.tables.size(); ++i) {
        const uint32_t at = recorded.tables[i];
        if (!ReadBlocks(at, blocks, data)) continue;
        const ByteView b(data.data(), data.size());
        SparingTable table;
        if (!DescriptorCrcOk(b) || !SparingTable::Parse(b, table)) continue;
        if (!scan_.budget.Charge(table.entries.size() * sizeof(table.entries[0]))) return false;
        char name[40];
        std::snprintf(name, sizeof name, "SPARING TABLE (%d)", static_cast<int32_t>(at));
        AddPart({EntryKind::kUdfSparingTable, table.Size(), at, 0, 1, 0, name});
        tables.push_back(std::move(table));
    }
    for (const SparingTable &t : tables)
        if (!best || t.sequence > best->sequence) best = &t;
    if (!best) return false;
    for (const auto &[original, mapped] : best->entries) {
        if (original >= SparingTable::kFirstUnmapped || original % map.packet != 0) continue;
        if (!scan_.budget.Charge(64)) return false;  // a map node
        map.spared.emplace(original, mapped);        // the first entry for a packet holds
    }
    return true;
}

bool LogicalVolume::ReadMetadataFile(const MappedPartition &map, uint32_t block, uint8_t file_type, EntryKind kind,
                                     const char *name, std::vector<SectorRun> *runs) {
    if (block == AnyPartitionMap::kNoLocation || block >= map.length) return false;
    const LongAd icb{static_cast<uint32_t>(block_size_), block, map.physical_reference};
    std::vector<uint8_t> fe;
    if (!ReadRef(icb.partition, icb.block, icb.Bytes(), fe)) return false;
    const ByteView b(fe.data(), fe.size());
    const uint16_t id = TagIdentifier(b);
    if (!DescriptorCrcOk(b) || (id != kTagFe && id != kTagEfe)) return false;
    const FileEntry entry = FileEntry::Parse(b);
    if (entry.file_type != file_type || entry.ad_type == kAdEmbedded) return false;
    std::vector<std::pair<SectorRun, uint64_t>> extents;
    uint64_t offset = 0;
    if (!EntryData(fe, entry, icb, extents, offset)) return false;
    if (runs) {
        runs->clear();
        for (const auto &e : extents)
            if (!Append(*runs, e.first, scan_.budget)) return false;
    }
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(extents.size(), 0xFFFF));
    for (uint16_t k = 0; k < n; ++k)
        AddPart({kind, extents[k].second, static_cast<uint32_t>(extents[k].first.sector), 0, n, k, name});
    return true;
}

// UDF 2.2.10: the metadata partition is the data of the metadata file; when that file cannot be read, its
// mirror's. The bitmap file is listed only.
bool LogicalVolume::ResolveMetadata(const AnyPartitionMap &recorded, MappedPartition &map) {
    const bool main = ReadMetadataFile(map, recorded.metadata_file, kFileTypeMetadata, EntryKind::kUdfMetadataFile,
                                       "METADATA FILE", &map.runs);
    const bool mirror = recorded.mirror_file != recorded.metadata_file &&
                        ReadMetadataFile(map, recorded.mirror_file, kFileTypeMetadataMirror,
                                         EntryKind::kUdfMetadataMirror, "METADATA MIRROR", main ? nullptr : &map.runs);
    (void)ReadMetadataFile(map, recorded.bitmap_file, kFileTypeMetadataBitmap, EntryKind::kUdfMetadataBitmap,
                           "METADATA BITMAP", nullptr);
    if (!main && !mirror) return false;
    // First metadata block of each run, for the lookup.
    uint64_t first = 0;
    map.run_starts.clear();
    for (const SectorRun &r : map.runs) {
        if (!Append(map.run_starts, first, scan_.budget)) return false;
        first += r.count;
    }
    return true;
}

// Every map by reference number. Type 1 maps first (the others are read through them); a map whose
// partition descriptor is missing cannot be used, and fails the volume when the described reading would
// have failed on it too.
bool LogicalVolume::ResolveAllMaps() {
    const auto &partitions = scan_.Partitions();
    const auto &maps = lvd.all_maps;
    mapped_.assign(maps.size(), MappedPartition{});
    for (size_t i = 0; i < maps.size(); ++i) {
        MappedPartition &m = mapped_[i];
        m.kind = maps[i].kind;
        const uint16_t number = maps[i].partition_number;
        auto pd = std::find_if(partitions.begin(), partitions.end(),
                               [&](const auto &p) { return p.descriptor.number == number; });
        if (pd == partitions.end()) {
            if (i < lvd.maps.size()) return false;
            continue;
        }
        m.start = pd->descriptor.start;
        m.length = pd->descriptor.length;
        m.physical_reference = static_cast<uint16_t>(i);
        m.usable = m.kind == MapKind::kPhysical;
    }
    // Sparable maps stand alone; virtual and metadata maps are read through a map of the same partition below
    // them, so they come after it.
    size_t resolved = 0;
    for (const MapKind pass : {MapKind::kSparable, MapKind::kVirtual, MapKind::kMetadata}) {
        for (size_t i = 0; i < maps.size(); ++i) {
            MappedPartition &m = mapped_[i];
            if (m.kind != pass || m.length == 0 || resolved >= kMaxResolvedMaps) continue;
            ++resolved;
            if (pass == MapKind::kSparable) {
                m.physical_reference = static_cast<uint16_t>(i);
                m.usable = ResolveSparable(maps[i], m);
            }
            // The maps of the same partition a virtual or metadata map may lie on, in order of preference: a
            // type 1 one, a sparable one (metadata on rewritable discs), then a virtual one (metadata on
            // write-once discs); the first through which the map's tables read is taken.
            for (const MapKind under : {MapKind::kPhysical, MapKind::kSparable, MapKind::kVirtual}) {
                if (pass == MapKind::kSparable || m.usable) break;
                if (pass == MapKind::kVirtual && under != MapKind::kPhysical) break;
                for (size_t j = 0; j < maps.size() && !m.usable; ++j) {
                    const MappedPartition &o = mapped_[j];
                    if (j == i || o.kind != under || !o.usable || maps[j].partition_number != maps[i].partition_number)
                        continue;
                    const size_t listed = parts.size();
                    m.physical_reference = static_cast<uint16_t>(j);
                    m.usable = pass == MapKind::kVirtual ? ResolveVirtual(m) : ResolveMetadata(maps[i], m);
                    if (!m.usable) parts.resize(listed);  // what a failed reading found is not listed
                }
            }
            if (scan_.budget.Exhausted()) return false;
        }
    }
    // The type 1 set of the described reading keeps its starts, so that its errors stay the same.
    partition_starts_.assign(lvd.maps.size(), 0);
    for (size_t i = 0; i < lvd.maps.size() && i < mapped_.size(); ++i) partition_starts_[i] = mapped_[i].start;
    return true;
}

}  // namespace qorvex::udf
