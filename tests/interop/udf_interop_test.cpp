// UDF images made by genisoimage and mkudffs, compared with what 7-Zip reads from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "qorvex.h"
#include "support/harness/udf_listing.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

class UdfInterop : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *tool : {"genisoimage", "mkudffs", "7z"})
            if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    TempDir dir;
};

TEST_F(UdfInterop, BridgeImageMatchesSevenZip) {
    const std::string src = dir / "src";
    ASSERT_EQ(RunCommand("mkdir -p '" + src + "/Sub Dir/deeper' && printf hello > '" + src + "/a.txt' && " +
                         "head -c 300001 /dev/urandom > '" + src + "/Sub Dir/big.bin' && " + "printf '' > '" + src +
                         "/empty.txt' && printf x > '" + src + "/Sub Dir/deeper/caf\xC3\xA9.txt'"),
              0);
    const std::string image = dir / "bridge.iso";
    ASSERT_EQ(RunCommand("genisoimage -quiet -udf -J -V BRIDGE -o '" + image + "' '" + src + "'"), 0);
    ASSERT_NE(CaptureCommand("7z l '" + image + "'").find("Type = Udf"), std::string::npos)
        << "7-Zip shows the UDF view of a bridge image";
    UdfListing l = ListUdf(image);
    ASSERT_EQ(l.open_error, 0);
    EXPECT_EQ(l.label, "BRIDGE");
    std::map<std::string, uint64_t> got, nonempty;
    for (const EntryInfo &e : l.files) {
        EXPECT_EQ(e.extent_count, 1);
        got[PortablePath(e.name)] = e.size_low | (uint64_t(e.size_high) << 32);
    }
    // The empty file has no extent, so it is not a file of the list; it has its identifier entry.
    for (const auto &[path, item] : SevenZipList(image))
        if (!item.folder && item.size != 0) nonempty[path] = item.size;
    EXPECT_EQ(got, nonempty);
    const std::vector<std::string> parts = l.PartNames();
    EXPECT_NE(std::find(parts.begin(), parts.end(), "udf entry  \\empty.txt"), parts.end());

    // Bytes: the engine's extraction against 7-Zip's.
    const std::string ours = dir / "ours", theirs = dir / "theirs";
    ASSERT_EQ(RunCommand("7z x -y -o'" + theirs + "' '" + image + "' > /dev/null"), 0);
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(image.c_str(), 0, &error);
    ASSERT_NE(h, nullptr);
    const int32_t count = QorvexGetFileStart(h, 0, KIND_UDF);
    for (int32_t i = 0; i < count; ++i) {
        EntryInfo e{};
        QorvexGetNextFile(h, &e);
        const std::string rel = PortablePath(e.name);
        const std::string out = ours + "/" + std::to_string(i);
        ASSERT_EQ(QorvexExtractCurrentFile2(h, out.c_str(), 0), 0) << rel;
        EXPECT_EQ(ReadFile(out), ReadFile(theirs + "/" + rel)) << rel;
    }
    QorvexClose(h);
}

// Empty volumes of each revision. 1.02 and 1.50 are read. mkudffs records the root of a 2.01 volume as an
// Extended File Entry, which refuses the volume; 2.50 and 2.60 keep the file set in a metadata partition
// (a map of type 2), which is not read as UDF either.
TEST_F(UdfInterop, EmptyVolumesOfEachRevision) {
    struct Case {
        const char *revision;
        const char *media;
        bool udf;
    };
    for (const Case &c : {Case{"0x0102", "hd", true}, Case{"0x0150", "hd", true}, Case{"0x0201", "hd", false},
                          Case{"0x0250", "bdr", false}, Case{"0x0260", "bdr", false}}) {
        SCOPED_TRACE(c.revision);
        const std::string image = dir / (std::string("v") + c.revision + ".img");
        ASSERT_EQ(RunCommand("truncate -s " + std::to_string(4000 * 2048) + " '" + image +
                             "' && mkudffs --media-type=" + c.media + " --udfrev=" + c.revision +
                             " --blocksize=2048 '" + image + "' 4000 > /dev/null 2>&1"),
                  0);
        UdfListing l = ListUdf(image);
        if (!c.udf) {
            EXPECT_EQ(l.open_error, ENGINE_UNKNOWN_FORMAT);
            continue;
        }
        ASSERT_EQ(l.open_error, 0);
        EXPECT_TRUE(l.files.empty());
        const std::vector<std::string> names = l.PartNames();
        for (const char *part : {"BEA01", "NSR02", "TEA01", "PVD  (main)", "PVD  (reserve)", "LVD  (main)",
                                 "LVD  (reserve)", "LVID", "FSD", "udf entry  \\", "udf folder \\"})
            EXPECT_NE(std::find(names.begin(), names.end(), part), names.end()) << part;
    }
}

}  // namespace
}  // namespace qorvex::test
