// The engine from several threads: different handles at once, and one handle passed between threads. Run
// under ThreadSanitizer by scripts/test; in the ordinary run it checks that every thread gets the right data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/container_writers.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

// Sums the bytes the callback receives.
int32_t QORVEX_CALL Count(int32_t, void *user, const void *, int32_t length) {
    *static_cast<uint64_t *>(user) += static_cast<uint64_t>(length);
    return 1;
}

int32_t QORVEX_CALL Stop(int32_t, void *, const void *, int32_t) {
    return 0;
}

// Opens the image, walks every catalogue and extracts every file to the callback; returns the bytes
// delivered, or a negative open error.
int64_t ReadWhole(const std::string &path, uint32_t options = OPEN_CHECK_EDC | OPEN_CHECK_POSITION) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    if (!h) return -error;
    uint64_t bytes = 0;
    QorvexSetCallback(h, Count, &bytes);
    for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF}) {
        for (int32_t left = QorvexGetFileStart(h, 0, kind); left != 0;) {
            EntryInfo info{};
            left = QorvexGetNextFile(h, &info);
            if (QorvexExtractCurrentFile(h, nullptr) != 0) bytes += 1u << 30;  // never silently
        }
        for (int32_t left = QorvexGetModuleStart(h, 0, kind); left != 0;) left = QorvexGetNextModule(h, nullptr);
    }
    QorvexClose(h);
    return static_cast<int64_t>(bytes);
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override {
        IsoOptions o;
        o.joliet = true;
        std::vector<IsoNode> tree;
        for (int i = 0; i < 40; ++i) tree.push_back(File("F" + std::to_string(i) + ".BIN;1", Pattern(5000 + i, i)));
        tree.push_back(Dir("SUB", {File("DEEP.TXT;1", "deep")}));
        const std::vector<uint8_t> iso = BuildIso(tree, o).bytes;
        WriteFile(dir / "a.iso", iso);
        WriteFile(dir / "b.bin", WrapSectors(iso, 3));  // MODE1/2352
        WriteFile(dir / "c.bin", WrapSectors(iso, 6));  // MODE2FORM1/2352
        UdfOptions u;
        u.root.children = {UdfFileNode("A.TXT", std::string(9000, 'a')), UdfDirNode("D", {UdfFileNode("B", "b")})};
        WriteFile(dir / "d.img", BuildUdf(u).bytes);
        // The ISO in compressed hunks: read in order, later hunks are decoded ahead on threads of the engine's.
        WriteFile(dir / "e.chd", EncodeChd(iso, {{ChdHunk::kZlib}, {ChdHunk::kStored}, {ChdHunk::kZlib}}, ChdLayout{}));
        paths = {dir / "a.iso", dir / "b.bin", dir / "c.bin", dir / "d.img"};
        for (const std::string &p : paths) expected.push_back(ReadWhole(p));
    }

    TempDir dir;
    std::vector<std::string> paths;
    std::vector<int64_t> expected;
};

TEST_F(Threads, FourImagesOnFourThreads) {
    for (int64_t bytes : expected) ASSERT_GT(bytes, 0);
    std::vector<std::vector<int64_t>> got(paths.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < paths.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) got[t].push_back(ReadWhole(paths[t]));
        });
    for (std::thread &t : threads) t.join();
    for (size_t t = 0; t < paths.size(); ++t) EXPECT_EQ(got[t], std::vector<int64_t>(5, expected[t])) << paths[t];
}

TEST_F(Threads, CompressedImageOnThreeThreadsWhileItsHunksAreDecodedAhead) {
    std::vector<int64_t> got(3);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t)
        threads.emplace_back([&, t] { got[t] = ReadWhole(dir / "e.chd", OPEN_CHECK_EDC | OPEN_DISC_SHEETS); });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(got, std::vector<int64_t>(3, expected[0]));
}

TEST_F(Threads, OneHandleUsedByTwoThreadsInTurn) {
    QorvexHandle h = nullptr;
    std::thread([&] {
        int32_t error = 0;
        h = QorvexOpen(paths[1].c_str(), OPEN_CHECK_EDC, &error);
        QorvexGetFileStart(h, 0, KIND_JOLIET);
    }).join();
    ASSERT_NE(h, nullptr);
    uint64_t bytes = 0;
    std::thread([&] {
        QorvexSetCallback(h, Count, &bytes);
        for (int32_t left = QorvexGetFileStart(h, 0, KIND_ISO9660); left != 0;) {
            left = QorvexGetNextFile(h, nullptr);
            EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), 0);
        }
    }).join();
    // Closing from a third thread while a fourth walks: the walk ends with an empty answer, never a crash.
    std::atomic<bool> closed{false};
    std::thread walker([&] {
        while (!closed.load()) QorvexGetFileCount(h, 0, KIND_ISO9660);
        EXPECT_EQ(QorvexGetFileCount(h, 0, KIND_ISO9660), 0);
    });
    std::thread([&] {
        QorvexClose(h);
        closed = true;
    }).join();
    walker.join();
    EXPECT_GT(bytes, 40u * 5000);
}

TEST_F(Threads, CopyExportOnTwoThreadsGivesTheCallbackBytes) {
    for (const std::string &path : {paths[0], paths[1], paths[3]}) {
        int32_t error = 0;
        QorvexHandle h = QorvexOpen(path.c_str(), OPEN_CHECK_EDC, &error);
        ASSERT_NE(h, nullptr) << path;
        const int32_t kind = path == paths[3] ? KIND_UDF : KIND_ISO9660;
        std::vector<std::vector<uint8_t>> want;
        Collector block;
        QorvexSetCallback(h, Collector::Callback, &block);
        for (int32_t left = QorvexGetFileStart(h, 0, kind); left != 0;) {
            left = QorvexGetNextFile(h, nullptr);
            block.blocks.clear();
            ASSERT_EQ(QorvexExtractCurrentFile(h, nullptr), 0);
            want.push_back(block.Joined());
        }
        // Two threads copy every other file into files of their own (the second 3 bytes in), while a third walks.
        std::atomic<bool> done{false};
        std::thread walker([&] {
            while (!done)
                if (QorvexGetNextFile(h, nullptr) == 0) QorvexGetFileStart(h, 0, kind);
        });
        std::vector<std::thread> copiers;
        for (size_t t = 0; t < 2; ++t)
            copiers.emplace_back([&, t] {
                for (size_t i = t; i < want.size(); i += 2) {
                    const std::string out = dir / ("out" + std::to_string(i));
                    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                    uint64_t counted = 0;
                    EXPECT_EQ(QorvexExCopyFile(h, 0, kind, static_cast<int32_t>(i), fd, 3 * t, QORVEX_EX_COPY_KEEP_OPEN,
                                               Count, &counted),
                              0);
                    close(fd);
                    EXPECT_EQ(counted, want[i].size());
                    EXPECT_EQ(ReadText(out).substr(3 * t), std::string(want[i].begin(), want[i].end()));
                }
            });
        for (std::thread &c : copiers) c.join();
        done = true;
        walker.join();
        // What is not there, a stop, a descriptor that is none.
        const int fd = open((dir / "x").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_EQ(QorvexExCopyFile(h, 0, kind, static_cast<int32_t>(want.size()), fd, 0, 0, nullptr, nullptr),
                  ENGINE_NO_CURRENT_ENTRY);
        EXPECT_EQ(QorvexExCopyFile(h, 0, 3, 0, fd, 0, 0, nullptr, nullptr), ENGINE_BAD_KIND);
        const auto largest = static_cast<int32_t>(
            std::max_element(want.begin(), want.end(), [](auto &a, auto &b) { return a.size() < b.size(); }) -
            want.begin());
        EXPECT_EQ(QorvexExCopyFile(h, 0, kind, largest, fd, 0, 0, Stop, nullptr), ENGINE_ABORTED);
        EXPECT_EQ(QorvexExCopyFile(h, 0, kind, 0, -1, 0, 0, nullptr, nullptr), ENGINE_OUTPUT_OPEN_FAILED);
        close(fd);
        EXPECT_EQ(QorvexExCloseImageFiles(h), 0);
        QorvexClose(h);
    }
}

}  // namespace
}  // namespace qorvex::test
