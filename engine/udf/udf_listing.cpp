// The UDF file list, system-part list and volume label built from what was read.
#include <cstdio>

#include "udf/udf_scan.h"

namespace qorvex::udf {

namespace {

class PartList {
public:
    PartList(FsListing &listing, MemoryBudget &budget, int32_t base, int32_t block_size, bool reserve_read)
        : listing_(listing),
          budget_(budget),
          base_(base),
          s_(block_size > 0 ? block_size : 1),
          reserve_read_(reserve_read) {}

    // A record at track sector `sector`.
    void Add(EntryKind kind, uint64_t size, uint32_t sectors, uint32_t sector, std::string_view name,
             int64_t date = kNoDate) {
        AddNamed(kind, size, sectors, sector, listing_.names.Add(name, budget_), date);
    }
    // The same with a name the listing holds already (records of one name share it).
    void AddNamed(EntryKind kind, uint64_t size, uint32_t sectors, uint32_t sector, std::string_view stored,
                  int64_t date = kNoDate) {
        CatalogueEntry entry;
        entry.kind = kind;
        entry.size = size;
        entry.sectors = sectors;
        entry.extent = static_cast<uint32_t>(base_ + sector);
        entry.name = stored;
        entry.date = date;
        listing_.AddPart(entry, budget_);
    }
    std::string_view Store(std::string_view name) { return listing_.names.Add(name, budget_); }
    // A part found while resolving a logical volume's maps.
    void Add(const VolumePart &part) {
        CatalogueEntry entry;
        entry.kind = part.kind;
        entry.size = part.size;
        entry.offset_bytes = part.offset;
        entry.sectors = Blocks(part.size + part.offset);
        entry.extent = static_cast<uint32_t>(base_ + part.sector);
        entry.extent_count = part.count;
        entry.extent_index = part.index;
        entry.name = listing_.names.Add(part.name, budget_);
        listing_.AddPart(entry, budget_);
    }
    // A copy of a logical volume's record under "prefix" + its name; every other field is kept.
    void AddCopy(const CatalogueEntry &entry, NamePrefix prefix) {
        CatalogueEntry copy = entry;
        copy.prefix = prefix;
        listing_.AddPart(copy, budget_);
    }
    uint32_t Blocks(uint64_t bytes) const { return static_cast<uint32_t>((bytes + s_ - 1) / s_); }
    // "  (main)" or "  (reserve)" once a reserve sequence was read; nothing otherwise.
    std::string Suffix(bool reserve) const {
        if (!reserve_read_) return "";
        return reserve ? "  (reserve)" : "  (main)";
    }

private:
    FsListing &listing_;
    MemoryBudget &budget_;
    int32_t base_;
    uint64_t s_;
    bool reserve_read_;
};

std::string WithLocation(const char *format, uint32_t location) {
    char text[48];
    std::snprintf(text, sizeof text, format, static_cast<int32_t>(location));
    return text;
}

void AddLogicalVolume(PartList &list, LogicalVolume &volume, const std::string &suffix, bool full) {
    list.Add(EntryKind::kUdfLogicalVolume, LogicalVolumeDescriptor::kMapsOffset + uint64_t(volume.lvd.map_table_length),
             1, volume.lvd.tag.location, "LVD" + suffix);
    if (!full) return;
    for (const IntegrityDescriptor &lvid : volume.integrity)
        list.Add(EntryKind::kUdfIntegrity, lvid.Size(), 1, lvid.tag.location, "LVID", lvid.recorded);
    for (const FileSetDescriptor &fsd : volume.file_sets)
        list.Add(EntryKind::kUdfFileSet, 512, 1, fsd.tag.location, "FSD", fsd.recorded);
    for (const VolumePart &part : volume.parts) list.Add(part);
    // Each record is let go once copied, so that the copies take the room the records leave.
    for (; !volume.entries.empty(); volume.entries.pop_front())
        list.AddCopy(volume.entries.front(), NamePrefix::kUdfEntry);
    for (; !volume.extents.empty(); volume.extents.pop_front())
        list.AddCopy(volume.extents.front(), NamePrefix::kUdfFolder);
}

}  // namespace

void UdfScan::BuildList() {
    // The files are listed already (the volumes put them there as they were read).
    size_t parts = 64 + free_extents_.size() + terminators.size();
    for (const auto &volume : volumes_)
        parts += volume->extents.size() + volume->entries.size() + volume->integrity.size() + volume->file_sets.size();
    if (!ReserveMore(listing.parts, parts, budget)) return;

    PartList list(listing, budget, base, block_, reserve_read_);
    constexpr uint64_t kSector = 2048;
    if (bea01_) list.Add(EntryKind::kUdfBea01, kSector, 1, bea01_, "BEA01");
    if (nsr02_) list.Add(EntryKind::kUdfNsr02, kSector, 1, nsr02_, "NSR02");
    if (nsr03_) list.Add(EntryKind::kUdfNsr03, kSector, 1, nsr03_, "NSR03");
    if (tea01_) list.Add(EntryKind::kUdfTea01, kDescriptorBlock, 1, tea01_, "TEA01");
    for (const AnchorPointer &anchor : anchors_)
        list.Add(EntryKind::kUdfAnchor, kDescriptorBlock, 1, anchor.tag.location,
                 WithLocation("AVDP (%d)", anchor.tag.location));
    for (const auto &pvd : primaries_)
        list.Add(EntryKind::kUdfPrimaryDescriptor, kDescriptorBlock, 1, pvd.descriptor.tag.location,
                 "PVD" + list.Suffix(pvd.reserve), pvd.descriptor.recorded);
    for (const auto &iuvd : implementation_uses_)
        list.Add(EntryKind::kUdfImplementationUse, kDescriptorBlock, 1, iuvd.descriptor.location,
                 "IUVD" + list.Suffix(iuvd.reserve));
    for (const auto &pd : partitions_)
        list.Add(EntryKind::kUdfPartition, kDescriptorBlock, 1, pd.descriptor.tag.location,
                 "PD" + list.Suffix(pd.reserve));
    for (const auto &usd : unallocated_)
        list.Add(EntryKind::kUdfUnallocatedSpace, 24ull + 8ull * usd.descriptor.count, 1, usd.descriptor.tag.location,
                 "USD" + list.Suffix(usd.reserve));
    for (const Tag &vdp : pointers_) list.Add(EntryKind::kUdfPointer, kDescriptorBlock, 1, vdp.location, "VDP");
    for (const uint32_t td : terminators)
        list.Add(EntryKind::kUdfTerminator, kDescriptorBlock, 1, td, WithLocation("TD   (%d)", td));
    for (const auto &volume : volumes_) {
        if (!reserve_read_)
            AddLogicalVolume(list, *volume, "", true);
        else
            AddLogicalVolume(list, *volume, list.Suffix(volume->reserve), !volume->reserve);
    }
    // A volume may list thousands of free extents: their records share one name.
    const std::string_view free_name = free_extents_.empty() ? std::string_view() : list.Store("udf free sector");
    for (const ExtentAd &free : free_extents_)
        list.AddNamed(EntryKind::kUdfFreeExtent, free.length, list.Blocks(free.length), free.location, free_name);
    for (const SpaceEntry &use : space_entries_)
        list.Add(EntryKind::kUdfSpaceEntry, use.Size(), list.Blocks(use.Size()), use.tag.location, "USE");
    for (const SpaceBitmap &sbd : space_bitmaps_)
        list.Add(EntryKind::kUdfSpaceBitmap, sbd.Size(), list.Blocks(sbd.Size()), sbd.tag.location, "SBD");

    listing.label = primaries_.empty() ? std::string() : primaries_.front().descriptor.Label();
}

}  // namespace qorvex::udf
