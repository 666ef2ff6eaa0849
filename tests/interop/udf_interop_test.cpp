// UDF images made by genisoimage, by mkudffs (every media type and revision it writes) and by the project's
// builder, compared with udfinfo (labels, block numbers), udfclient and 7-Zip (trees, sizes, bytes, dates).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/harness/udf_listing.h"
#include "support/peers.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

struct Ours {
    UdfListing listing;                         // open error, label, entries
    std::map<std::string, PeerFile> files;      // "a/b.txt"
    std::multimap<std::string, int32_t> parts;  // name -> start
};

// Everything the engine lists, every file extracted (joined) into a scratch folder.
Ours ListOurs(const std::string &image, const std::string &scratch, uint32_t options = OPEN_UDF_2X) {
    Ours out;
    out.listing = ListUdf(image, options);
    for (const EntryInfo &e : out.listing.parts) out.parts.emplace(e.name, e.start);
    Opened opened(image, options);
    const int32_t files = opened ? QorvexGetFileStart(opened.get(), 0, KIND_UDF) : 0;
    for (int32_t i = 0; i < files; ++i) {
        EntryInfo e{};
        QorvexGetNextFile(opened.get(), &e);
        if (e.extent_index != 0) continue;
        const std::string target = scratch + "/f" + std::to_string(i);
        EXPECT_EQ(QorvexExtractCurrentFile2(opened.get(), target.c_str(), 0), 0) << e.name;
        PeerFile f = Extracted(target);
        f.modified = e.time;  // the date the engine lists
        out.files[PortablePath(e.name)] = f;
    }
    return out;
}

TEST(UdfInterop, BridgeImageMatchesSevenZip) {
    if (MissingAny({"genisoimage", "7z"})) GTEST_SKIP() << "genisoimage and 7z are needed";
    TempDir dir;
    const std::string src = dir / "src";
    ASSERT_EQ(RunCommand("mkdir -p '" + src + "/Sub Dir/deeper' && printf hello > '" + src + "/a.txt' && " +
                         "head -c 300001 /dev/urandom > '" + src + "/Sub Dir/big.bin' && " + "printf '' > '" + src +
                         "/empty.txt' && printf x > '" + src + "/Sub Dir/deeper/caf\xC3\xA9.txt'"),
              0);
    const std::string image = dir / "bridge.iso";
    ASSERT_EQ(RunCommand("genisoimage -quiet -udf -J -V BRIDGE -o '" + image + "' '" + src + "'"), 0);
    ASSERT_NE(CaptureCommand("7z l '" + image + "'").find("Type = Udf"), std::string::npos)
        << "7-Zip shows the UDF view of a bridge image";
    const Ours ours = ListOurs(image, dir.path(), 0);
    const UdfListing &l = ours.listing;
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
    // Bytes and dates: the engine's extraction against 7-Zip's.
    EXPECT_EQ(Differences(ours.files, SevenZipFiles(image, dir.path())), "");
}

// Every media type at every revision mkudffs writes: the volume opens with the bit, the blocks of its
// structures are udfinfo's; what opened without the bit lists the same with it. Without the bit 1.02 and
// 1.50 are read; mkudffs records the root of a 2.01 volume as an Extended File Entry, and 2.50 and 2.60 keep
// the file set in a metadata partition (a map of type 2): neither is read as UDF then.
TEST(UdfInterop, MkudffsEveryMediaTypeAndRevision) {
    if (MissingAny({"mkudffs", "udfinfo"})) GTEST_SKIP() << "mkudffs and udfinfo are needed";
    TempDir dir;
    int made = 0;
    for (const std::string media : {"hd", "dvd", "dvdrw", "cdr", "cdrw", "bdr"}) {
        for (const std::string revision : {"0x0102", "0x0150", "0x0200", "0x0201", "0x0250", "0x0260"}) {
            SCOPED_TRACE(media + " " + revision);
            const std::string image = dir / (media + revision + ".img");
            // mkudffs refuses the combinations the media cannot carry (cdrw at 1.02, bdr below 2.50, ...).
            if (RunCommand("mkudffs --media-type=" + media + " --udfrev=" + revision + " --blocksize=2048 --label=Q" +
                           media + " '" + image + "' 8000 > /dev/null 2>&1") != 0)
                continue;
            ++made;
            const Ours ours = ListOurs(image, dir.path());
            ASSERT_EQ(ours.listing.open_error, 0);
            const UdfInfo info = RunUdfInfo(image);
            // The label of a volume without files is not given (as described); udfinfo's is checked on the
            // builder's populated volumes.
            EXPECT_EQ(info.values.at("label"), "Q" + media);
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

            const Ours plain = ListOurs(image, dir.path(), 0);
            if (media == "hd" || media == "bdr") {
                EXPECT_EQ(plain.listing.open_error, revision < "0x0200" ? 0 : ENGINE_UNKNOWN_FORMAT);
            }
            if (plain.listing.open_error != 0) continue;
            // Opened before: the same parts with the bit (none of the new kinds appear).
            EXPECT_EQ(plain.parts, ours.parts);
            for (const char *part : {"BEA01", "NSR02", "TEA01", "PVD  (main)", "PVD  (reserve)", "LVD  (main)",
                                     "LVD  (reserve)", "LVID", "FSD", "udf entry  \\", "udf folder \\"})
                EXPECT_EQ(plain.parts.count(part), 1u) << part;
        }
    }
    EXPECT_GE(made, 20) << "mkudffs wrote fewer combinations than expected";
}

// UDF 1.50 volumes for hard disks at every block size mkudffs writes: with the bit each opens, its structures at
// udfinfo's blocks (as 2048-byte sectors and byte offsets, where the root's file entry tag lies), its label
// given though it holds no file. Without the bit only the 2048-byte one opens, as before.
TEST(UdfInterop, MkudffsEveryBlockSize) {
    if (MissingAny({"mkudffs", "udfinfo"})) GTEST_SKIP() << "mkudffs and udfinfo are needed";
    TempDir dir;
    for (const int block : {512, 1024, 2048, 4096}) {
        SCOPED_TRACE(block);
        const std::string image = dir / ("hd" + std::to_string(block) + ".img"), label = "HD" + std::to_string(block);
        ASSERT_EQ(RunCommand("mkudffs --media-type=hd --udfrev=0x0150 --label=" + label +
                             " --blocksize=" + std::to_string(block) + " '" + image + "' 3000 > /dev/null 2>&1"),
                  0);
        const Ours ours = ListOurs(image, dir.path());
        ASSERT_EQ(ours.listing.open_error, 0);
        EXPECT_EQ(ListUdf(image, 0).open_error, block == 2048 ? 0 : ENGINE_UNKNOWN_FORMAT);
        std::vector<int32_t> anchors = Starts(RunUdfInfo(image).areas, "ANCHOR");
        for (int32_t &b : anchors) b = static_cast<int32_t>(int64_t(b) * block / 2048);
        EXPECT_EQ(Starts(ours.parts, "AVDP", true), anchors);
        const std::vector<uint8_t> bytes = ReadFile(image);
        for (const EntryInfo &e : ours.listing.parts)
            EXPECT_TRUE(std::string(e.name) != "udf entry  \\" || bytes.at(size_t(e.start) * 2048 + e.offset) == 5)
                << "the root's file entry: tag 261";
        Opened opened(image, OPEN_UDF_2X);
        char text[33] = {};
        EXPECT_EQ(QorvexExGetVolumeLabel(opened.get(), 0, KIND_UDF, text, sizeof text), int32_t(label.size()));
        EXPECT_EQ(text, label);
    }
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
// map kind); labels equal udfinfo's. (Sparing tables and VAT blocks against udfinfo: MkudffsEveryMediaTypeAndRevision.)
TEST(UdfInterop, BuilderLayoutsMatchUdfclient) {
    if (MissingAny({"udfclient", "udfinfo"})) GTEST_SKIP() << "udfclient and udfinfo are needed";
    TempDir dir;
    const Built layouts[] = {{"physical, extended entries", UdfMapping::Physical, true, false, {}, false},
                             {"virtual", UdfMapping::Virtual, true, false, {}, false},
                             {"virtual 1.50", UdfMapping::Virtual, false, true, {}, false},
                             {"sparable", UdfMapping::Sparable, true, false, {32, 64}, false},
                             {"metadata", UdfMapping::Metadata, true, false, {}, false},
                             {"metadata, mirror", UdfMapping::Metadata, true, false, {}, true}};
    for (const Built &c : layouts) {
        SCOPED_TRACE(c.name);
        UdfImage image = BuildUdf(PeerTree(c));
        const std::string path = dir / "b.img", intact = dir / "intact.img";
        WriteFile(intact, image.bytes);
        // udfclient does not fall back to the mirror: it reads the intact image, the engine the damaged one.
        if (c.broken_main) image.At(image.layout.metadata_file)[40] ^= 0xFF;
        WriteFile(path, image.bytes);
        const std::string scratch = dir / ("s" + std::to_string(&c - layouts));
        RunCommand("mkdir -p '" + scratch + "'");
        const Ours ours = ListOurs(path, scratch);
        ASSERT_EQ(ours.listing.open_error, 0);
        const UdfInfo info = RunUdfInfo(path);
        EXPECT_EQ(ours.listing.label, info.values.at("label"));
        const std::map<std::string, PeerFile> theirs = UdfClientFiles(intact, scratch);
        EXPECT_EQ(theirs.size(), 45u);
        EXPECT_EQ(Differences(ours.files, theirs), "");
    }
}

}  // namespace
}  // namespace qorvex::test
