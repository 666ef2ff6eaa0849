// UDF volumes made by the builder: listing and extraction, recognition, anchors, descriptor sequences and
// damaged or hostile structures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "platform/text.h"
#include "qorvex.h"
#include "support/bytes.h"
#include "support/harness/udf_alone.h"
#include "support/harness/udf_listing.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

// What the UDF reader alone returns for a track.
struct UdfRead {
    Status status;
    FsListing listing;

    bool Found() const { return listing.found; }
    int32_t Error() const { return status.Value(); }
    size_t Count(std::string_view name) const {
        return static_cast<size_t>(std::count_if(listing.parts.begin(), listing.parts.end(),
                                                 [&](const CatalogueEntry &e) { return e.name == name; }));
    }
    const CatalogueEntry *Part(std::string_view name) const {
        for (const CatalogueEntry &e : listing.parts)
            if (e.name == name) return &e;
        return nullptr;
    }
};

// Where the first extent of a file or folder of the builder's tree starts.
int32_t Start(const UdfImage &image, const std::string &path) {
    return static_cast<int32_t>(image.layout.files.at(path).extents[0][0]);
}

class UdfStructure : public ::testing::Test {
protected:
    UdfStructure() { o.root.children = {UdfFileNode("A.TXT", "hello"), UdfDirNode("DOCS", {UdfFileNode("B", "b")})}; }

    // Runs the UDF reading alone over the image.
    UdfRead ReadOnly(const UdfImage &image) {
        MemoryBudget budget = MemoryBudget::ForImage(static_cast<int64_t>(image.bytes.size()));
        UdfRead read;
        read.status = ReadUdfAlone(dir / "u.img", image.bytes, Limits{&budget, 0}, &read.listing);
        return read;
    }
    UdfListing List(const UdfImage &image) {
        WriteFile(dir / "u.img", image.bytes);
        return ListUdf(dir / "u.img");
    }
    uint8_t *Fid(UdfImage &image, const std::string &path) {
        return image.bytes.data() + image.layout.files.at(path).fid_offset;
    }

    TempDir dir;
    UdfOptions o;
};

// Files depth first in recorded order, with their extents, and extracted joined; the system parts in order.
TEST_F(UdfStructure, ListsAndExtractsFilesAndSystemParts) {
    ASSERT_TRUE(platform::SetCodePage("UTF-8"));  // the Japanese name below (Windows starts in its ANSI code page)
    UdfNode wide = UdfFileNode("", "wide", UdfAd::Long);
    wide.name = u"\u65e5\u672c.txt";
    wide.wide = true;
    UdfNode hidden = UdfFileNode("HIDDEN.BIN", "secret");
    hidden.hidden = true;
    UdfNode split_file = UdfFileNode("SPLIT.BIN", PatternText(5000, 'a'));
    split_file.extents = 2;
    o.root.children = {UdfFileNode("A.TXT", "hello"),
                       UdfDirNode("DOCS", {UdfFileNode("B.TXT", PatternText(3000, 'b')),
                                           UdfFileNode("EMB.TXT", "inside the entry", UdfAd::Embedded)}),
                       wide,
                       hidden,
                       split_file,
                       UdfFileNode("EMPTY", "")};
    o.reserve = false;
    UdfImage image = BuildUdf(o);
    UdfListing l = List(image);
    ASSERT_EQ(l.open_error, 0);
    EXPECT_EQ(l.label, "UDFVOLUME");
    // Folders and the empty file are not files.
    EXPECT_EQ(l.FileNames(),
              (std::vector<std::string>{"\\A.TXT", "\\DOCS\\B.TXT", "\\DOCS\\EMB.TXT", "\\\xE6\x97\xA5\xE6\x9C\xAC.txt",
                                        "\\HIDDEN.BIN", "\\SPLIT.BIN", "\\SPLIT.BIN"}));
    ASSERT_EQ(l.files.size(), 7u);
    const int32_t stamp = 1588748889;
    EXPECT_EQ(Fields(l.files[1]), EntryRow(31, Start(image, "\\DOCS\\B.TXT"), 0, 3000, 2, stamp, 0));
    // An embedded file lies in its entry's sector, after the entry's 176 bytes.
    const int32_t emb_entry = static_cast<int32_t>(image.layout.files["\\DOCS\\EMB.TXT"].fe_sector);
    EXPECT_EQ(Fields(l.files[2]), EntryRow(31, emb_entry, 176, 16, 1, stamp, 0));
    EXPECT_EQ(l.files[4].attributes, 0x02);
    const auto &split = image.layout.files["\\SPLIT.BIN"].extents;
    for (int k = 0; k < 2; ++k) {
        const EntryInfo &e = l.files[5 + k];
        EXPECT_EQ(std::make_tuple(int(e.extent_count), int(e.extent_index), static_cast<uint32_t>(e.start), e.size_low),
                  std::make_tuple(2, k, split[k][0], split[k][1]))
            << k;
    }
    EXPECT_NE(split[0][0] + 2, split[1][0] + 0u) << "the builder leaves a gap between extents";

    // Every file extracts joined: a split file whole from either of its extents.
    int32_t error = -1;
    EXPECT_EQ(ExtractUdf(dir / "u.img", dir / "out", 0, &error), UdfFileContents(o.root));
    const std::vector<std::string> names = l.PartNames();
    // The volume's structures in front of the tree's, in order.
    std::string head;
    for (size_t i = 0; i < std::min<size_t>(names.size(), 19); ++i) head += names[i] + "|";
    EXPECT_EQ(head, "BEA01|NSR02|TEA01|AVDP (256)|AVDP (" + std::to_string(image.layout.anchor_last) + ")|AVDP (" +
                        std::to_string(image.layout.anchor_last256) +
                        ")|PVD|IUVD|PD|USD|TD   (37)|TD   (65)|TD   (263)|LVD|LVID|FSD|udf entry  \\|"
                        "udf entry  \\A.TXT|udf entry  \\DOCS\\|");
    // The empty file still has its identifier entry; folders appear as folder parts; free space last.
    EXPECT_NE(l.Part("udf entry  \\EMPTY"), nullptr);
    EXPECT_EQ(l.Part("udf folder \\EMPTY"), nullptr);
    EXPECT_EQ(names.back(), "udf free sector");
    EXPECT_EQ(Fields(l.parts.back()), EntryRow(61, 600, 0, 4096, 2, 0, 0));
    const int32_t root = static_cast<int32_t>(image.layout.files["\\"].fe_sector);
    for (const auto &[name, row] : std::map<std::string, EntryRow>{
             {"PVD", {37, 32, 0, 512, 1, stamp, 0}},
             {"TEA01", {54, 18, 0, 512, 1, 0, 0}},
             {"LVD", {40, 35, 0, 446, 1, 0, 0}},
             {"USD", {41, 36, 0, 32, 1, 0, 0}},
             {"LVID", {44, 64, 0, 134, 1, stamp, 0}},
             {"udf entry  \\", {33, root, 0, 2048, 1, 0, 0}},
             {"udf folder \\DOCS\\", {32, Start(image, "\\DOCS\\"), 0, 132, 1, stamp, 0x10}}}) {
        const EntryInfo *part = l.Part(name);
        ASSERT_NE(part, nullptr) << name;
        EXPECT_EQ(Fields(*part), row) << name;
    }
}

TEST_F(UdfStructure, RecognitionSequence) {
    // A plain ISO 9660 track: the walk stops at the first other identifier, with no code left.
    UdfImage iso = BuildUdf(o);
    for (uint32_t s : {16u, 17u}) std::memcpy(iso.At(s) + 1, "CD001", 5);
    std::memcpy(iso.At(18) + 1, "XYZ01", 5);
    const UdfRead plain = ReadOnly(iso);
    EXPECT_FALSE(plain.Found());
    EXPECT_EQ(plain.Error(), 0);

    // CD001 before BEA01 is passed over; the walk stops right after TEA01.
    o.iso_prefix = true;
    UdfImage bridge = BuildUdf(o);
    std::memcpy(bridge.At(20) + 1, "NSR03", 5);
    const UdfRead read = ReadOnly(bridge);
    ASSERT_TRUE(read.Found());
    EXPECT_EQ(read.Part("BEA01")->extent, 17u);
    EXPECT_EQ(read.Part("TEA01")->extent, 19u);
    EXPECT_EQ(read.Part("NSR03"), nullptr);

    // An NSR descriptor alone, without BEA01 and TEA01, is enough.
    o.iso_prefix = false;
    o.bea01 = o.tea01 = false;
    o.nsr = "NSR03";
    EXPECT_TRUE(ReadOnly(BuildUdf(o)).Found());
    o.iso_prefix = true;  // image detection looks for CD001 or BEA01 at sector 16
    UdfListing l = List(BuildUdf(o));
    ASSERT_EQ(l.open_error, 0);
    EXPECT_EQ(l.PartNames().front(), "NSR03");
    EXPECT_EQ(l.parts.front().start, 17);
    EXPECT_EQ(l.files.size(), 2u);
}

// A track too short for the anchor at 256: no UDF, the seek's code is left. (Which anchor leads when one is
// damaged, and none: UdfVolumeDamage.DuplicatedStructuresStandInForEachOther.)
TEST_F(UdfStructure, ATrackTooShortForTheAnchorLeavesTheSeeksCode) {
    UdfImage short_image = BuildUdf(UdfOptions{});
    short_image.bytes.resize(200 * 2048);
    const UdfRead cut = ReadOnly(short_image);
    EXPECT_FALSE(cut.Found());
    EXPECT_TRUE(cut.Error() == ENGINE_SEEK_FAILED || cut.Error() == ENGINE_READ_FAILED) << cut.Error();
}

TEST_F(UdfStructure, ReserveSequenceNames) {
    UdfImage image = BuildUdf(o);
    // A second PVD in the main sequence, after its terminator: the walk goes on past a TD.
    WritePvd(image.At(38), 38, "SECOND", UdfTimestamp{});
    UdfListing l = List(image);
    ASSERT_EQ(l.open_error, 0);
    std::vector<std::string> names = l.PartNames();
    auto has = [&](const std::string &n) { return std::count(names.begin(), names.end(), n); };
    // Each record is named by the sequence it came from, not by its position in the list.
    EXPECT_EQ(has("PVD  (main)"), 2);
    EXPECT_EQ(has("PVD  (reserve)"), 1);  // (the other descriptors' names: UdfInterop's mkudffs volumes)
    EXPECT_EQ(has("VDP"), 0);
    EXPECT_EQ(has("LVID"), 1);  // the reserve logical volume gives its LVD only
    EXPECT_EQ(has("udf entry  \\"), 1);
    EXPECT_EQ(l.Part("LVD  (reserve)")->start, 51);

    // A reserve extent equal to the main one is not read again.
    o.reserve_same = true;
    const UdfRead same = ReadOnly(BuildUdf(o));
    ASSERT_TRUE(same.Found());
    EXPECT_EQ(same.Count("PVD"), 1u);  // no suffixes: no reserve sequence was read
    EXPECT_EQ(same.Count("LVD"), 1u);
}

TEST_F(UdfStructure, PointerContinuation) {
    o.reserve = false;
    UdfImage image = BuildUdf(o);
    // The anchors name USD and TD only; the TD becomes a VDP back to the PVD, IUVD, PD and LVD.
    for (uint32_t a : {256u, image.layout.anchor_last, image.layout.anchor_last256})
        WriteAvdp(image.At(a), a, {2 * 2048, 36}, {0, 0});
    std::memset(image.At(37), 0, 2048);
    WriteVdp(image.At(37), 37, 4 * 2048, 32);
    UdfRead read = ReadOnly(image);
    ASSERT_TRUE(read.Found());
    EXPECT_EQ(read.Count("PVD"), 1u);
    EXPECT_EQ(read.Count("VDP"), 1u);

    // Chains that come back are walked once. (A VDP back into the extent being walked: Corruption.)
    for (uint32_t a : {256u, image.layout.anchor_last, image.layout.anchor_last256})
        WriteAvdp(image.At(a), a, {16 * 2048, 32}, {0, 0});
    WriteVdp(image.At(37), 37, 2048, 80);
    WriteVdp(image.At(80), 80, 16 * 2048, 32);
    read = ReadOnly(image);
    ASSERT_TRUE(read.Found());
    EXPECT_EQ(read.Count("PVD"), 1u);
    EXPECT_EQ(read.Count("VDP"), 2u);
    EXPECT_EQ(List(image).Part("VDP")->start, 37);
}

TEST_F(UdfStructure, DescriptorVariants) {
    o.reserve = false;
    o.free_extents = {};
    o.type2_map = true;
    o.file_sets = 2;
    o.space_bitmap = o.space_entry = true;
    UdfImage image = BuildUdf(o);
    // The file set terminator in a partition at 262 with tag location 33 is listed at 295.
    Put32Le(image.At(264) + 12, 33);
    RecomputeCrc(image.At(264));
    UdfListing l = List(image);
    ASSERT_EQ(l.open_error, 0);
    EXPECT_EQ(l.Part("USD")->size_low, 24u);
    EXPECT_EQ(l.Part("udf free sector"), nullptr);
    EXPECT_EQ(l.Part("LVD")->size_low, 440u + 6 + 64);
    ASSERT_NE(l.Part("TD   (295)"), nullptr);
    EXPECT_EQ(l.Part("TD   (295)")->start, 295);
    const auto names = l.PartNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "FSD"), 2);
    EXPECT_EQ(std::count(names.begin(), names.end(), "udf entry  \\"), 2);
    EXPECT_EQ(l.files.size(), 4u);   // two walks of the same tree
    ASSERT_EQ(names.back(), "SBD");  // the space bitmap is listed last
    EXPECT_EQ(static_cast<uint32_t>(l.parts.back().start), image.layout.space_bitmap);
    ASSERT_NE(l.Part("USE"), nullptr);
    EXPECT_EQ(l.Part("USE")->size_low, 48u);
    // (A root recorded as an Extended File Entry refuses the volume: UdfInterop's mkudffs 2.01 volumes.)
}

TEST_F(UdfStructure, EntryVariants) {
    UdfNode past = UdfFileNode("PAST", "data beyond the first sector", UdfAd::Embedded);
    past.ea_length = 2000;
    UdfNode deleted = UdfFileNode("GONE", "x");
    deleted.deleted = true;
    UdfNode damaged = UdfFileNode("BAD", "y");
    damaged.bad_fid_crc = true;
    UdfNode dir = UdfDirNode("EMBDIR", {UdfFileNode("IN", "z")});
    dir.ad = UdfAd::Embedded;
    o.root.children = {past, deleted, damaged, dir, UdfFileNode("LAST", "w")};
    UdfImage image = BuildUdf(o);
    // A deleted identifier may leave its ICB empty.
    std::memset(Fid(image, "\\GONE") + 20, 0, 16);
    RecomputeCrc(Fid(image, "\\GONE"));
    UdfListing l = List(image);
    ASSERT_EQ(l.open_error, 0);
    EXPECT_EQ(l.FileNames(), (std::vector<std::string>{"\\PAST", "\\EMBDIR\\IN", "\\LAST"}));
    // Data embedded past an extended attribute area that fills the entry's sector lies in the next one.
    const int32_t past_entry = static_cast<int32_t>(image.layout.files["\\PAST"].fe_sector);
    EXPECT_EQ(Fields(l.files[0]), EntryRow(31, past_entry + 1, (176 + 2000) % 2048, 28, 1, 1588748889, 0));
}

TEST_F(UdfStructure, HostileStructuresEndCleanly) {
    // (Folders that lead back to an ancestor: tests/damaged/corruption_test.cpp.)
    // Counts past the descriptor end where the next descriptor begins, or at the end of the bytes read. The
    // main sequence (32-47) becomes PVD, IUVD, PD, LVD, USD, TD and ten more USDs; every USD claims 2^32 - 1
    // extents, so each of the last ten would read the rest of the sequence again, were it not cut.
    {
        UdfImage image = BuildUdf(o);
        Put32Le(image.At(35) + 268, 0xFFFFFFFF);
        RecomputeCrc(image.At(35));
        for (uint32_t sector : {36u, 38u, 39u, 40u, 41u, 42u, 43u, 44u, 45u, 46u, 47u}) {
            if (sector != 36) std::memcpy(image.At(sector), image.At(36), 2048);
            Put32Le(image.At(sector) + 12, sector);
            Put32Le(image.At(sector) + 20, 0xFFFFFFFF);
            RecomputeCrc(image.At(sector));
        }
        const UdfRead read = ReadOnly(image);
        ASSERT_TRUE(read.Found());
        // One block of extents per USD of the main sequence, and the reserve copy's one extent.
        EXPECT_EQ(read.Count("udf free sector"), 11u * (2048 - 24) / 8 + 1);
    }
    // References and lengths that cannot be met refuse the volume without a crash.
    auto refused = [&](const std::function<void(UdfImage &)> &damage) {
        UdfImage image = BuildUdf(o);
        damage(image);
        return !ReadOnly(image).Found();
    };
    const uint32_t fsd = 262;
    EXPECT_TRUE(refused([&](UdfImage &i) {  // root ICB of a huge length
        Put32Le(i.At(fsd) + 400, 0x3FFFFFFE);
        RecomputeCrc(i.At(fsd));
    }));
    EXPECT_TRUE(refused([&](UdfImage &i) {  // partition reference outside the maps
        uint8_t *fid = Fid(i, "\\A.TXT");
        fid[28] = 7;
        RecomputeCrc(fid);
    }));
    EXPECT_TRUE(refused([&](UdfImage &i) {  // no integrity sequence
        Put32Le(i.At(35) + 432, 0);
        RecomputeCrc(i.At(35));
    }));
    EXPECT_TRUE(refused([&](UdfImage &i) {  // partition number without a PD
        i.At(35)[444] = 9;
        RecomputeCrc(i.At(35));
    }));
    // Chains of file sets and integrity descriptors that loop are walked once.
    UdfImage loops = BuildUdf(o);
    Put32Le(loops.At(fsd) + 448, 2048);
    Put32Le(loops.At(fsd) + 452, 40);  // a second file set at block 40 that points back to block 0
    WriteFsd(loops.At(fsd + 40), 40, {2048, loops.layout.files["\\"].fe_sector - fsd, 0}, {2048, 0, 0});
    RecomputeCrc(loops.At(fsd));
    Put32Le(loops.At(64) + 32, 2048);
    Put32Le(loops.At(64) + 36, 70);
    RecomputeCrc(loops.At(64));
    WriteLvid(loops.At(70), 70, {2048, 64});
    const UdfRead looped = ReadOnly(loops);
    ASSERT_TRUE(looped.Found());
    EXPECT_EQ(looped.Count("FSD"), 2u);
    EXPECT_EQ(looped.Count("LVID"), 2u);
    // A zero-length space table with a position is an empty table, not a failed read.
    UdfImage table = BuildUdf(o);
    Put32Le(table.At(34) + 60, 5);
    RecomputeCrc(table.At(34));
    const UdfRead empty_table = ReadOnly(table);
    EXPECT_TRUE(empty_table.Found());
    EXPECT_EQ(empty_table.Error(), 0);
}

}  // namespace
}  // namespace qorvex::test
