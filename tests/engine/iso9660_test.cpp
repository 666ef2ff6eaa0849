// ISO 9660 scan: descriptors, directory walk, path-table fallback, lists, dates and labels.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "iso9660/iso_reader.h"
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

class IsoScanTest : public ::testing::Test {
protected:
    std::string Write(const IsoImage &image, const std::string &name = "v.iso") {
        const std::string path = dir_ / name;
        WriteFile(path, image.bytes);
        return path;
    }
    TempDir dir_;
};

TEST_F(IsoScanTest, ListsNestedVolumeInRecordedDepthFirstOrder) {
    IsoOptions options;
    options.joliet = true;
    IsoImage image = BuildIso(SampleTree(), options);
    Opened h(Write(image));
    ASSERT_TRUE(h) << std::hex << h.error();

    auto files = ListEntries(h.get(), 0, KIND_ISO9660);
    EXPECT_EQ(Names(files),
              (std::vector<std::string>{"\\DIR\\FILE.TXT;1", "\\DIR\\SUB\\DEEP.BIN;1", "\\A.TXT;1", "\\EMPTY.TXT;1"}));
    for (const Listed &f : files) {
        const IsoPlacement &p = image.iso.at(f.name());
        EXPECT_EQ(f.info.kind, 1);
        EXPECT_EQ(f.info.start, int32_t(p.extent)) << f.name();
        EXPECT_EQ(f.size(), p.length) << f.name();
        EXPECT_EQ(f.info.sectors, int32_t((p.length + 2047) / 2048)) << f.name();
        EXPECT_EQ(f.info.extent_count, 1);
        EXPECT_EQ(f.info.attributes, f.name() == "\\A.TXT;1" ? 0x02 : 0) << f.name();
        EXPECT_NE(f.info.time, 0);
    }
    EXPECT_EQ(std::u16string(files[1].info.wname), u"\\DIR\\SUB\\DEEP.BIN;1");

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
    EXPECT_EQ(Names(joliet),
              (std::vector<std::string>{"\\DIR\\FILE.TXT;1", "\\DIR\\SUB\\DEEP.BIN;1", "\\A.TXT;1", "\\EMPTY.TXT;1"}));
    EXPECT_EQ(joliet[0].info.kind, 11);
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
    std::fill(std::begin(label), std::end(label), 0);
    EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_AUTO, label, &sectors, &bytes), 2);
    EXPECT_STREQ(label, "Qorvex");
}

VolumeDescriptor Vd(uint8_t type, std::string id = "", uint8_t escape2 = 0x45) {
    VolumeDescriptor d;
    d.type = type;
    d.volume_id = std::move(id);
    d.escape[2] = escape2;
    return d;
}

TEST_F(IsoScanTest, DescriptorWalkKeepsTheFirstOfEachKindAndStopsAtUnknownTypes) {
    IsoOptions options;
    // A second primary and a supplementary descriptor without Joliet escapes are passed over.
    options.descriptors = {Vd(1, "FIRST"), Vd(2, "", 0x46), Vd(1, "SECOND"), Vd(2), Vd(2), Vd(255)};
    Opened h(Write(BuildIso(SampleTree(), options)));
    ASSERT_TRUE(h);
    char label[33] = {};
    EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_ISO9660, label, nullptr, nullptr), 1);
    EXPECT_STREQ(label, "FIRST");
    auto svd = ListEntries(h.get(), 0, KIND_JOLIET, true);
    ASSERT_FALSE(svd.empty());
    EXPECT_EQ(svd[0].name(), "SVD");
    EXPECT_EQ(svd[0].info.start, 19);  // the first Joliet descriptor, not the one at 17
    EXPECT_EQ(ListEntries(h.get(), 0, KIND_ISO9660, true)[1].name(), "VDT");

    // Type 4 ends the walk: no terminator, and a Joliet descriptor behind it is never seen.
    options.descriptors = {Vd(1), Vd(4), Vd(2), Vd(255)};
    Opened cut(Write(BuildIso(SampleTree(), options), "cut.iso"));
    ASSERT_TRUE(cut);
    auto parts = Names(ListEntries(cut.get(), 0, KIND_ISO9660, true));
    EXPECT_EQ(parts[0], "PVD");
    EXPECT_EQ(std::count(parts.begin(), parts.end(), "VDT"), 0);
    EXPECT_EQ(QorvexGetFileCount(cut.get(), 0, KIND_JOLIET), 0);

    // Only a non-Joliet supplementary descriptor: listed under ISO 9660 only.
    options.descriptors = {Vd(1), Vd(2, "", 0x46), Vd(255)};
    Opened plain(Write(BuildIso(SampleTree(), options), "plain.iso"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(QorvexGetFileCount(plain.get(), 0, KIND_ISO9660), 4);
    EXPECT_EQ(QorvexGetFileCount(plain.get(), 0, KIND_JOLIET), 0);
    EXPECT_EQ(QorvexGetImageInformation(plain.get(), 0, KIND_AUTO, label, nullptr, nullptr), 1);
}

TEST_F(IsoScanTest, UnusableBlockSizesAreIgnored) {
    for (uint16_t b : {0, 1000, 4096}) {
        IsoOptions options;
        options.descriptors = {Vd(1), Vd(255)};
        options.descriptors[0].block_size = b;
        Opened h(Write(BuildIso(SampleTree(), options)));
        EXPECT_FALSE(h) << b;
        EXPECT_EQ(h.error(), ENGINE_UNKNOWN_FORMAT) << b;
    }
    // Joliet with a block size other than the primary's is not read; ISO 9660 still is.
    IsoOptions options;
    options.descriptors = {Vd(1), Vd(2), Vd(255)};
    options.descriptors[1].block_size = 1024;
    Opened h(Write(BuildIso(SampleTree(), options)));
    ASSERT_TRUE(h);
    EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_ISO9660), 4);
    EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_JOLIET), 0);
    // Joliet without a primary descriptor uses its own block size.
    options.descriptors = {Vd(2), Vd(255)};
    Opened only(Write(BuildIso(SampleTree(), options), "j.iso"));
    ASSERT_TRUE(only);
    EXPECT_EQ(QorvexGetFileCount(only.get(), 0, KIND_ISO9660), 0);
    EXPECT_EQ(QorvexGetFileCount(only.get(), 0, KIND_JOLIET), 4);
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

TEST_F(IsoScanTest, ZeroPaddingBetweenRecordsIsSkipped) {
    IsoOptions options;
    options.record_padding = 6;
    options.joliet = true;
    Opened h(Write(BuildIso(SampleTree(), options)));
    ASSERT_TRUE(h);
    EXPECT_EQ(Names(ListEntries(h.get(), 0, KIND_ISO9660)),
              (std::vector<std::string>{"\\DIR\\FILE.TXT;1", "\\DIR\\SUB\\DEEP.BIN;1", "\\A.TXT;1", "\\EMPTY.TXT;1"}));
    EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_JOLIET), 4);
}

TEST_F(IsoScanTest, LoopingAndDeepHierarchiesEndCleanly) {
    // A folder whose record points back at the root, and one that points at itself.
    IsoImage image = BuildIso({Dir("DIR", {Dir("BACK"), Dir("SELF"), File("F.TXT;1", "f")})});
    image.SetExtent(image.iso.at("\\DIR\\BACK\\").record, image.iso.at("\\").extent);
    image.SetExtent(image.iso.at("\\DIR\\SELF\\").record, image.iso.at("\\DIR\\").extent);
    Opened h(Write(image));
    ASSERT_TRUE(h);
    EXPECT_EQ(Names(ListEntries(h.get(), 0, KIND_ISO9660)), (std::vector<std::string>{"\\DIR\\F.TXT;1"}));
    EXPECT_EQ(QorvexGetFileCount(h.get(), 0, KIND_ISO9660), 1);

    // 300 nested folders: listed down to 256 levels below the root.
    IsoNode deep = File("BOTTOM.TXT;1", "b");
    for (int i = 0; i < 300; ++i) deep = Dir("D", {deep});
    Opened d(Write(BuildIso({deep}), "deep.iso"));
    ASSERT_TRUE(d);
    auto parts = ListEntries(d.get(), 0, KIND_ISO9660, true);
    size_t folders = 0;
    for (const Listed &p : parts) folders += p.info.kind == 2;
    EXPECT_EQ(folders, 1u + 257u);  // the root, 256 walked levels and the record of the 257th
    EXPECT_EQ(QorvexGetFileCount(d.get(), 0, KIND_ISO9660), 0);
}

TEST_F(IsoScanTest, HostileLengthsGiveReadErrors) {
    // A directory claiming 3 GiB and one whose extent lies past the image.
    IsoImage image = BuildIso(SampleTree());
    image.SetDataLength(image.iso.at("\\DIR\\").record, 0xC0000000u);
    Opened huge(Write(image));
    EXPECT_FALSE(huge);
    EXPECT_EQ(huge.error(), ENGINE_READ_FAILED);

    image = BuildIso(SampleTree());
    image.SetExtent(image.iso.at("\\DIR\\").record, image.Sectors() + 5);
    Opened outside(Write(image, "o.iso"));
    EXPECT_FALSE(outside);
    EXPECT_EQ(outside.error(), ENGINE_SEEK_FAILED);

    // A truncated image: directories lost with the tail.
    image = BuildIso(SampleTree());
    image.bytes.resize(size_t(image.iso.at("\\DIR\\").extent) * 2048);
    Opened cut(Write(image, "t.iso"));
    EXPECT_FALSE(cut);
    EXPECT_TRUE(cut.error() == ENGINE_SEEK_FAILED || cut.error() == ENGINE_READ_FAILED) << std::hex << cut.error();
}

TEST_F(IsoScanTest, PathTableFallbackFindsTheSameFiles) {
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
    EXPECT_EQ(names,
              (std::set<std::string>{"\\DIR\\FILE.TXT;1", "\\DIR\\SUB\\DEEP.BIN;1", "\\A.TXT;1", "\\EMPTY.TXT;1"}));
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
}

TEST_F(IsoScanTest, PathTableFallbackRejectsBadParentsAndCopesWithNoTable) {
    IsoImage image = BuildIso(SampleTree());
    image.SetDataLength(image.iso.at("\\").record, 33);
    const size_t sub = image.iso_path_records[2];  // \DIR\SUB: make DIR and SUB each other's parent
    const size_t dir = image.iso_path_records[1];
    auto set_parent = [&](size_t record, uint16_t parent) {
        image.bytes[record + 6] = uint8_t(parent);
        image.bytes[record + 7] = uint8_t(parent >> 8);
    };
    set_parent(dir, 3);
    set_parent(sub, 2);
    Opened loop(Write(image));
    EXPECT_FALSE(loop);
    EXPECT_EQ(loop.error(), ENGINE_READ_FAILED);
    set_parent(dir, 0);
    set_parent(sub, 2);
    Opened zero(Write(image, "z.iso"));
    EXPECT_FALSE(zero);
    set_parent(dir, 1);
    set_parent(sub, 9);
    Opened past(Write(image, "p.iso"));
    EXPECT_FALSE(past);

    // No path table at all: nothing to read, ISO 9660 is reported with no files.
    image = BuildIso(SampleTree());
    image.SetDataLength(image.iso.at("\\").record, 33);
    image.Put32Both(size_t(16) * 2048 + 132, 0);
    Opened none(Write(image, "none.iso"));
    ASSERT_TRUE(none);
    EXPECT_EQ(QorvexGetFileCount(none.get(), 0, KIND_ISO9660), 0);
    EXPECT_EQ(Names(ListEntries(none.get(), 0, KIND_ISO9660, true)),
              (std::vector<std::string>{"PVD", "VDT", "iso9660 folder \\"}));
}

TEST_F(IsoScanTest, DatesLabelsAndNames) {
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
    options.volume_id = "X";
    options.joliet = true;
    options.joliet_volume_id = u"J";
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

    char label[40];
    std::memset(label, 'Z', sizeof label);
    EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_ISO9660, label, nullptr, nullptr), 1);
    EXPECT_EQ(label[0], 'X');
    EXPECT_EQ(label[1], 'Z');  // one byte written, the rest of the buffer untouched
    std::memset(label, 0, sizeof label);
    EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_JOLIET, label, nullptr, nullptr), 2);
    EXPECT_STREQ(label, "J");
}

TEST_F(IsoScanTest, DatesDoNotDependOnTheMachineZone) {
#ifdef _WIN32
    GTEST_SKIP() << "zone names in TZ are POSIX";
#else
    IsoNode zoned = File("ZONE.TXT;1", "z");
    zoned.date = MakeDate(2021, 7, 4, 5, 6, 7, 36);
    const std::string path = Write(BuildIso({zoned}));
    const char *saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    for (const char *tz : {"UTC", "Asia/Tokyo", "America/New_York"}) {
        ::setenv("TZ", tz, 1);
        ::tzset();
        Opened h(path);
        ASSERT_TRUE(h);
        auto files = ListEntries(h.get(), 0, KIND_ISO9660);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].info.time, 1625375167 - 9 * 3600) << tz;
        const std::string out = dir_ / "zone.txt";
        ASSERT_EQ(QorvexExtractCurrentFile(h.get(), out.c_str()), 0);
        struct stat st {};
        ASSERT_EQ(::stat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, files[0].info.time) << tz;
    }
    if (saved)
        ::setenv("TZ", old.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
#endif
}

TEST_F(IsoScanTest, LongLabelsAreCutAt32Bytes) {
    IsoOptions options;
    options.joliet = true;
    options.volume_id = std::string(32, 'V');
    Opened h(Write(BuildIso(SampleTree(), options)));
    ASSERT_TRUE(h);
    char label[40];
    std::memset(label, 'Z', sizeof label);
    EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_ISO9660, label, nullptr, nullptr), 1);
    EXPECT_EQ(std::string(label, 33), std::string(32, 'V') + "Z");
}

}  // namespace
}  // namespace qorvex::test
