// Replays every kept fuzz finding and every seed through the fuzz targets' own code, so the ordinary test
// run (and its sanitizer build) guards against regressions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fuzz_common.h"
#include "qorvex.h"
#include "seeds.h"
#include "support/temp_dir.h"

#define REPLAY_TARGET(name) extern "C" int Replay_##name(const uint8_t *data, size_t size);
#include "replay_targets.inc"
#undef REPLAY_TARGET

namespace {
using Target = int (*)(const uint8_t *, size_t);

struct Case {
    const char *name;
    Target run;
};
#define REPLAY_TARGET(name) {#name, Replay_##name},
const Case kTargets[] = {
#include "replay_targets.inc"
};
#undef REPLAY_TARGET
}  // namespace

TEST(FuzzReplay, SeedsOfEveryTargetRunClean) {
    const auto seeds = fuzz::MakeSeeds();
    for (const Case &target : kTargets) {
        const auto it = seeds.find(target.name);
        ASSERT_NE(it, seeds.end()) << target.name;
        ASSERT_FALSE(it->second.empty()) << target.name;
        for (const auto &input : it->second) EXPECT_EQ(target.run(input.data(), input.size()), 0) << target.name;
    }
}

// A container seed that opens as no volume leaves its fuzzer at the header: each must hold the file it wraps.
TEST(FuzzReplay, ContainerSeedsOpenToTheirVolume) {
    const auto seeds = fuzz::MakeSeeds();
    for (const char *format : {"isz", "ecm", "chd"}) {
        const std::string path = fuzz::ContainerPath(format);
        for (const auto &input : seeds.at(std::string("fuzz_") + format)) {
            qorvex::test::WriteFile(path, input);
            int32_t error = 0;
            QorvexHandle h = QorvexOpen(path.c_str(), OPEN_DISC_SHEETS, &error);
            ASSERT_NE(h, nullptr) << format << " error " << error;
            EXPECT_EQ(QorvexGetFileCount(h, 0, KIND_ISO9660), 1) << format;
            QorvexClose(h);
        }
        std::filesystem::remove(path);
    }
}

TEST(FuzzReplay, KeptFindingsRunClean) {
    const char *source = std::getenv("QORVEX_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::filesystem::path root = std::filesystem::path(source) / "fuzz" / "regressions";
    size_t replayed = 0;
    for (const Case &target : kTargets) {
        const auto folder = root / target.name;
        if (!std::filesystem::is_directory(folder)) continue;
        for (const auto &file : std::filesystem::directory_iterator(folder)) {
            const auto input = qorvex::test::ReadFile(file.path().string());
            EXPECT_EQ(target.run(input.data(), input.size()), 0) << file.path();
            ++replayed;
        }
    }
    RecordProperty("replayed", static_cast<int>(replayed));
    EXPECT_GT(replayed, 0u) << "no kept findings under " << root;
}
