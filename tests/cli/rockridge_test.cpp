// qorvex on Rock Ridge images made by genisoimage and xorriso: the automatic choice, ls --long, and extract
// restoring modes and times, making links only where they stay inside, and hard links by serial.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/harness/cli_harness.h"
#include "support/iso_builder.h"
#include "support/susp_entries.h"

namespace cli_test {
namespace {

struct stat Lstat(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::string LinkTarget(const std::string &path) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

class RockRidgeCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunCommand("command -v xorriso >/dev/null") != 0) GTEST_SKIP() << "xorriso is needed";
        src = dir / "src";
        RunCommand("mkdir -p " + Quote(src + "/docs/a/b/c/d/e/f/g/h/i"));
        WriteFile(src + "/run.sh", "#!/bin/sh\n");
        WriteFile(src + "/secret", "s");
        WriteFile(src + "/setuid", "u");
        WriteFile(src + "/docs/a/b/c/d/e/f/g/h/i/deep.txt", "deep");
        WriteFile(src + "/" + std::string(100, 'x') + ".txt", "long");
        chmod((src + "/run.sh").c_str(), 0755);
        chmod((src + "/secret").c_str(), 0600);
        chmod((src + "/setuid").c_str(), 04755);
        RunCommand("cd " + Quote(src) +
                   " && ln -s run.sh inside && ln -s docs/a folder && ln -s ../docs/a/b docs/up-and-down"
                   " && ln -s /etc/passwd absolute && ln -s ../outside climbing && ln -s docs/../.. name-then-up"
                   " && ln run.sh hard && mkdir empty && chmod 0750 empty");
        RunCommand("touch -h -d '2001-02-03 04:05:06 UTC' " + Quote(src + "/run.sh") + " " + Quote(src + "/empty"));
        image = dir / "rr.iso";
        ASSERT_EQ(RunCommand("xorriso -as mkisofs -quiet -R -J --hardlinks -o " + Quote(image) + " " + Quote(src) +
                             " >/dev/null 2>&1"),
                  0);
    }
    TempDir dir;
    std::string src, image;
};

TEST_F(RockRidgeCli, AutomaticChoiceAndLongListing) {
    const Result names = Qorvex({"ls", image});
    ASSERT_EQ(names.status, 0) << names.err;
    EXPECT_NE(names.out.find("\\" + std::string(100, 'x') + ".txt\n"), std::string::npos) << names.out;
    // Without the extensions the described choice stands: Joliet, whose names are cut at 64 characters.
    const Result plain = Qorvex({"--no-extensions", "ls", image});
    EXPECT_EQ(plain.out.find(std::string(100, 'x')), std::string::npos);
    EXPECT_EQ(Qorvex({"--no-extensions", "ls", image, "--fs", "rockridge"}).out, "");

    const Result long_form = Qorvex({"ls", image, "--long", "--fs", "rr"});
    ASSERT_EQ(long_form.status, 0) << long_form.err;
    for (const char *line : {"-rwxr-xr-x ", "-rw------- ", "-rwsr-xr-x ", "2001-02-03T04:05:06Z  \\run.sh\n",
                             "  \\inside -> run.sh\n", "  \\absolute -> /etc/passwd\n", "lrwxrwxrwx "})
        EXPECT_NE(long_form.out.find(line), std::string::npos) << line << "\n" << long_form.out;
    const Result json = Qorvex({"ls", image, "--json"});
    EXPECT_NE(json.out.find("\"link_target\": \"docs/a\""), std::string::npos) << json.out;
}

// Which link targets stay inside, and links planted in the destination, are the output tree's (tests/host).
TEST_F(RockRidgeCli, ExtractRestoresModesTimesAndSafeLinks) {
    const std::string out = dir / "out";
    const Result r = Qorvex({"extract", image, "-o", out});
    EXPECT_EQ(r.status, 1);  // the refused links
    struct Expected {
        const char *path;
        mode_t mode;
    };
    for (const Expected &e : {Expected{"run.sh", 0100755},
                              {"secret", 0100600},
                              {"setuid", 0100755},
                              {"empty", 040750},
                              {"docs/a/b/c/d/e/f/g/h/i/deep.txt", 0100644}}) {
        EXPECT_EQ(Lstat(out + "/" + e.path).st_mode, e.mode) << e.path;
        EXPECT_EQ(Lstat(out + "/" + e.path).st_mtime, Lstat(src + "/" + e.path).st_mtime) << e.path;
    }
    EXPECT_EQ(LinkTarget(out + "/inside"), "run.sh");
    for (const char *refused : {"absolute", "climbing", "name-then-up"}) {
        EXPECT_FALSE(Exists(out + "/" + refused)) << refused;
        EXPECT_NE(r.err.find(std::string(refused) + ": symbolic link to"), std::string::npos) << r.err;
    }
    EXPECT_NE(Lstat(out + "/hard").st_ino, Lstat(out + "/run.sh").st_ino);

    const std::string same = dir / "same";
    Qorvex({"extract", image, "-o", same, "--same-permissions", "--hard-links"});
    EXPECT_EQ(Lstat(same + "/setuid").st_mode, mode_t{0104755});
    EXPECT_EQ(Lstat(same + "/hard").st_ino, Lstat(same + "/run.sh").st_ino);
    EXPECT_EQ(ReadText(same + "/hard"), "#!/bin/sh\n");
}

// A file recorded in several extents, each record carrying the POSIX name: one output file, joined.
TEST(RockRidgeCliBuilt, FileInSeveralExtentsIsJoinedUnderItsPosixName) {
    using namespace qorvex::test;
    TempDir dir;
    IsoNode split = File("SPLIT.BIN;1", Pattern(5 * 2048 + 100, 3));
    split.extent_size = 2 * 2048;
    split.system_use = susp::Join({susp::Px(0100640), susp::Nm("Split File.bin")});
    IsoOptions o;
    o.root_system_use = susp::Join({susp::Sp(), susp::Px(040755, 2)});
    const std::string image = dir / "split.iso";
    WriteFile(image, BuildIso({split}, o).bytes);
    const Result listed = Qorvex({"ls", image});
    EXPECT_EQ(listed.out, "\\Split File.bin\n\\Split File.bin\n\\Split File.bin\n");
    const Result r = Qorvex({"extract", image, "-o", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesBelow(dir / "out"), std::vector<std::string>{"Split File.bin"});
    EXPECT_EQ(ReadFile(dir / "out/Split File.bin"), split.data);
    EXPECT_EQ(Lstat(dir / "out/Split File.bin").st_mode, mode_t{0100640});
}

}  // namespace
}  // namespace cli_test
