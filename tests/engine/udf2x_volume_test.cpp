// UDF 2.x layouts made by the builder (virtual, sparable and metadata partitions, extended file entries,
// strategy 4096), read through the public interface with OPEN_UDF_2X.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/harness/udf_alone.h"
#include "support/harness/udf_listing.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

// A tree whose folders and files need several blocks, so that a map that moves single blocks shows.
UdfOptions Tree(UdfMapping mapping) {
    UdfOptions o;
    o.mapping = mapping;
    if (mapping == UdfMapping::Sparable) o.partition_start = 320;  // packets lie on the medium's packet boundaries
    UdfNode split = UdfFileNode("SPLIT.BIN", PatternText(7000, 's'));
    split.extents = 2;
    split.ad = UdfAd::Long;
    UdfNode short_ad = UdfFileNode("SHORT.BIN", PatternText(6000, 'v'), UdfAd::Short);
    std::vector<UdfNode> many;
    for (int i = 0; i < 60; ++i)  // about 4 KiB of identifiers: a folder of three blocks
        many.push_back(UdfFileNode("FILE_WITH_A_LONG_NAME_" + std::to_string(i) + ".TXT", "n" + std::to_string(i)));
    o.root.children = {UdfFileNode("A.TXT", "hello"),
                       UdfDirNode("DOCS", {UdfFileNode("B.TXT", PatternText(3000, 'b')),
                                           UdfFileNode("EMB.TXT", "inside the entry", UdfAd::Embedded)}),
                       split, short_ad, UdfDirNode("MANY", many)};
    return o;
}

class Udf2x : public ::testing::Test {
protected:
    // Expects every file of the builder's tree to extract, joined from any of its pieces, to its contents;
    // gives the open error.
    int32_t ExtractsWholeTree(const std::string &path, const UdfOptions &o) {
        int32_t error = -1;
        EXPECT_EQ(ExtractUdf(path, dir / "out", OPEN_UDF_2X, &error), UdfFileContents(o.root));
        return error;
    }
    std::string Write(const UdfImage &image, const std::string &name) {
        const std::string path = dir / name;
        WriteFile(path, image.bytes);
        return path;
    }
    TempDir dir;
};

struct Layout {
    const char *name;
    UdfMapping mapping;
    bool extended;
    bool vat150;
    std::vector<uint32_t> spared;
};

// Each map read and followed: a spared packet's original blocks hold rubbish, the VAT reverses the order of
// blocks, the metadata file leaves a gap. The maps themselves are listed as system parts.
TEST_F(Udf2x, EveryMappingListsItsEntriesWhereTheyAreRead) {
    const std::map<UdfMapping, std::vector<std::pair<std::string, int32_t>>> map_parts = {
        {UdfMapping::Virtual, {{"VAT ICB", KIND_UDF_VAT_ENTRY}, {"VAT", KIND_UDF_VAT}}},
        {UdfMapping::Sparable,
         {{"SPARING TABLE (317)", KIND_UDF_SPARING_TABLE}, {"SPARING TABLE (318)", KIND_UDF_SPARING_TABLE}}},
        {UdfMapping::Metadata,
         {{"METADATA FILE", KIND_UDF_METADATA_FILE},
          {"METADATA MIRROR", KIND_UDF_METADATA_MIRROR},
          {"METADATA BITMAP", KIND_UDF_METADATA_BITMAP}}}};
    // Plain file entries are read alike under any map: once here (virtual 1.50), otherwise with the physical one.
    for (const Layout &c : {Layout{"virtual", UdfMapping::Virtual, true, false, {}},
                            Layout{"virtual 1.50", UdfMapping::Virtual, false, true, {}},
                            Layout{"sparable", UdfMapping::Sparable, true, false, {0, 32}},
                            Layout{"metadata", UdfMapping::Metadata, true, false, {}}}) {
        SCOPED_TRACE(c.name);
        UdfOptions o = Tree(c.mapping);
        o.all_extended = c.extended;
        o.vat150 = c.vat150;
        o.spared_packets = c.spared;
        UdfImage image = BuildUdf(o);
        const std::string path = Write(image, "m.img");

        // The described reading does not know these maps: no UDF, and nothing else on the image.
        EXPECT_EQ(ListUdf(path).open_error, ENGINE_UNKNOWN_FORMAT);
        // (The tree each map leads to, and where the VAT's entry lies: UdfInterop against udfclient and udfinfo.)
        const UdfListing l = ListUdf(path, OPEN_UDF_2X);
        // Entries are listed where they are read: a spared packet's entries in the spare area (packet 0 holds
        // the file set and the root).
        auto where = [&](uint32_t sector) {
            const uint32_t block = sector - image.layout.partition_start,
                           packet = block / o.packet_length * o.packet_length;
            const auto moved = image.layout.spared.find(packet);
            return moved == image.layout.spared.end() ? sector : moved->second + block - packet;
        };
        for (const auto &[name, sector] : std::map<std::string, uint32_t>{
                 {"FSD", image.layout.fsd},
                 {"udf entry  \\", image.layout.files["\\"].fe_sector},
                 {"udf entry  \\DOCS\\B.TXT", image.layout.files["\\DOCS\\B.TXT"].fe_sector}}) {
            const EntryInfo *entry = l.Part(name);
            ASSERT_NE(entry, nullptr) << name;
            EXPECT_EQ(static_cast<uint32_t>(entry->start), where(sector)) << name;
        }

        for (const auto &[name, kind] : map_parts.at(c.mapping)) {
            const EntryInfo *part = l.Part(name);
            ASSERT_NE(part, nullptr) << name;
            EXPECT_EQ(part->kind, kind) << name;
        }
        // Every part of the maps extracts to the bytes it names in the image.
        Opened h(path, OPEN_UDF_2X);
        const int32_t count = QorvexGetModuleStart(h.get(), 0, KIND_UDF);
        for (int32_t i = 0; i < count; ++i) {
            EntryInfo e{};
            QorvexGetNextModule(h.get(), &e);
            if (e.kind < 62 || e.kind > 69) continue;
            const std::string out = dir / "part";
            ASSERT_EQ(QorvexExtractCurrentModule(h.get(), out.c_str()), 0) << e.name;
            const size_t at = size_t(e.start) * 2048 + size_t(e.offset);
            const std::vector<uint8_t> want(image.bytes.begin() + at, image.bytes.begin() + at + e.size_low);
            EXPECT_EQ(ReadFile(out), want) << e.name;
        }
        if (c.mapping == UdfMapping::Virtual) {
            // A 2.x VAT: a 152-byte header, then the entries; a 1.50 one: the entries, then a 36-byte tail.
            EXPECT_EQ(l.Part("VAT")->size_low, (c.vat150 ? 36 : 152) + 4 * image.layout.vat.size());
            // A folder of several virtual blocks lies in as many places; a short_ad file in three pieces.
            int folder_pieces = 0;
            for (const EntryInfo &e : l.parts) folder_pieces += std::string(e.name) == "udf folder \\MANY\\";
            EXPECT_EQ(folder_pieces, static_cast<int>((image.layout.files["\\MANY\\"].extents[0][1] + 2047) / 2048));
            EXPECT_GT(folder_pieces, 1);
            std::vector<int32_t> short_pieces;
            for (const EntryInfo &e : l.files)
                if (std::string(e.name) == "\\SHORT.BIN") short_pieces.push_back(e.extent_count);
            EXPECT_EQ(short_pieces, std::vector<int32_t>(3, 3));
        }
        if (c.mapping == UdfMapping::Metadata) {
            std::vector<std::array<uint32_t, 2>> extents;
            for (const EntryInfo &e : l.parts)
                if (std::string(e.name) == "METADATA FILE")
                    extents.push_back({static_cast<uint32_t>(e.start), static_cast<uint32_t>(e.sectors)});
            EXPECT_EQ(extents, image.layout.metadata_extents);
            EXPECT_EQ(static_cast<uint32_t>(l.Part("METADATA MIRROR")->start), image.layout.mirror_data);
        }
    }
}

// Rewritable discs of 2.50 and later: a metadata partition over a sparable one, a packet of the metadata
// file's data spared.
TEST_F(Udf2x, MetadataPartitionOverASparablePartition) {
    UdfOptions o = Tree(UdfMapping::Metadata);
    o.sparable_below = true;
    o.partition_start = 320;
    o.packet_length = 16;
    const UdfImage plain = BuildUdf(o);
    const uint32_t first = plain.layout.metadata_extents[0][0] - plain.layout.partition_start;
    o.spared_packets = {(first / 16 + 1) * 16};  // a packet inside the metadata file's first extent
    ASSERT_LT(o.spared_packets[0] + 16, first + plain.layout.metadata_extents[0][1]);
    UdfImage image = BuildUdf(o);
    const std::string path = Write(image, "ms.img");
    ASSERT_EQ(ExtractsWholeTree(path, o), 0);
    // The metadata file's first extent is listed in three pieces: before, in and after the spare area.
    const UdfListing l = ListUdf(path, OPEN_UDF_2X);
    std::vector<uint32_t> starts;
    for (const EntryInfo &e : l.parts)
        if (std::string(e.name) == "METADATA FILE") starts.push_back(static_cast<uint32_t>(e.start));
    ASSERT_GE(starts.size(), 3u);
    EXPECT_EQ(starts[1], image.layout.spared.at(o.spared_packets[0]));
}

// Some writers name entries of a metadata partition by the reference of the partition below it: where that
// reading finds no entry, the metadata partition's is taken.
TEST_F(Udf2x, ReferencesToThePartitionBelowTheMetadataPartition) {
    const UdfOptions o = Tree(UdfMapping::Metadata);
    UdfImage image = BuildUdf(o);
    for (const char *path : {"\\A.TXT", "\\DOCS\\", "\\DOCS\\B.TXT"}) {
        uint8_t *fid = image.bytes.data() + image.layout.files.at(path).fid_offset;
        fid[28] = 0;  // partition reference of the ICB: the type 1 map
        RecomputeCrc(fid);
    }
    const std::string path = Write(image, "w.img");
    EXPECT_EQ(ExtractsWholeTree(path, o), 0);
}

// A stream directory (file type 13) and the volume's own files (VAT, metadata files, 248-252) named by an
// identifier are listed as entries, never walked or listed as files.
TEST_F(Udf2x, StreamDirectoriesAndVolumeFilesAreNoFiles) {
    for (uint8_t type : {uint8_t(13), uint8_t(248), uint8_t(250)}) {
        SCOPED_TRACE(int(type));
        UdfOptions o = Tree(UdfMapping::Physical);
        o.all_extended = true;
        UdfImage image = BuildUdf(o);
        for (const char *path : {"\\DOCS\\", "\\A.TXT"}) {
            uint8_t *fe = image.At(image.layout.files.at(path).fe_sector);
            fe[27] = type;
            RecomputeCrc(fe);
        }
        const std::string path = Write(image, "t.img");
        const UdfListing l = ListUdf(path, OPEN_UDF_2X);
        ASSERT_EQ(l.open_error, 0);
        for (const std::string &name : l.FileNames()) {
            EXPECT_EQ(name.rfind("\\DOCS\\", 0), std::string::npos) << name;
            EXPECT_NE(name, "\\A.TXT");
        }
        EXPECT_NE(l.Part("udf entry  \\DOCS\\"), nullptr);
        EXPECT_EQ(l.Part("udf folder \\DOCS\\"), nullptr);
    }
}

TEST_F(Udf2x, StrategyFourThousandNinetySixTakesTheNewerEntry) {
    UdfOptions o;
    o.all_extended = true;
    UdfNode versioned = UdfFileNode("V.TXT", "first version, recorded in its own block");
    versioned.newer_data = "second version";
    o.root.children = {versioned, UdfFileNode("AFTER.TXT", "after")};
    UdfImage image = BuildUdf(o);
    const std::string path = Write(image, "v.img");
    EXPECT_EQ(ExtractsWholeTree(path, o), 0);  // \V.TXT as its newer data
    const UdfListing l = ListUdf(path, OPEN_UDF_2X);
    ASSERT_EQ(l.files.size(), 2u);
    EXPECT_EQ(static_cast<uint32_t>(l.files[0].start), image.layout.files["\\V.TXT"].newer_sector);
}

// With the bit on, the volumes that opened before list the same.
TEST_F(Udf2x, DescribedVolumesListTheSame) {
    UdfOptions o = Tree(UdfMapping::Physical);
    o.space_bitmap = true;
    o.type2_map = true;
    const std::string path = Write(BuildUdf(o), "d.img");
    const UdfListing before = ListUdf(path, 0), after = ListUdf(path, OPEN_UDF_2X);
    ASSERT_EQ(before.open_error, 0);
    ASSERT_EQ(after.open_error, 0);
    EXPECT_EQ(before.FileNames(), after.FileNames());
    EXPECT_EQ(before.PartNames(), after.PartNames());
    ASSERT_EQ(before.files.size(), after.files.size());
    for (size_t i = 0; i < before.files.size(); ++i) {
        EXPECT_EQ(Fields(before.files[i]), Fields(after.files[i])) << before.files[i].name;
        EXPECT_EQ(before.files[i].extent_count, after.files[i].extent_count) << before.files[i].name;
    }
}

// What the maps keep (VAT entries, spared packets, metadata runs, parts) is charged: every budget short of
// what the reading takes ends it with ENGINE_TOO_LARGE, never with a listing.
TEST_F(Udf2x, MapsAreChargedToTheBudget) {
    for (UdfMapping mapping : {UdfMapping::Virtual, UdfMapping::Sparable, UdfMapping::Metadata}) {
        SCOPED_TRACE(static_cast<int>(mapping));
        UdfOptions o = Tree(mapping);
        o.spared_packets = {32};
        const UdfImage image = BuildUdf(o);
        auto read = [&](uint64_t bytes, FsListing &listing) {
            MemoryBudget budget(bytes);
            const Status status = ReadUdfAlone(dir / "b.img", image.bytes, Limits{&budget, OPEN_UDF_2X}, &listing);
            return std::make_pair(status.Value(), bytes - budget.Left());
        };
        FsListing full;
        const auto [ok, used] = read(1ull << 30, full);
        ASSERT_TRUE(full.found);
        for (uint64_t budget : std::vector<uint64_t>{used - 1, used / 2, used / 8, 64}) {
            FsListing cut;
            EXPECT_EQ(read(budget, cut).first, ENGINE_TOO_LARGE) << budget;
            EXPECT_FALSE(cut.found) << budget;
        }
    }
}

}  // namespace
}  // namespace qorvex::test
