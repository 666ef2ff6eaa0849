// The UDF file list, system-part list and volume label built from what was read.
#include <array>
#include <cstdio>

#include "udf/udf_reader.h"
#include "udf/udf_state.h"
#include "udf/udf_tag.h"

namespace qorvex::udf {

namespace {

class PartList {
public:
    PartList(Catalogue &parts, const UdfState &state, int32_t block_size)
        : parts_(parts), state_(state), s_(block_size > 0 ? block_size : 1) {}

    // A record at track sector `sector`.
    void Add(int32_t kind, uint64_t size, uint32_t sectors, uint32_t sector, const std::string &name,
             int32_t date = 0) {
        CatalogueEntry entry;
        entry.kind = kind;
        entry.size = size;
        entry.sectors = sectors;
        entry.extent = static_cast<uint32_t>(state_.base + sector);
        entry.name = name;
        entry.date = date;
        parts_.push_back(std::move(entry));
        ++added;
    }
    // A copy of a logical volume's record under another name; every other field is kept.
    void AddCopy(const CatalogueEntry &entry, const std::string &name) {
        parts_.push_back(entry);
        parts_.back().name = name;
        ++added;
    }
    uint32_t Blocks(uint64_t bytes) const { return static_cast<uint32_t>((bytes + s_ - 1) / s_); }
    // " " + " (main)" or " (reserve)" once a reserve sequence was read; nothing otherwise.
    std::string Suffix(bool reserve) const {
        if (!state_.reserve_read) return "";
        return reserve ? "  (reserve)" : "  (main)";
    }

    size_t added = 0;

private:
    Catalogue &parts_;
    const UdfState &state_;
    uint64_t s_;
};

std::string WithLocation(const char *format, uint32_t location) {
    char text[48];
    std::snprintf(text, sizeof text, format, static_cast<int32_t>(location));
    return text;
}

void AddLogicalVolume(PartList &list, const UdfLogicalVolume &volume, const std::string &suffix, bool full) {
    const uint32_t location = TagLocation(volume.lvd.data());
    list.Add(40, 440ull + volume.MapTableLength(), 1, location, "LVD" + suffix);
    if (!full) return;
    for (const auto &lvid : volume.integrity) {
        const uint64_t size = 80ull + 8ull * Le32(lvid.data() + 72) + Le32(lvid.data() + 76);
        list.Add(44, size, 1, TagLocation(lvid.data()), "LVID", TimestampToUnix(lvid.data() + 16));
    }
    for (const auto &fsd : volume.file_sets)
        list.Add(43, 512, 1, TagLocation(fsd.data()), "FSD", TimestampToUnix(fsd.data() + 16));
    for (const CatalogueEntry &entry : volume.entries) list.AddCopy(entry, "udf entry  " + entry.name);
    for (const CatalogueEntry &entry : volume.extents)
        if (entry.attributes & kAttributeDirectory) list.AddCopy(entry, "udf folder " + entry.name);
}

}  // namespace

void BuildUdfLists(VolumeScanner &scanner, CatalogueSet &set) {
    if (!scanner.udf) return;
    const UdfState &state = *scanner.udf;
    for (const auto &volume : state.volumes) volume->AddFiles(set.udf_files);

    PartList list(set.udf_parts, state, scanner.reader.UserSize());
    if (state.bea01) list.Add(50, 2048, 1, state.bea01, "BEA01");
    if (state.nsr02) list.Add(52, 2048, 1, state.nsr02, "NSR02");
    if (state.nsr03) list.Add(53, 2048, 1, state.nsr03, "NSR03");
    if (state.tea01) list.Add(54, 512, 1, state.tea01, "TEA01");
    for (const auto &anchor : state.anchors)
        list.Add(36, 512, 1, TagLocation(anchor.data()), WithLocation("AVDP (%d)", TagLocation(anchor.data())));
    for (const auto &pvd : state.primaries)
        list.Add(37, 512, 1, pvd.Location(), "PVD" + list.Suffix(pvd.reserve), TimestampToUnix(pvd.bytes.data() + 376));
    for (const auto &iuvd : state.implementation_uses)
        list.Add(38, 512, 1, iuvd.Location(), "IUVD" + list.Suffix(iuvd.reserve));
    for (const auto &pd : state.partitions) list.Add(39, 512, 1, pd.Location(), "PD" + list.Suffix(pd.reserve));
    for (const auto &usd : state.unallocated)
        list.Add(41, 24ull + 8ull * Le32(usd.bytes.data() + 20), 1, usd.Location(), "USD" + list.Suffix(usd.reserve));
    for (const auto &vdp : state.pointers) list.Add(45, 512, 1, vdp.Location(), "VDP");
    for (const auto &td : state.terminators)
        list.Add(42, 512, 1, TagLocation(td.data()), WithLocation("TD   (%d)", TagLocation(td.data())));
    for (const auto &volume : state.volumes) {
        if (!state.reserve_read)
            AddLogicalVolume(list, *volume, "", true);
        else
            AddLogicalVolume(list, *volume, list.Suffix(volume->reserve), !volume->reserve);
    }
    for (const ExtentAd &free : state.free_extents)
        list.Add(61, free.length, list.Blocks(free.length), free.location, "udf free sector");
    for (const auto &use : state.space_entries) {
        const uint64_t size = 40ull + Le32(use.data() + 36);
        list.Add(46, size, list.Blocks(size), TagLocation(use.data()), "USE");
    }
    for (const auto &sbd : state.space_bitmaps) {
        const uint64_t size = 24ull + Le32(sbd.data() + 20);
        list.Add(47, size, list.Blocks(size), TagLocation(sbd.data()), "SBD");
    }

    set.udf_label.clear();
    if (state.primaries.empty()) return;
    // The dstring's last byte is its used length; a length that does not fit the field is ignored and
    // the text ends at the first zero unit instead.
    const uint8_t *identifier = state.primaries.front().bytes.data() + 24;
    size_t used = identifier[31];
    if (used == 0 || used > 31) used = 31;
    std::array<char16_t, 256> units{};
    const int32_t count = Cs0Decode(used, identifier, units.data(), units.size());
    if (count <= 0) return;
    std::string label = UnitsToText(units.data(), static_cast<size_t>(count));
    while (!label.empty() && label.back() == ' ') label.pop_back();
    set.udf_label = label;
}

}  // namespace qorvex::udf
