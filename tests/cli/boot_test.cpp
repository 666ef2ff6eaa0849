// Boot images through the command line: listed among the system parts, written one at a time by extract-part
// and all together into [BOOT] by extract --boot, only inside the destination; --no-extensions hides them.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/harness/cli_harness.h"
#include "support/iso_builder.h"

namespace cli_test {
namespace {

using qorvex::test::Pattern;

const char kNoEmulation[] = "boot image 1 x86 no emulation";
const char kFloppy[] = "boot image 2 x86 1.44 MB floppy";

class BootCli : public ::testing::Test {
protected:
    void SetUp() override {
        src = dir / "src";
        RunCommand("mkdir -p " + Quote(src + "/boot"));
        WriteFile(src + "/boot/boot.bin", Pattern(5000, 1));
        WriteFile(src + "/boot/floppy.img", Pattern(1474560, 2));
        WriteFile(src + "/readme.txt", "files come along\n");
        image = dir / "boot.iso";
        MakeIso(image,
                "-J -c boot.cat -b boot/boot.bin -no-emul-boot -boot-load-size 4 -eltorito-alt-boot "
                "-b boot/floppy.img",
                src);
    }
    TempDir dir;
    std::string src, image;
};

TEST_F(BootCli, SystemListingShowsBootPartsUnlessAnotherFileSystemIsNamed) {
    const std::string boot_parts = std::string("boot record\nboot catalogue\n") + kNoEmulation + "\n" + kFloppy + "\n";
    const struct {
        std::vector<std::string> args;
        bool listed;
    } cases[] = {
        {{"ls", image, "--system"}, true},  // the automatic choice is Joliet: boot parts are shown beside it
        {{"ls", image, "--system", "--fs", "iso"}, true},
        {{"ls", image, "--system", "--fs", "joliet"}, false},
        {{"--no-extensions", "ls", image, "--system"}, false},
        {{"ls", image}, false},
    };
    for (const auto &c : cases) {
        const Result r = Qorvex(c.args);
        SCOPED_TRACE(c.args.back());
        ASSERT_EQ(r.status, 0) << r.err;
        const bool ends_with = r.out.size() >= boot_parts.size() &&
                               r.out.compare(r.out.size() - boot_parts.size(), boot_parts.size(), boot_parts) == 0;
        EXPECT_EQ(ends_with, c.listed) << r.out;
        EXPECT_EQ(r.out.find("boot image") != std::string::npos, c.listed) << r.out;
    }
}

TEST_F(BootCli, ExtractBootWritesEveryImageIntoBootFolderAndExtractPartOne) {
    const std::string out = dir / "out";
    Result r = Qorvex({"extract", image, "-o", out, "--boot"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesBelow(out),
              (std::vector<std::string>{"[BOOT]/1-x86-no-emulation.img", "[BOOT]/2-x86-1.44-MB-floppy.img", "boot.cat",
                                        "boot/boot.bin", "boot/floppy.img", "readme.txt"}));
    std::vector<uint8_t> boot = ReadFile(src + "/boot/boot.bin");
    boot.resize(2048);  // the load size: four 512-byte sectors
    EXPECT_EQ(ReadFile(out + "/[BOOT]/1-x86-no-emulation.img"), boot);
    EXPECT_EQ(ReadFile(out + "/[BOOT]/2-x86-1.44-MB-floppy.img"), ReadFile(src + "/boot/floppy.img"));

    // Existing images are refused like files, and replaced when asked.
    r = Qorvex({"extract", image, "-o", out, "--boot", "boot.cat"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("[BOOT]/1-x86-no-emulation.img: exists"), std::string::npos) << r.err;
    r = Qorvex({"extract", image, "-o", out, "--boot", "--overwrite", "boot.cat"});
    EXPECT_EQ(r.status, 0) << r.err;

    // One image by name with extract-part (a missing part: ExtractTest.SystemPartsListAndExtractByName).
    ASSERT_EQ(Qorvex({"extract-part", image, kFloppy, "-o", dir / "floppy.img"}).status, 0);
    EXPECT_EQ(ReadFile(dir / "floppy.img"), ReadFile(src + "/boot/floppy.img"));
}

TEST_F(BootCli, BootFolderThatIsALinkIsRefused) {
    const std::string out = dir / "out", elsewhere = dir / "elsewhere";
    RunCommand("mkdir -p " + Quote(out) + " " + Quote(elsewhere));
    ASSERT_EQ(symlink(elsewhere.c_str(), (out + "/[BOOT]").c_str()), 0);
    const Result r = Qorvex({"extract", image, "-o", out, "--boot", "readme.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("in the way"), std::string::npos) << r.err;
    EXPECT_TRUE(FilesBelow(elsewhere).empty());
    EXPECT_TRUE(Exists(out + "/readme.txt"));
}

}  // namespace
}  // namespace cli_test
