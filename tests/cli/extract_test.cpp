// qorvex extract: whole trees against the source and 7-Zip, named paths, overwrite refusal, names that try to
// leave the destination, and bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/harness/cli_harness.h"

namespace cli_test {
namespace {

time_t ModificationTime(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// Runs the program with TZ set, so that dates are shown to be independent of the local zone.
Result QorvexInZone(const char *zone, const std::vector<std::string> &args) {
    const char *old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", zone, 1);
    Result r = Qorvex(args);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    return r;
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
        RunCommand("touch -d '1999-12-31 23:59:58 UTC' " + Quote(src + "/a.txt"));
        RunCommand("touch -d '2024-02-29 23:30:00 UTC' " + Quote(src + "/DOCS/readme.txt"));
        image = dir / "tree.iso";
        MakeIso(image, "-J -input-charset utf-8", src);
    }
    TempDir dir;
    std::string src, image;
};

TEST_F(ExtractTest, WholeTreeMatchesSourceAndSevenZipInAnyZone) {
    const char *zones[] = {"UTC", "Asia/Tokyo", "America/New_York"};
    for (int z = 0; z < 3; ++z) {
        const char *zone = zones[z];
        SCOPED_TRACE(zone);
        std::string out = dir / ("out" + std::to_string(z));
        Result r = QorvexInZone(zone, {"extract", image, "-o", out});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        std::vector<std::string> files = FilesBelow(out);
        ASSERT_EQ(files, FilesBelow(src));
        for (const auto &f : files) {
            EXPECT_TRUE(ReadFile(out + "/" + f) == ReadFile(src + "/" + f)) << f;
            EXPECT_EQ(ModificationTime(out + "/" + f), ModificationTime(src + "/" + f)) << f;
        }
    }
    ASSERT_EQ(RunCommand("7z x -y -o" + Quote(dir / "seven") + " " + Quote(image) + " >/dev/null"), 0);
    std::vector<std::string> seven = FilesBelow(dir / "seven");
    ASSERT_EQ(seven, FilesBelow(dir / "out0"));
    for (const auto &f : seven) EXPECT_TRUE(ReadFile(dir / "seven/" + f) == ReadFile(dir / "out0/" + f)) << f;
}

TEST_F(ExtractTest, NamedPathsMatchInEveryWrittenForm) {
    const std::string out = dir / "named";
    Result r = Qorvex({"extract", image, "--fs", "iso", "-o", out, "DOCS/README.TXT", "\\SIZE2049.BIN;1",
                       "/docs/deep"});  // names are compared exactly: "docs" is not "DOCS"
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/docs/deep: not found"), std::string::npos) << r.err;
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"DOCS/README.TXT", "SIZE2049.BIN"}));

    // A folder takes everything below it; Joliet names keep their case.
    const std::string out2 = dir / "folder";
    ASSERT_EQ(Qorvex({"extract", image, "-o", out2, "\\DOCS\\deep\\"}).status, 0);
    EXPECT_EQ(FilesBelow(out2), (std::vector<std::string>{"DOCS/deep/deeper/leaf.txt"}));
    EXPECT_EQ(ReadText(out2 + "/DOCS/deep/deeper/leaf.txt"), "leaf");
}

TEST_F(ExtractTest, ExistingFilesAreRefusedUnlessOverwriteAndLinksAreReplacedNotFollowed) {
    const std::string out = dir / "again";
    ASSERT_EQ(Qorvex({"extract", image, "-o", out, "a.txt", "size2047.bin"}).status, 0);
    WriteFile(out + "/a.txt", "changed");

    Result refused = Qorvex({"extract", image, "-o", out, "a.txt", "size2047.bin"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("a.txt: exists"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("size2047.bin: exists"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadText(out + "/a.txt"), "changed");

    // A link planted where a file goes: replaced by the file, its target untouched.
    WriteFile(dir / "victim", "keep me");
    ASSERT_EQ(unlink((out + "/size2047.bin").c_str()), 0);
    ASSERT_EQ(symlink((dir / "victim").c_str(), (out + "/size2047.bin").c_str()), 0);
    Result replaced = Qorvex({"extract", image, "-o", out, "--overwrite", "a.txt", "size2047.bin"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ReadText(out + "/a.txt"), "alpha\n");
    EXPECT_EQ(ReadText(out + "/size2047.bin"), std::string(2047, 'z'));
    EXPECT_EQ(ReadText(dir / "victim"), "keep me");
}

TEST(ExtractHostile, NamesThatTryToLeaveTheDestinationStayInside) {
    TempDir dir;
    RunCommand("mkdir -p " + Quote(dir / "src/ZQ") + " " + Quote(dir / "src/LINK") + " " + Quote(dir / "a/b"));
    WriteFile(dir / "src/FFFFFFFFFFFFFFFF", "one");
    WriteFile(dir / "src/GGGGGGGGGGGGGGGG", "two");
    WriteFile(dir / "src/ZQ/inner.txt", "three");
    WriteFile(dir / "src/LINK/f.txt", "four");
    std::vector<uint8_t> image = MakeIso(dir / "plain.iso", "-iso-level 4", dir / "src");
    ASSERT_EQ(Patch(&image, "FFFFFFFFFFFFFFFF", "..\\..\\..\\evil.tx"), 1);
    ASSERT_EQ(Patch(&image, "GGGGGGGGGGGGGGGG", "/../../evil2.txt"), 1);
    ASSERT_GE(Patch(&image, "ZQ", ".."), 1);
    RunCommand("rm -rf " + Quote(dir / "src"));
    WriteFile(dir / "hostile.iso", image);

    const std::string out = dir / "a/b/out";
    Result r = Qorvex({"extract", dir / "hostile.iso", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"LINK/f.txt", "_.._.._evil2.txt", "evil.tx", "inner.txt"}));
    EXPECT_EQ(ReadText(out + "/evil.tx"), "one");
    EXPECT_EQ(ReadText(out + "/inner.txt"), "three");
    std::vector<std::string> everything = FilesBelow(dir.path());
    EXPECT_EQ(everything, (std::vector<std::string>{"a/b/out/LINK/f.txt", "a/b/out/_.._.._evil2.txt", "a/b/out/evil.tx",
                                                    "a/b/out/inner.txt", "hostile.iso", "plain.iso"}));

    // A folder link planted inside the destination is not followed out of it.
    const std::string out2 = dir / "out2";
    RunCommand("mkdir -p " + Quote(out2) + " " + Quote(dir / "outside"));
    ASSERT_EQ(symlink((dir / "outside").c_str(), (out2 + "/LINK").c_str()), 0);
    Result planted = Qorvex({"extract", dir / "hostile.iso", "-o", out2});
    EXPECT_EQ(planted.status, 1);
    EXPECT_NE(planted.err.find("LINK"), std::string::npos) << planted.err;
    EXPECT_TRUE(FilesBelow(dir / "outside").empty());
    EXPECT_TRUE(Exists(out2 + "/evil.tx"));
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

}  // namespace
}  // namespace cli_test
