// qorvex mount on real images (genisoimage ISO + Joliet and UDF bridge, Rock Ridge with links and zisofs, a
// BIN/CUE with an audio track): the mounted tree against what "qorvex extract" makes, random and concurrent
// reads, unmounting while files are read, and a hostile image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>

#include "support/disc_builder.h"
#include "support/harness/cli_harness.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/udf_builder.h"

namespace cli_test {
namespace {

using qorvex::test::CaptureCommand;

bool Mounted(const std::string &folder) {
    return RunCommand("mountpoint -q " + Quote(folder)) == 0;
}

// One line per path below the folder (the synthetic .tracks and .fs left out): type, size of files, modification
// time, link target, and the permission bits when `modes`. A time after `made` is no recorded date (the
// extraction leaves the time it made the file, the mount the image's).
std::string Describe(const std::string &folder, bool modes, time_t made) {
    std::string text;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename();
        if (it.depth() == 0 && (name == ".tracks" || name == ".fs")) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        lstat(it->path().c_str(), &st);
        text += fs::relative(it->path(), folder).string() + " " + std::to_string(st.st_mode >> 12) + " " +
                (S_ISREG(st.st_mode) ? std::to_string(st.st_size) : "") + " " +
                (st.st_mtime >= made ? "unrecorded" : std::to_string(st.st_mtime)) + " " +
                (S_ISLNK(st.st_mode) ? fs::read_symlink(it->path()).string() : "") +
                (modes ? " " + std::to_string(st.st_mode & 07777) : "") + "\n";
    }
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (const std::string &line : lines) sorted += line + "\n";
    return sorted;
}

std::vector<uint8_t> Pread(int fd, uint64_t offset, size_t size) {
    std::vector<uint8_t> out(size);
    const ssize_t n = pread(fd, out.data(), size, static_cast<off_t>(offset));
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

class MountTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/dev/fuse", R_OK | W_OK) != 0 || RunCommand("command -v fusermount3 >/dev/null") != 0)
            GTEST_SKIP() << "FUSE is missing here (/dev/fuse or fusermount3): mount is not tested";
        if (Qorvex({"mount", "-", "-"}).err.find("without libfuse 3") != std::string::npos)
            GTEST_SKIP() << "qorvex was built without libfuse 3: mount is not tested";
        RunCommand("mkdir -p " + Quote(dir / "src/docs/deep") + " " + Quote(dir / "mnt"));
        big.resize(3 << 20);
        std::mt19937 random(29);
        for (uint8_t &b : big) b = static_cast<uint8_t>(random());
        WriteFile(dir / "src/big.bin", big);
        WriteFile(dir / "src/docs/deep/leaf.txt", "leaf\n");
        WriteFile(dir / "src/docs/readme.txt", std::string(70000, 'r'));
        WriteFile(dir / "src/empty", "");
        // Recorded dates well before the test's images, so that a date the mount takes from the image file
        // itself is never mistaken for one the image records.
        RunCommand("find " + Quote(dir / "src") + " -exec touch -h -d '2024-03-04 05:06:07 UTC' {} +");
        RunCommand("touch -d '2051-06-07 08:09:10 UTC' " + Quote(dir / "src/docs/readme.txt"));
    }
    void TearDown() override {
        if (Mounted(dir / "mnt")) RunCommand("fusermount3 -u -z " + Quote(dir / "mnt"));
    }
    void Mount(const std::string &image, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"mount", image, dir / "mnt"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result r = Qorvex(args);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(Mounted(dir / "mnt"));
    }
    void Unmount() {
        ASSERT_EQ(Qorvex({"umount", dir / "mnt"}).status, 0);
        EXPECT_FALSE(Mounted(dir / "mnt"));
    }
    TempDir dir;
    std::vector<uint8_t> big;
};

// Every image kind: the tree, stat and bytes of the mount are those of the extraction, and each other file
// system of the track is under /.fs.
TEST_F(MountTest, TreeStatAndBytesAreThoseOfTheExtraction) {
    RunCommand("cd " + Quote(dir / "src") + " && ln -s docs/readme.txt link && touch -h -d '2024-03-04 UTC' link");
    RunCommand("chmod 0750 " + Quote(dir / "src/docs") + " && mkzftree " + Quote(dir / "src") + " " +
               Quote(dir / "zsrc") + " && cp " + Quote(dir / "src/big.bin") + " " + Quote(dir / "zsrc/plain.bin"));
    const time_t made = time(nullptr) - 1;
    MakeIso(dir / "joliet.iso", "-J -udf", dir / "src");
    MakeIso(dir / "rr.iso", "-R -J -z", dir / "zsrc");
    const struct {
        const char *image, *fs, *view;
        bool modes;
    } cases[] = {{"joliet.iso", "auto", "joliet", false},
                 {"joliet.iso", "udf", "udf", false},
                 {"rr.iso", "auto", "rockridge", true},
                 {"rr.iso", "iso", "iso9660", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.fs);
        const std::string out = dir / (std::string(c.image) + "." + c.fs);
        ASSERT_EQ(Qorvex({"extract", dir / c.image, "-o", out, "--fs", c.fs}).status, 0);
        Mount(dir / c.image, {"--fs", c.fs});
        const std::string mnt = dir / "mnt";
        EXPECT_EQ(Describe(mnt, c.modes, made), Describe(out, c.modes, made));
        EXPECT_EQ(RunCommand("diff -r --no-dereference -x .tracks -x .fs " + Quote(mnt) + " " + Quote(out)), 0);
        EXPECT_EQ(Describe(mnt + "/.fs/" + c.view, c.modes, made), Describe(mnt, c.modes, made));
        EXPECT_EQ(RunCommand("cmp " + Quote(dir / c.image) + " " + Quote(mnt + "/.tracks/01.iso")), 0);
        // Read-only: nothing can be made or changed.
        EXPECT_NE(RunCommand("touch " + Quote(mnt + "/new") + " 2>/dev/null"), 0);
        EXPECT_NE(RunCommand("sh -c 'echo x >> " + mnt + "/empty' 2>/dev/null"), 0);
        Unmount();
    }
}

// Files in several extents (UDF, ISO 9660 multi-extent) and with their data inside their entry (UDF): every
// slice, across extent ends too.
TEST_F(MountTest, FilesInSeveralExtentsAndEmbeddedData) {
    using namespace qorvex::test;
    UdfOptions options;
    const std::string split = PatternText(5 * 2048 + 100, 3), embedded = PatternText(900, 4);
    UdfNode node = UdfFileNode("SPLIT.BIN", split);
    node.extents = 3;
    options.root.children = {node, UdfFileNode("INLINE.TXT", embedded, UdfAd::Embedded)};
    WriteFile(dir / "u.img", BuildUdf(options).bytes);
    IsoNode multi = qorvex::test::File("MULTI.BIN;1", std::vector<uint8_t>(split.begin(), split.end()));
    multi.extent_size = 4096;
    WriteFile(dir / "m.iso", BuildIso({multi}, IsoOptions{}).bytes);
    const struct {
        const char *image, *name;
        const std::string &data;
    } cases[] = {{"u.img", "SPLIT.BIN", split}, {"u.img", "INLINE.TXT", embedded}, {"m.iso", "MULTI.BIN", split}};
    for (const auto &c : cases) {
        Mount(dir / c.image);
        const int fd = open((dir / "mnt/" + c.name).c_str(), O_RDONLY);
        for (size_t at = 0; at < c.data.size() + 10; at += 999) {
            const std::vector<uint8_t> got = Pread(fd, at, 3000);
            EXPECT_EQ(std::string(got.begin(), got.end()), c.data.substr(std::min(at, c.data.size()), 3000))
                << c.name << " at " << at;
        }
        close(fd);
        Unmount();
    }
}

// A BIN/CUE with a data and an audio track: /.tracks holds what extract-track writes.
TEST_F(MountTest, TracksOfAMixedModeDisc) {
    const std::vector<uint8_t> iso = MakeIso(dir / "data.iso", "-J", dir / "src");
    const std::string cue =
        qorvex::test::WriteCueDisc(dir.path(), "disc",
                                   {qorvex::test::MakeTrack(3, qorvex::test::WrapSectors(iso, 3)),
                                    qorvex::test::MakeTrack(0, qorvex::test::AudioPattern(300, 2), 75)},
                                   qorvex::test::CueForm::kSingleFile);
    Mount(cue);
    const struct {
        const char *name, *number, *flag;
    } tracks[] = {{"01.iso", "1", nullptr}, {"01.bin", "1", "--raw"}, {"02.wav", "2", "--wav"}};
    for (const auto &t : tracks) {
        std::vector<std::string> args = {"extract-track", cue, t.number, "-o", dir / t.name};
        if (t.flag) args.push_back(t.flag);
        ASSERT_EQ(Qorvex(args).status, 0);
        EXPECT_TRUE(ReadFile(dir / "mnt/.tracks/" + t.name) == ReadFile(dir / t.name)) << t.name;
    }
    EXPECT_TRUE(ReadFile(dir / "mnt/big.bin") == big);
}

// Reads at any offset, alone and from several threads at once, give the bytes at that offset; unmounting while
// they run ends the mount without a hang.
TEST_F(MountTest, RandomConcurrentReadsAndUnmountWhileReading) {
    MakeIso(dir / "plain.iso", "-J", dir / "src");
    Mount(dir / "plain.iso");
    const std::string file = dir / "mnt/big.bin";
    std::atomic<int> wrong{0};
    auto reader = [&](uint32_t seed, int rounds) {
        const int fd = open(file.c_str(), O_RDONLY);
        std::mt19937 random(seed);
        for (int i = 0; i < rounds && fd >= 0; ++i) {
            const uint64_t at = random() % (big.size() + 100);
            const size_t n = random() % 70000;
            const size_t expected = at >= big.size() ? 0 : std::min<size_t>(n, big.size() - at);
            const std::vector<uint8_t> got = Pread(fd, at, n);
            if (got.size() != expected || !std::equal(got.begin(), got.end(), big.begin() + static_cast<long>(at)))
                ++wrong;
        }
        if (fd >= 0) close(fd);
    };
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 6; ++t) threads.emplace_back(reader, t, 300);
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);

    // A busy mount is not taken away by a plain unmount; a lazy one goes at once, the readers see errors or
    // data, never a hang, and the program ends.
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop) RunCommand("cat " + Quote(file) + " >/dev/null 2>&1");
    });
    usleep(200000);
    EXPECT_EQ(RunCommand("fusermount3 -u -z " + Quote(dir / "mnt")), 0);
    stop = true;
    busy.join();
    EXPECT_FALSE(Mounted(dir / "mnt"));
    EXPECT_EQ(RunCommand("for i in $(seq 50); do pgrep -f '[q]orvex mount .*plain.iso' >/dev/null || exit 0; "
                         "sleep 0.1; done; exit 1"),
              0);
}

// A hostile image: one cut short mounts and reads with EIO past its end; garbage is refused, nothing mounted.
TEST_F(MountTest, HostileImages) {
    std::vector<uint8_t> iso = MakeIso(dir / "plain.iso", "-J", dir / "src");
    iso.resize(iso.size() / 2);
    WriteFile(dir / "cut.iso", iso);
    Mount(dir / "cut.iso");
    EXPECT_NE(RunCommand("cat " + Quote(dir / "mnt/big.bin") + " >/dev/null 2>&1"), 0);
    // What the image still holds of the file reads whole: only the missing ranges fail.
    EXPECT_EQ(CaptureCommand("head -c 8192 " + Quote(dir / "mnt/big.bin")),
              std::string(big.begin(), big.begin() + 8192));
    EXPECT_EQ(RunCommand("ls -lR " + Quote(dir / "mnt") + " >/dev/null"), 0);  // still answering
    Unmount();
    WriteFile(dir / "garbage.iso", std::string(100000, '\xA5'));
    EXPECT_EQ(Qorvex({"mount", dir / "garbage.iso", dir / "mnt"}).status, 1);
    EXPECT_FALSE(Mounted(dir / "mnt"));
}

}  // namespace
}  // namespace cli_test
