// ISO 9660 scan: descriptors, directory walk, path-table fallback, lists, dates and labels.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <map>
#include <set>

#include "iso9660/iso_reader.h"
#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

std::vector<IsoNode> SampleTree() {
    IsoNode hidden = File("A.TXT;1", "hidden text");
    hidden.hidden = true;
    return {Dir("DIR", {File("FILE.TXT;1", "hello"), Dir("SUB", {File("DEEP.BIN;1", Pattern(5000, 7))})}), hidden,
            File("EMPTY.TXT;1", std::vector<uint8_t>{})};
}
// Its files in recorded depth-first order.
const std::vector<std::string> kSampleFiles = {"\\DIR\\FILE.TXT;1", "\\DIR\\SUB\\DEEP.BIN;1", "\\A.TXT;1",
                                               "\\EMPTY.TXT;1"};

class IsoScanTest : public ::testing::Test {
protected:
    std::string Write(const IsoImage &image, const std::string &name = "v.iso") {
        const std::string path = dir_ / name;
        WriteFile(path, image.bytes);
        return path;
    }
    TempDir dir_;
};

// Also with zero padding before every directory record, which is skipped.
TEST_F(IsoScanTest, ListsNestedVolumeInRecordedDepthFirstOrder) {
    for (uint32_t padding : {0, 6}) {
        SCOPED_TRACE(padding);
        IsoOptions options;
        options.joliet = true;
        options.record_padding = padding;
        const IsoImage image = BuildIso(SampleTree(), options);
        Opened h(Write(image));
        ASSERT_TRUE(h) << std::hex << h.error();

        auto files = ListEntries(h.get(), 0, KIND_ISO9660);
        EXPECT_EQ(Names(files), kSampleFiles);
        for (const Listed &f : files) {
            const IsoPlacement &p = image.iso.at(f.name());
            const int32_t sectors = int32_t((p.length + 2047) / 2048), hidden = f.name() == "\\A.TXT;1" ? 0x02 : 0;
            EXPECT_EQ(Fields(f.info), EntryRow(1, int32_t(p.extent), 0, p.length, sectors, 1588748889, hidden))
                << f.name();
            EXPECT_EQ(f.info.extent_count, 1) << f.name();
        }

        auto parts = ListEntries(h.get(), 0, KIND_ISO9660, true);
        EXPECT_EQ(Names(parts),
                  (std::vector<std::string>{"PVD", "VDT", "iso path table L", "iso path table M", "iso9660 folder \\",
                                            "iso9660 folder \\DIR\\", "iso9660 folder \\DIR\\SUB\\"}));
        EXPECT_EQ(parts[0].info.start, 16);
        EXPECT_EQ(parts[1].info.start, int32_t(image.descriptor_sectors.back()));
        EXPECT_EQ(parts[2].info.start, int32_t(image.iso_path_l));
        EXPECT_EQ(parts[3].info.start, int32_t(image.iso_path_m));
        EXPECT_EQ(parts[2].size(), image.iso_path_size);
        EXPECT_EQ(parts[5].info.attributes, 0x10);
        EXPECT_EQ(parts[5].info.start, int32_t(image.iso.at("\\DIR\\").extent));

        auto joliet = ListEntries(h.get(), 0, KIND_JOLIET);
        EXPECT_EQ(Names(joliet), kSampleFiles);
        auto joliet_parts = ListEntries(h.get(), 0, KIND_JOLIET, true);
        EXPECT_EQ(Names(joliet_parts),
                  (std::vector<std::string>{"SVD", "joliet path table L", "joliet path table M", "joliet folder \\",
                                            "joliet folder \\DIR\\", "joliet folder \\DIR\\SUB\\"}));

        char label[40] = {};
        int32_t sectors = 0;
        int64_t bytes = 0;
        EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_ISO9660, label, &sectors, &bytes), 1);
        EXPECT_STREQ(label, "QORVEX");
        EXPECT_EQ(sectors, int32_t(image.Sectors()));
        EXPECT_EQ(bytes, int64_t(image.bytes.size()));
    }
}

VolumeDescriptor Vd(uint8_t type, std::string id = "", uint8_t escape2 = 0x45, uint16_t block_size = 2048) {
    VolumeDescriptor d;
    d.type = type;
    d.volume_id = std::move(id);
    d.escape[2] = escape2;
    d.block_size = block_size;
    return d;
}

// The first descriptor of each kind is kept; supplementary ones without Joliet escapes and block sizes that cannot
// be used are passed over; type 4 ends the walk, so no terminator and no Joliet descriptor behind it is seen.
TEST_F(IsoScanTest, DescriptorWalkAndBlockSizes) {
    const struct {
        const char *name;
        std::vector<VolumeDescriptor> descriptors;
        int32_t iso_files, joliet_files;  // -1: the image does not open
        bool vdt_listed;                  // among the ISO 9660 parts
    } cases[] = {
        {"first of each kind", {Vd(1, "FIRST"), Vd(2, "", 0x46), Vd(1, "SECOND"), Vd(2), Vd(2), Vd(255)}, 4, 4, true},
        {"type 4 ends the walk", {Vd(1), Vd(4), Vd(2), Vd(255)}, 4, 0, false},
        {"only a non-Joliet supplementary", {Vd(1), Vd(2, "", 0x46), Vd(255)}, 4, 0, true},
        {"primary block size 0", {Vd(1, "", 0x45, 0), Vd(255)}, -1, -1, true},
        {"primary block size 1000", {Vd(1, "", 0x45, 1000), Vd(255)}, -1, -1, true},
        {"primary block size 4096", {Vd(1, "", 0x45, 4096), Vd(255)}, -1, -1, true},
        {"Joliet block size not the primary's", {Vd(1), Vd(2, "", 0x45, 1024), Vd(255)}, 4, 0, true},
        {"Joliet alone with its own block size", {Vd(2), Vd(255)}, 0, 4, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        IsoOptions options;
        options.descriptors = c.descriptors;
        Opened h(Write(BuildIso(SampleTree(), options)));
        if (c.iso_files < 0) {
            EXPECT_FALSE(h);
            EXPECT_EQ(h.error(), ENGINE_UNKNOWN_FORMAT);
            continue;
        }
        ASSERT_TRUE(h);
        EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_ISO9660), c.iso_files);
        EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_JOLIET), c.joliet_files);
        EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_AUTO, nullptr, nullptr, nullptr), c.joliet_files ? 2 : 1);
        const auto parts = Names(ListEntries(h.get(), 0, KIND_ISO9660, true));
        EXPECT_EQ(std::count(parts.begin(), parts.end(), "VDT"), c.vdt_listed ? 1 : 0);
    }
    // The label of the first primary; the first Joliet descriptor, not the one at 17.
    IsoOptions options;
    options.descriptors = cases[0].descriptors;
    Opened h(Write(BuildIso(SampleTree(), options)));
    ASSERT_TRUE(h);
    char label[33] = {};
    EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_ISO9660, label, nullptr, nullptr), 1);
    EXPECT_STREQ(label, "FIRST");
    auto svd = ListEntries(h.get(), 0, KIND_JOLIET, true);
    ASSERT_FALSE(svd.empty());
    EXPECT_EQ(svd[0].name(), "SVD");
    EXPECT_EQ(svd[0].info.start, 19);
}

TEST_F(IsoScanTest, SelfAndParentRecordsSkippedOnlyForFolders) {
    std::vector<IsoNode> tree = SampleTree();
    tree.push_back(File(std::string(1, '\0'), "zero"));
    tree.push_back(File(std::string(1, '\1'), "one"));
    Opened h(Write(BuildIso(tree)));
    ASSERT_TRUE(h);
    auto names = Names(ListEntries(h.get(), 0, KIND_ISO9660));
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names[4], "\\");  // the identifier is cut at its NUL byte
    EXPECT_EQ(names[5], "\\\x01");
}

TEST_F(IsoScanTest, RecordEndingExactlyAtTheEndOfTheDirectoryIsListed) {
    // ".", ".." and files fill 2014 bytes, so the 34-byte record of folder "A" ends the sector.
    std::vector<IsoNode> tree;
    int remaining = 2048 - 68 - 34;
    for (int i = 0; remaining > 0; ++i) {
        const bool long_name = remaining % 46 != 0;
        char name[32];
        std::snprintf(name, sizeof name, long_name ? "F%09d.T;1" : "F%07d.T;1", i);
        tree.push_back(File(name, "x"));
        remaining -= long_name ? 48 : 46;
    }
    ASSERT_EQ(remaining, 0);
    tree.push_back(Dir("A", {File("IN.TXT;1", "inside")}));
    IsoImage image = BuildIso(tree);
    ASSERT_EQ(image.iso.at("\\A\\").record % 2048, 2048u - 34);
    ASSERT_EQ(image.iso.at("\\").length, 2048u);
    Opened h(Write(image));
    ASSERT_TRUE(h);
    auto names = Names(ListEntries(h.get(), 0, KIND_ISO9660));
    EXPECT_EQ(names.back(), "\\A\\IN.TXT;1");
}

// 300 nested folders: listed down to 256 levels below the root; the 257th is listed but not entered, and counted
// as skipped. (Folders that lead back to an ancestor: tests/damaged/corruption_test.cpp.)
TEST_F(IsoScanTest, DeepHierarchiesEndCleanly) {
    IsoNode deep = File("BOTTOM.TXT;1", "b");
    for (int i = 0; i < 300; ++i) deep = Dir("D", {deep});
    Opened d(Write(BuildIso({deep, File("TOP.TXT;1", "top")}), "deep.iso"));
    ASSERT_TRUE(d);
    auto parts = ListEntries(d.get(), 0, KIND_ISO9660, true);
    size_t folders = 0;
    for (const Listed &p : parts) folders += p.info.kind == 2;
    EXPECT_EQ(folders, 1u + 257u);  // the root, 256 walked levels and the record of the 257th
    EXPECT_EQ(Names(ListEntries(d.get(), 0, KIND_ISO9660)), std::vector<std::string>{"\\TOP.TXT;1"});
    EXPECT_EQ(QorvexExGetSkippedFolders(d.get(), 0, KIND_ISO9660), 1);
    EXPECT_EQ(QorvexExGetSkippedFolders(d.get(), 0, KIND_JOLIET), 0);
    EXPECT_EQ(QorvexExGetSkippedFolders(d.get(), 5, KIND_ISO9660), 0);
}

TEST_F(IsoScanTest, PathTableFallbackFindsTheSameFilesAndRefusesBadParents) {
    IsoOptions options;
    options.joliet = true;
    IsoImage image = BuildIso(SampleTree(), options);
    image.SetDataLength(image.iso.at("\\").record, 33);
    Opened h(Write(image));
    ASSERT_TRUE(h);
    auto files = ListEntries(h.get(), 0, KIND_ISO9660);
    std::set<std::string> names;
    for (const Listed &f : files) {
        names.insert(f.name());
        EXPECT_EQ(f.size(), image.iso.at(f.name()).length);
    }
    EXPECT_EQ(names, std::set<std::string>(kSampleFiles.begin(), kSampleFiles.end()));
    // Only the marked file system is reported.
    EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_JOLIET), 0);
    auto parts = Names(ListEntries(h.get(), 0, KIND_ISO9660, true));
    EXPECT_EQ(std::count(parts.begin(), parts.end(), "iso9660 folder \\DIR\\SUB\\"), 1);

    // Root length 34 walks normally.
    image.SetDataLength(image.iso.at("\\").record, 34);
    Opened normal(Write(image, "n.iso"));
    ASSERT_TRUE(normal);
    EXPECT_EQ(QorvexGetFileCount(normal.get(), 0, KIND_JOLIET), 4);

    // A short Joliet root with a normal ISO 9660 root: Joliet only.
    image = BuildIso(SampleTree(), options);
    image.SetDataLength(image.joliet.at("\\").record, 33);
    Opened joliet(Write(image, "j.iso"));
    ASSERT_TRUE(joliet);
    EXPECT_EQ(QorvexGetFileCount(joliet.get(), 0, KIND_ISO9660), 0);
    EXPECT_EQ(QorvexGetFileCount(joliet.get(), 0, KIND_JOLIET), 4);

    // Path tables whose parents loop (DIR and SUB each other's), are 0 or lie past the table: nothing opens.
    image = BuildIso(SampleTree());
    image.SetDataLength(image.iso.at("\\").record, 33);
    const size_t dir = image.iso_path_records[1], sub = image.iso_path_records[2];
    for (const auto &[dir_parent, sub_parent] : {std::pair<uint16_t, uint16_t>{3, 2}, {0, 2}, {1, 9}}) {
        image.bytes[dir + 6] = uint8_t(dir_parent);
        image.bytes[sub + 6] = uint8_t(sub_parent);
        Opened bad(Write(image, "bad.iso"));
        EXPECT_FALSE(bad) << dir_parent << " " << sub_parent;
        EXPECT_EQ(bad.error(), ENGINE_READ_FAILED) << dir_parent << " " << sub_parent;
    }

    // No path table at all: nothing to read, ISO 9660 is reported with no files.
    image.Put32Both(size_t(16) * 2048 + 132, 0);
    Opened none(Write(image, "none.iso"));
    ASSERT_TRUE(none);
    EXPECT_EQ(QorvexGetFileCount(none.get(), 0, KIND_ISO9660), 0);
    EXPECT_EQ(Names(ListEntries(none.get(), 0, KIND_ISO9660, true)),
              (std::vector<std::string>{"PVD", "VDT", "iso9660 folder \\"}));
}

// (Labels are copied without a terminator whatever the kind: CatalogueTest.WalksCursorsAndTheCopyLoop.)
TEST_F(IsoScanTest, RecordingDatesAndTheirZones) {
    IsoNode zoned = File("ZONE.TXT;1", "z");
    zoned.date = MakeDate(2021, 3, 4, 5, 6, 7, 36);  // +09:00
    IsoNode west = File("WEST.TXT;1", "w");
    west.date = MakeDate(1999, 12, 31, 20, 0, 0, -20);  // -05:00
    IsoNode blank = File("BLANK.TXT;1", "b");
    blank.date.fill(' ');
    IsoNode future = File("FUTURE.TXT;1", "f");
    future.date = MakeDate(2030, 1, 1, 0, 0, 0);
    IsoNode future_dir = Dir("FUTURE");
    future_dir.date = MakeDate(2030, 1, 1, 0, 0, 0);
    IsoNode late = File("LATE.TXT;1", "l");
    late.date = MakeDate(2040, 1, 1, 0, 0, 0);
    IsoOptions options;
    options.creation_date = "2001020304050600";
    options.creation_offset = -8;  // -02:00
    Opened h(Write(BuildIso({zoned, west, blank, future, future_dir, late}, options)));
    ASSERT_TRUE(h);
    std::map<std::string, int32_t> dates;
    for (const Listed &f : ListEntries(h.get(), 0, KIND_ISO9660)) dates[f.name()] = f.info.time;
    EXPECT_EQ(dates["\\ZONE.TXT;1"], 1614834367 - 9 * 3600);
    EXPECT_EQ(dates["\\WEST.TXT;1"], 946670400 + 5 * 3600);
    EXPECT_EQ(dates["\\BLANK.TXT;1"], 0);
    EXPECT_EQ(dates["\\FUTURE.TXT;1"], 1893456000);
    EXPECT_EQ(dates["\\LATE.TXT;1"], 0);  // beyond signed 32-bit seconds
    auto parts = ListEntries(h.get(), 0, KIND_ISO9660, true);
    EXPECT_EQ(parts[0].info.time, 981173106 + 2 * 3600);  // PVD creation date
    EXPECT_EQ(parts.back().name(), "iso9660 folder \\FUTURE\\");
    EXPECT_EQ(parts.back().info.time, 0);
}

}  // namespace
}  // namespace qorvex::test
