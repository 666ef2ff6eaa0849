// UDF volumes made by the builder, read through the public interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "support/harness/udf_listing.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

UdfOptions SampleOptions() {
    UdfOptions o;
    UdfNode wide = UdfFileNode("", "wide", UdfAd::Long);
    wide.name = u"\u65e5\u672c.txt";
    wide.wide = true;
    UdfNode hidden = UdfFileNode("HIDDEN.BIN", "secret");
    hidden.hidden = true;
    UdfNode split = UdfFileNode("SPLIT.BIN", PatternText(5000, 'a'));
    split.extents = 2;
    o.root.children = {UdfFileNode("A.TXT", "hello"),
                       UdfDirNode("DOCS", {UdfFileNode("B.TXT", PatternText(3000, 'b')),
                                           UdfFileNode("EMB.TXT", "inside the entry", UdfAd::Embedded)}),
                       wide,
                       hidden,
                       split,
                       UdfFileNode("EMPTY", "")};
    return o;
}

class UdfVolume : public ::testing::Test {
protected:
    UdfListing List(UdfImage &image) {
        WriteFile(dir / "u.img", image.bytes);
        return ListUdf(dir / "u.img");
    }
    TempDir dir;
};

TEST_F(UdfVolume, ListsAndExtractsFilesWithTheirExtents) {
    ASSERT_TRUE(platform::SetCodePage("UTF-8"));  // the Japanese name below (Windows starts in its ANSI code page)
    UdfImage image = BuildUdf(SampleOptions());
    UdfListing l = List(image);
    ASSERT_EQ(l.open_error, 0);
    EXPECT_EQ(l.label, "UDFVOLUME");
    // Depth first in recorded order; folders and the empty file are not files.
    EXPECT_EQ(l.FileNames(),
              (std::vector<std::string>{"\\A.TXT", "\\DOCS\\B.TXT", "\\DOCS\\EMB.TXT", "\\\xE6\x97\xA5\xE6\x9C\xAC.txt",
                                        "\\HIDDEN.BIN", "\\SPLIT.BIN", "\\SPLIT.BIN"}));
    ASSERT_EQ(l.files.size(), 7u);
    const EntryInfo &b = l.files[1];
    EXPECT_EQ(b.kind, 31);
    EXPECT_EQ(b.size_low, 3000u);
    EXPECT_EQ(static_cast<uint32_t>(b.start), image.layout.files["\\DOCS\\B.TXT"].extents[0][0]);
    EXPECT_EQ(b.sectors, 2);
    EXPECT_EQ(b.time, 1588748889);
    EXPECT_EQ(b.attributes, 0);
    const EntryInfo &emb = l.files[2];
    EXPECT_EQ(static_cast<uint32_t>(emb.start), image.layout.files["\\DOCS\\EMB.TXT"].fe_sector);
    EXPECT_EQ(emb.offset, 176);
    EXPECT_EQ(emb.size_low, 16u);
    EXPECT_EQ(emb.sectors, 1);
    EXPECT_EQ(l.files[4].attributes, 0x02);
    const auto &split = image.layout.files["\\SPLIT.BIN"].extents;
    for (int k = 0; k < 2; ++k) {
        const EntryInfo &e = l.files[5 + k];
        EXPECT_EQ(e.extent_count, 2);
        EXPECT_EQ(e.extent_index, k);
        EXPECT_EQ(static_cast<uint32_t>(e.start), split[k][0]);
        EXPECT_EQ(e.size_low, split[k][1]);
    }
    EXPECT_NE(split[0][0] + 2, split[1][0] + 0u) << "the builder leaves a gap between extents";

    // Every file extracts joined: a split file whole from either of its extents.
    const std::vector<std::string> contents = {"hello",  PatternText(3000, 'b'), "inside the entry",    "wide",
                                               "secret", PatternText(5000, 'a'), PatternText(5000, 'a')};
    Opened h(dir / "u.img");
    ASSERT_EQ(QorvexGetFileStart(h.get(), 0, KIND_UDF), 7);
    for (const std::string &expected : contents) {
        EntryInfo e{};
        QorvexGetNextFile(h.get(), &e);
        ASSERT_EQ(QorvexExtractCurrentFile2(h.get(), (dir / "out").c_str(), 0), 0) << e.name;
        EXPECT_EQ(ReadText(dir / "out"), expected) << e.name;
    }
}

TEST_F(UdfVolume, ListsSystemPartsInOrder) {
    UdfOptions o = SampleOptions();
    o.reserve = false;
    UdfImage image = BuildUdf(o);
    UdfListing l = List(image);
    ASSERT_EQ(l.open_error, 0);
    const std::vector<std::string> names = l.PartNames();
    const std::vector<std::string> head = {"BEA01",
                                           "NSR02",
                                           "TEA01",
                                           "AVDP (256)",
                                           "AVDP (" + std::to_string(image.layout.anchor_last) + ")",
                                           "AVDP (" + std::to_string(image.layout.anchor_last256) + ")",
                                           "PVD",
                                           "IUVD",
                                           "PD",
                                           "USD",
                                           "TD   (37)",
                                           "TD   (65)",
                                           "TD   (263)",
                                           "LVD",
                                           "LVID",
                                           "FSD",
                                           "udf entry  \\",
                                           "udf entry  \\A.TXT",
                                           "udf entry  \\DOCS\\"};
    ASSERT_GE(names.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + head.size()), head);
    // The empty file still has its identifier entry; folders appear as folder parts; free space last.
    EXPECT_NE(l.Part("udf entry  \\EMPTY"), nullptr);
    EXPECT_EQ(l.Part("udf folder \\EMPTY"), nullptr);
    const EntryInfo *docs = l.Part("udf folder \\DOCS\\");
    ASSERT_NE(docs, nullptr);
    EXPECT_EQ(docs->attributes, 0x10);
    EXPECT_EQ(docs->kind, 32);
    EXPECT_EQ(names.back(), "udf free sector");
    EXPECT_EQ(l.parts.back().size_low, 4096u);
    EXPECT_EQ(l.parts.back().sectors, 2);
    EXPECT_EQ(l.parts.back().start, 600);
    const EntryInfo *tea = l.Part("TEA01");
    EXPECT_EQ(tea->size_low, 512u);
    const EntryInfo *lvd = l.Part("LVD");
    EXPECT_EQ(lvd->size_low, 446u);
    EXPECT_EQ(lvd->start, 35);
    EXPECT_EQ(l.Part("LVID")->size_low, 134u);
    EXPECT_EQ(l.Part("USD")->size_low, 32u);
    EXPECT_EQ(l.Part("PVD")->time, 1588748889);
    const EntryInfo *root = l.Part("udf entry  \\");
    EXPECT_EQ(root->kind, 33);
    EXPECT_EQ(static_cast<uint32_t>(root->start), image.layout.files["\\"].fe_sector);
    EXPECT_EQ(root->size_low, 2048u);
    EXPECT_EQ(root->time, 0);
}

}  // namespace
}  // namespace qorvex::test
