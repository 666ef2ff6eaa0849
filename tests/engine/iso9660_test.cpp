// ISO 9660 scan: descriptors, directory walk, path-table fallback, lists, dates and labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "api_helpers.h"
#include "iso9660/iso_scan.h"
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

}  // namespace
}  // namespace qorvex::test
