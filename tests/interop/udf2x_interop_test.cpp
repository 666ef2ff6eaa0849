// UDF 2.x images made by mkudffs (every media type and revision it writes) and by the project's builder,
// read with OPEN_UDF_2X and compared with udfinfo (labels, block numbers), udfclient and 7-Zip (trees,
// sizes, bytes, dates).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/peers.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

struct Ours {
    int32_t error = -1;
    std::string label;
    std::map<std::string, PeerFile> files;      // "a/b.txt"
    std::multimap<std::string, int32_t> parts;  // name -> start
};

// Everything the engine lists with the bit on, every file extracted (joined) from a scratch folder.
Ours ListOurs(const std::string &image, const std::string &scratch) {
    Ours out;
    out.error = 0;  // left as it is on success
    QorvexHandle h = QorvexOpen(image.c_str(), OPEN_UDF_2X, &out.error);
    if (!h) return out;
    const int32_t files = QorvexGetFileStart(h, 0, KIND_UDF);
    for (int32_t i = 0; i < files; ++i) {
        EntryInfo e{};
        QorvexGetNextFile(h, &e);
        if (e.extent_index != 0) continue;
        const std::string target = scratch + "/f" + std::to_string(i);
        EXPECT_EQ(QorvexExtractCurrentFile2(h, target.c_str(), 0), 0) << e.name;
        PeerFile f;
        f.bytes = ReadFile(target);
        f.size = f.bytes.size();
        f.modified = e.time;
        out.files[PortablePath(e.name)] = f;
    }
    const int32_t parts = QorvexGetModuleStart(h, 0, KIND_UDF);
    for (int32_t i = 0; i < parts; ++i) {
        EntryInfo e{};
        QorvexGetNextModule(h, &e);
        out.parts.emplace(e.name, e.start);
    }
    char label[64] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    QorvexGetImageInformation(h, 0, KIND_UDF, label, &sectors, &bytes);
    out.label = label;
    QorvexClose(h);
    return out;
}

class Udf2xInterop : public ::testing::Test {
protected:
    void Need(std::initializer_list<const char *> tools) {
        for (const char *tool : tools)
            if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    TempDir dir;
};

// Every media type at every revision mkudffs writes: the volume opens with the bit, the blocks of its
// structures are udfinfo's; what opened without the bit lists the same with it.
TEST_F(Udf2xInterop, MkudffsEveryMediaTypeAndRevision) {
    Need({"mkudffs", "udfinfo"});
    int made = 0;
    for (const char *media : {"hd", "dvd", "dvdrw", "cdr", "cdrw", "bdr"}) {
        for (const char *revision : {"0x0102", "0x0150", "0x0200", "0x0201", "0x0250", "0x0260"}) {
            SCOPED_TRACE(std::string(media) + " " + revision);
            const std::string image = dir / (std::string(media) + revision + ".img");
            // mkudffs refuses the combinations the media cannot carry (cdrw at 1.02, bdr below 2.50, ...).
            if (RunCommand("mkudffs --media-type=" + std::string(media) + " --udfrev=" + revision +
                           " --blocksize=2048 --label=Q" + media + " '" + image + "' 8000 > /dev/null 2>&1") != 0)
                continue;
            ++made;
            const Ours ours = ListOurs(image, dir.path());
            ASSERT_EQ(ours.error, 0);
            const UdfInfo info = RunUdfInfo(image);
            // The label of a volume without files is not given (as described); udfinfo's is checked on the
            // builder's populated volumes.
            EXPECT_EQ(info.values.at("label"), std::string("Q") + media);
            EXPECT_TRUE(ours.files.empty());
            EXPECT_EQ(ours.parts.count("udf entry  \\"), 1u);
            EXPECT_EQ(Starts(ours.parts, "LVID"), Starts(info.areas, "LVID"));
            EXPECT_EQ(Starts(ours.parts, "AVDP", true), Starts(info.areas, "ANCHOR"));
            const std::string main = ours.parts.count("PVD  (main)") ? "PVD  (main)" : "PVD";
            EXPECT_EQ(Starts(ours.parts, main), Starts(info.areas, "MVDS"));
            EXPECT_EQ(Starts(ours.parts, "SPARING TABLE", true), Starts(info.areas, "STABLE"));
            if (info.values.count("vatblock")) {
                EXPECT_EQ(Starts(ours.parts, "VAT ICB"), std::vector<int32_t>{std::stoi(info.values.at("vatblock"))});
            } else {
                EXPECT_EQ(ours.parts.count("VAT ICB"), 0u);
            }

            int32_t error = 0;
            QorvexHandle plain = QorvexOpen(image.c_str(), 0, &error);
            if (plain) {
                // Opened before: the same parts with the bit (none of the new kinds appear).
                std::multimap<std::string, int32_t> before;
                for (const Listed &e : ListEntries(plain, 0, KIND_UDF, true)) before.emplace(e.name(), e.info.start);
                QorvexClose(plain);
                EXPECT_EQ(before, ours.parts);
            }
        }
    }
    EXPECT_GE(made, 20) << "mkudffs wrote fewer combinations than expected";
}

struct Built {
    const char *name;
    UdfMapping mapping;
    bool extended;
    bool vat150;
    std::vector<uint32_t> spared;
    bool broken_main;  // metadata file unreadable: the mirror is read
};

UdfOptions PeerTree(const Built &c) {
    UdfOptions o;
    o.mapping = c.mapping;
    o.nsr = "NSR03";
    o.all_extended = c.extended;
    o.vat150 = c.vat150;
    o.spared_packets = c.spared;
    if (c.mapping == UdfMapping::Sparable) o.partition_start = 320;
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 97);
    UdfNode split = UdfFileNode("split.bin", big.substr(0, 3 * 4096), UdfAd::Long);  // whole blocks but the last
    split.extents = 3;
    UdfNode dated = UdfFileNode("dated.txt", "zone");
    dated.modified = {2011, 12, 13, 14, 15, 16, -300};
    std::vector<UdfNode> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(UdfFileNode("entry_number_" + std::to_string(i) + ".txt", "#" + std::to_string(i)));
    o.root.children = {UdfFileNode("a.txt", "hello"),
                       UdfDirNode("Sub_Dir", {UdfFileNode("big.bin", big),
                                              UdfDirNode("deeper", {UdfFileNode("c.txt", "x", UdfAd::Embedded)})}),
                       split, dated, UdfDirNode("many", many)};
    return o;
}

// Builder layouts no tool here can write: trees, sizes, bytes and dates equal udfclient's (which reads every
// map kind), labels equal udfinfo's.
TEST_F(Udf2xInterop, BuilderLayoutsMatchUdfclient) {
    Need({"udfclient", "udfinfo"});
    for (const Built &c : {Built{"physical, extended entries", UdfMapping::Physical, true, false, {}, false},
                           Built{"virtual", UdfMapping::Virtual, true, false, {}, false},
                           Built{"virtual 1.50", UdfMapping::Virtual, false, true, {}, false},
                           Built{"sparable", UdfMapping::Sparable, true, false, {32, 64}, false},
                           Built{"metadata", UdfMapping::Metadata, true, false, {}, false},
                           Built{"metadata, mirror", UdfMapping::Metadata, true, false, {}, true}}) {
        SCOPED_TRACE(c.name);
        UdfImage image = BuildUdf(PeerTree(c));
        const std::string path = dir / "b.img", intact = dir / "intact.img";
        WriteFile(intact, image.bytes);
        // udfclient does not fall back to the mirror: it reads the intact image, the engine the damaged one.
        if (c.broken_main) image.At(image.layout.metadata_file)[40] ^= 0xFF;
        WriteFile(path, image.bytes);
        const std::string scratch = dir / (std::string("s") + std::to_string(c.mapping == UdfMapping::Metadata) +
                                           std::to_string(c.broken_main) + std::to_string(c.vat150) +
                                           std::to_string(static_cast<int>(c.mapping)));
        RunCommand("mkdir -p '" + scratch + "'");
        const Ours ours = ListOurs(path, scratch);
        ASSERT_EQ(ours.error, 0);
        EXPECT_EQ(ours.label, RunUdfInfo(path).values["label"]);
        const std::map<std::string, PeerFile> theirs = UdfClientFiles(intact, scratch);
        EXPECT_EQ(theirs.size(), 45u);
        EXPECT_EQ(Differences(ours.files, theirs), "");
        if (c.mapping == UdfMapping::Sparable) {
            EXPECT_EQ(Starts(ours.parts, "SPARING TABLE", true), Starts(RunUdfInfo(path).areas, "STABLE"));
        }
        if (c.mapping == UdfMapping::Virtual) {
            EXPECT_EQ(Starts(ours.parts, "VAT ICB"),
                      std::vector<int32_t>{std::stoi(RunUdfInfo(path).values["vatblock"])});
        }
    }
}

// 7-Zip reads the physical layout with extended file entries: the same files, bytes and dates.
TEST_F(Udf2xInterop, ExtendedEntriesMatchSevenZip) {
    Need({"7z"});
    const UdfImage image = BuildUdf(PeerTree({"", UdfMapping::Physical, true, false, {}, false}));
    const std::string path = dir / "e.img";
    WriteFile(path, image.bytes);
    const Ours ours = ListOurs(path, dir.path());
    ASSERT_EQ(ours.error, 0);
    const std::map<std::string, PeerFile> theirs = SevenZipFiles(path, dir.path());
    EXPECT_EQ(theirs.size(), 45u);
    EXPECT_EQ(Differences(ours.files, theirs), "");
}

}  // namespace
}  // namespace qorvex::test
