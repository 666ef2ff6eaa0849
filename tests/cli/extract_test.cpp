// qorvex info / ls / extract / extract-part on genisoimage images against the source and 7-Zip: listings, a whole
// tree, named paths, overwrite refusal, bad input; a UDF bridge disc, and a built UDF volume whose file is
// recorded in several extents. What the patterns select and where names land is the extraction job's (tests/host).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iterator>
#include <map>
#include <sstream>

#include "support/harness/cli_harness.h"
#include "support/udf_builder.h"

namespace cli_test {
namespace {

using qorvex::test::CaptureCommand;
using qorvex::test::Extracted;
using qorvex::test::PortablePath;

// The whitespace-separated fields of the lines of a listing that hold `name`.
std::vector<std::vector<std::string>> LinesWith(const std::string &listing, const std::string &name) {
    std::vector<std::vector<std::string>> found;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        if (line.find(name) == std::string::npos) continue;
        std::istringstream fields(line);
        found.emplace_back(std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>());
    }
    return found;
}

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override {
        src = dir / "src";
        RunCommand("mkdir -p " + Quote(src + "/DOCS/deep/deeper") + " " + Quote(src + "/写真"));
        WriteFile(src + "/a.txt", "alpha\n");
        WriteFile(src + "/empty.dat", "");
        for (int n : {2047, 2048, 2049}) WriteFile(src + "/size" + std::to_string(n) + ".bin", std::string(n, 'z'));
        WriteFile(src + "/DOCS/readme.txt", std::string(70000, 'r'));
        WriteFile(src + "/DOCS/deep/deeper/leaf.txt", "leaf");
        WriteFile(src + "/写真/夏.jpg", "not really a picture");
        WriteFile(src + "/Ünïcödé mixed Case name.text", "latin");
        RunCommand("touch -d '1999-12-31 23:59:58 UTC' " + Quote(src + "/a.txt"));
        RunCommand("touch -d '2024-02-29 23:30:00 UTC' " + Quote(src + "/DOCS/readme.txt"));
        RunCommand("touch -d '2001-02-03 04:05:06 UTC' " + Quote(src + "/size2048.bin"));
        image = dir / "tree.iso";
        MakeIso(image, "-J -joliet-long -V 'LIST LABEL' -input-charset utf-8", src);
    }
    TempDir dir;
    std::string src, image;
};

TEST_F(ExtractTest, JolietListingMatchesSevenZip) {
    Result r = Qorvex({"ls", image, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // One "path<TAB>size" line per entry, as Python reads the JSON back.
    std::istringstream in(
        EachJsonEntry(r.out, "e[\"type\"] == \"file\" and print(e[\"name\"] + \"\\t\" + str(e[\"size\"]))"));
    std::map<std::string, std::string> ours, theirs;
    for (std::string line; std::getline(in, line);)
        ours[PortablePath(line.substr(0, line.find('\t')))] = line.substr(line.find('\t') + 1);
    for (const auto &[path, item] : qorvex::test::SevenZipList(image))
        if (!item.folder) theirs[path] = std::to_string(item.size);
    ASSERT_EQ(theirs.size(), 9u);
    EXPECT_EQ(ours, theirs);

    // The plain listing gives the same names (and the folders), one a line.
    Result plain = Qorvex({"ls", image});
    EXPECT_NE(plain.out.find("\\写真\\夏.jpg\n"), std::string::npos) << plain.out;
}

// Folders in the listing (auto chose Joliet), files to standard output, and errors that say what is wrong.
TEST_F(ExtractTest, FoldersStdoutAndClearErrors) {
    const Result ls = Qorvex({"ls", image});
    EXPECT_NE(ls.out.find("\\DOCS\\deep\\\n"), std::string::npos) << ls.out;
    EXPECT_EQ(Qorvex({"ls", image, "--files-only"}).out.find("\\DOCS\\deep\\\n"), std::string::npos);
    EXPECT_EQ(EachJsonEntry(Qorvex({"ls", image, "--json"}).out, "e[\"type\"] == \"folder\" and print(e[\"fs\"])"),
              "joliet\njoliet\njoliet\njoliet\n");

    // In listing order, whatever the order of the paths asked for.
    EXPECT_EQ(Qorvex({"extract", image, "-O", "a.txt", "DOCS/deep"}).out, "leafalpha\n");
    EXPECT_EQ(Qorvex({"extract", image, "-o", "-"}).status, 2);
    const Result udf = Qorvex({"ls", image, "--fs", "udf"});
    EXPECT_EQ(udf.status, 1);
    EXPECT_NE(udf.err.find("has no UDF file system; it has Joliet, ISO 9660"), std::string::npos) << udf.err;

    // The system's own words for a write that failed (here past the file size limit).
    const std::string limited = CaptureCommand("bash -c 'trap \"\" XFSZ; ulimit -f 32; \"$QORVEX_CLI\" -q extract " +
                                               Quote(image) + " -o " + Quote(dir / "limited") + " 2>&1'");
    EXPECT_NE(limited.find("DOCS/readme.txt: writing failed: File too large"), std::string::npos) << limited;
    WriteFile(dir / "lost.cue", "FILE \"gone.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n");
    const Result lost = Qorvex({"ls", dir / "lost.cue"});
    EXPECT_NE(lost.err.find("names \"gone.bin\", which is not in its folder"), std::string::npos) << lost.err;
}

TEST_F(ExtractTest, LongListingAndInfoShowDatesLabelsAndCounts) {
    Result iso = Qorvex({"ls", image, "--fs", "iso", "--long"});
    ASSERT_EQ(iso.status, 0) << iso.err;
    // size, date, start, sectors, extent, name; the start is wherever genisoimage put the file.
    auto found = LinesWith(iso.out, "\\SIZE2048.BIN;1");
    ASSERT_EQ(found.size(), 1u) << iso.out;
    found[0].at(2) = "start";
    EXPECT_EQ(found[0],
              (std::vector<std::string>{"2048", "2001-02-03T04:05:06Z", "start", "1", "0/1", "\\SIZE2048.BIN;1"}));

    Result info = Qorvex({"info", image});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("ISO 9660  label \"LIST LABEL\", 9 files"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Joliet    label \"LIST LABEL\", 9 files"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("UDF"), std::string::npos) << info.out;
    std::string sectors_text = std::to_string(ReadFile(image).size() / 2048) + " sectors";
    EXPECT_NE(info.out.find(sectors_text), std::string::npos) << info.out;
}

TEST_F(ExtractTest, SystemPartsListAndExtractByName) {
    Result parts = Qorvex({"ls", image, "--fs", "iso", "--system"});
    ASSERT_EQ(parts.status, 0) << parts.err;
    EXPECT_NE(parts.out.find("PVD\n"), std::string::npos) << parts.out;
    EXPECT_NE(parts.out.find("iso9660 folder \\DOCS\\DEEP\\\n"), std::string::npos) << parts.out;

    Result pvd = Qorvex({"extract-part", image, "PVD", "-o", dir / "pvd.bin", "--fs", "iso"});
    ASSERT_EQ(pvd.status, 0) << pvd.err;
    std::vector<uint8_t> bytes = ReadFile(image);
    std::vector<uint8_t> sector16(bytes.begin() + 16 * 2048, bytes.begin() + 17 * 2048);
    EXPECT_TRUE(ReadFile(dir / "pvd.bin") == sector16);

    // auto searches the other file systems too: the Joliet listing has no "PVD", ISO 9660 has.
    ASSERT_EQ(Qorvex({"extract-part", image, "PVD", "-o", dir / "pvd2.bin"}).status, 0);
    EXPECT_TRUE(ReadFile(dir / "pvd2.bin") == sector16);

    Result missing = Qorvex({"extract-part", image, "pvd", "-o", dir / "x.bin"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no system part named \"pvd\""), std::string::npos) << missing.err;
    EXPECT_FALSE(Exists(dir / "x.bin"));
}

// The host sets the engine's times as they are; their reading in every zone is InteropTest's. One zone away from
// UTC here catches a host that converts them again.
TEST_F(ExtractTest, WholeTreeMatchesSource) {
    const std::string out = dir / "out";
    const qorvex::test::ScopedZone zone("Asia/Tokyo");
    Result r = Qorvex({"extract", image, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    std::vector<std::string> files = FilesBelow(out);
    ASSERT_EQ(files, FilesBelow(src));
    for (const auto &f : files) EXPECT_TRUE(Extracted(out + "/" + f) == Extracted(src + "/" + f)) << f;
}

TEST_F(ExtractTest, NamedPathsMatchInEveryWrittenForm) {
    const std::string out = dir / "named";
    // "docs" matches "DOCS" only because nothing matches it exactly.
    Result r = Qorvex({"extract", image, "--fs", "iso", "-o", out, "DOCS/README.TXT", "\\SIZE2049.BIN;1", "/docs/deep",
                       "/docs/nothing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/docs/nothing: not found"), std::string::npos) << r.err;
    EXPECT_EQ(FilesBelow(out),
              (std::vector<std::string>{"DOCS/DEEP/DEEPER/LEAF.TXT", "DOCS/README.TXT", "SIZE2049.BIN"}));
}

TEST_F(ExtractTest, ExistingFilesAreRefusedUnlessOverwrite) {
    const std::string out = dir / "again";
    ASSERT_EQ(Qorvex({"extract", image, "-o", out, "a.txt"}).status, 0);
    WriteFile(out + "/a.txt", "changed");

    Result refused = Qorvex({"extract", image, "-o", out, "a.txt"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("a.txt: exists"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadText(out + "/a.txt"), "changed");
    Result replaced = Qorvex({"extract", image, "-o", out, "--overwrite", "a.txt"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ReadText(out + "/a.txt"), "alpha\n");
}

TEST(ExtractBadInput, EveryBadImageGivesAClearMessage) {
    TempDir dir;
    WriteFile(dir / "notes.txt", "just some text, not a disc image\n");
    WriteFile(dir / "empty.iso", "");
    RunCommand("mkdir -p " + Quote(dir / "folder.iso") + " " + Quote(dir / "src"));
    ASSERT_EQ(mkfifo((dir / "pipe.iso").c_str(), 0600), 0);
    WriteFile(dir / "src/file.txt", std::string(100000, 'f'));
    std::vector<uint8_t> image = MakeIso(dir / "full.iso", "", dir / "src");
    image.resize(18 * 2048);  // descriptors kept, directories and data cut off
    WriteFile(dir / "truncated.iso", image);

    struct Case {
        const char *file;
        const char *message;
    } cases[] = {
        {"missing.iso", "No such file"}, {"folder.iso", "is a folder"}, {"pipe.iso", "not a regular file"},
        {"notes.txt", "0x8123"},         {"empty.iso", "0x8123"},       {"truncated.iso", "qorvex: "},
    };
    for (const auto &c : cases) {
        for (const char *command : {"ls", "info", "tracks"}) {
            Result r = Qorvex({command, dir / c.file});
            SCOPED_TRACE(std::string(command) + " " + c.file);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
    }
    Result bad = Qorvex({"ls", dir / "full.iso", "--fs", "hfs"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(Qorvex({"frobnicate"}).status, 2);
    for (const char *command : {"tracks", "extract-track", "info", "ls", "extract", "extract-part"}) {
        Result help = Qorvex({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find(std::string("Usage: qorvex ") + command), std::string::npos) << help.out;
    }
}

TEST(UdfCli, BridgeDiscExtractsWholeIncludingEmptyFilesAndFolderDates) {
    TempDir dir;
    const std::string src = dir / "src";
    RunCommand("mkdir -p " + Quote(src + "/Docs/Sub"));
    WriteFile(src + "/Docs/Sub/empty", "");
    WriteFile(src + "/Docs/long name with spaces.txt", std::string(4097, 'q'));
    WriteFile(src + "/top.bin", std::string(2048, 't'));
    RunCommand("find " + Quote(src) + " -exec touch -d '2021-05-06 07:08:09 UTC' {} +");
    MakeIso(dir / "bridge.iso", "-udf -input-charset utf-8", src);

    Result info = Qorvex({"info", dir / "bridge.iso"});
    EXPECT_NE(info.out.find("UDF       label \"CDROM\", 2 files"), std::string::npos) << info.out;

    Result r = Qorvex({"extract", dir / "bridge.iso", "--fs", "udf", "-o", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> files = FilesBelow(dir / "out");
    EXPECT_EQ(files, FilesBelow(src));
    for (const auto &f : files) EXPECT_TRUE(ReadFile(dir / "out/" + f) == ReadFile(src + "/" + f)) << f;
    // Folders and the empty file take their entries' dates too.
    const std::string times = "find . -mindepth 1 -printf '%P %TY-%Tm-%Td %TT\\n' | sort";
    EXPECT_EQ(qorvex::test::CaptureCommand("cd " + Quote(dir / "out") + " && " + times),
              qorvex::test::CaptureCommand("cd " + Quote(src) + " && " + times));
}

// Each extent has a line of its own (the file extracted whole: Extraction.MultiExtentFileAsRowsAndAsAWhole).
TEST(UdfCli, FileInSeveralExtentsIsListedPerExtent) {
    TempDir dir;
    qorvex::test::UdfOptions options;
    qorvex::test::UdfNode split = qorvex::test::UdfFileNode("SPLIT.BIN", qorvex::test::PatternText(3 * 2048 + 100, 23));
    split.extents = 3;
    options.root.children = {split};
    WriteFile(dir / "u.img", BuildUdf(options).bytes);

    Result list = Qorvex({"ls", dir / "u.img", "--long"});
    ASSERT_EQ(list.status, 0) << list.err;
    std::string extents;
    for (const auto &fields : LinesWith(list.out, "\\SPLIT.BIN")) extents += fields.at(4) + " ";
    EXPECT_EQ(extents, "0/3 1/3 2/3 ") << list.out;
}

// An image cut inside a file: everything listed, the cut file marked with what it lacks and written only when
// asked, then with zeros for what is missing. (Which files a cut marks is Salvage's; that the others are still
// extracted, RawDamage.CommandLineHostNamesTheFailureAndKeepsTheOtherFiles'.)
TEST_F(ExtractTest, CutImageListsEverythingAndKeepsTheDamagedFileOnlyWhenAsked) {
    const std::string intact = Qorvex({"ls", image, "--long"}).out;
    const size_t start = std::stoul(LinesWith(intact, "readme.txt").at(0)[2]), held = 10;  // 20480 of 70000 bytes
    std::vector<uint8_t> bytes = ReadFile(image);
    bytes.resize((start + held) * 2048 + 1000);  // and part of the next sector
    WriteFile(dir / "cut.iso", bytes);
    EXPECT_NE(Qorvex({"--no-extensions", "ls", dir / "cut.iso"}).err.find("0x8123"), std::string::npos);

    const Result ls = Qorvex({"ls", dir / "cut.iso", "--long"});
    EXPECT_EQ(ls.status, 0) << ls.err;
    // MISSING (70000 - 20480) and the mark before the name.
    EXPECT_NE(ls.out.find(" 49520 ! \\DOCS\\readme.txt\n"), std::string::npos) << ls.out;
    EXPECT_EQ(LinesWith(ls.out, "\\").size(), LinesWith(intact, "\\").size()) << ls.out;
    EXPECT_NE(EachJsonEntry(Qorvex({"ls", dir / "cut.iso", "--json"}).out,
                            "\"damaged\" in e and print(e[\"name\"], e[\"damaged\"][\"ranges\"][0][\"offset\"])")
                  .find("\\DOCS\\readme.txt 20480\n"),
              std::string::npos);

    const Result plain = Qorvex({"extract", dir / "cut.iso", "-o", dir / "out"});
    EXPECT_EQ(plain.status, 1);
    EXPECT_NE(plain.err.find("readme.txt: damaged"), std::string::npos) << plain.err;
    EXPECT_FALSE(Exists(dir / "out/DOCS/readme.txt"));

    const Result kept = Qorvex({"extract", dir / "cut.iso", "-o", dir / "kept", "--keep-damaged", "DOCS/readme.txt"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("written with 49520 missing byte(s) as zeros (20480-69999)"), std::string::npos);
    std::string expected(70000, '\0');
    std::fill_n(expected.begin(), 20480, 'r');
    EXPECT_EQ(ReadText(dir / "kept/DOCS/readme.txt"), expected);
}

}  // namespace
}  // namespace cli_test
