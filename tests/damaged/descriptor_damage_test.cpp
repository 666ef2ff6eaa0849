// Damaged .mds and .cdi descriptors fail to open with a clear code, in a child process that neither crashes nor
// hangs. The discs start with audio: no plain probe of their sectors stands in for the descriptor.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "qorvex.h"
#include "support/descriptor_writers.h"
#include "support/harness/damage_harness.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::AudioPattern;
using qorvex::test::MakeTrack;

struct Case {
    const char *what;
    std::function<void(std::vector<uint8_t> &)> damage;
    int32_t code = ENGINE_UNKNOWN_FORMAT;
};

// Each damage of the intact image gives its code; the intact image opens.
void ExpectCodes(const std::string &path, const std::vector<Case> &cases) {
    const std::vector<uint8_t> intact = qorvex::test::ReadFile(path);
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = intact;
        c.damage(bytes);
        qorvex::test::WriteFile(path, bytes);
        EXPECT_EQ(RunWatched([&] { return OpenResult(path, OPEN_DISC_SHEETS); }), "open " + Code(c.code)) << c.what;
    }
    qorvex::test::WriteFile(path, intact);
    EXPECT_EQ(OpenResult(path, OPEN_DISC_SHEETS), "open " + Code(0));
}

TEST(DescriptorDamage, BrokenMdsDescriptorsFailWithAClearCode) {
    qorvex::test::TempDir dir;
    qorvex::test::MdsForm parts;
    parts.parts = 2;
    const std::string mds = qorvex::test::WriteMdsDisc(
        dir.path(), "disc", {MakeTrack(0, AudioPattern(60, 1)), MakeTrack(0, AudioPattern(40, 2), 10)}, parts);
    // The session block at 88, lead-in entries and track blocks from 112, extra blocks from 512, files at 528.
    constexpr size_t kTrack2 = 112 + 4 * 80, kExtra2 = 520, kFiles = 528;
    const std::vector<Case> cases = {
        {"cut inside the header", [](auto &b) { b.resize(60); }},
        {"cut inside the track blocks", [](auto &b) { b.resize(400); }},
        {"version 2 (encrypted)", [](auto &b) { b[16] = 2; }},
        {"unknown medium", [](auto &b) { b[18] = 0x30; }},
        {"session blocks past the end", [](auto &b) { Put32Le(&b[80], uint32_t(b.size())); }},
        {"sessions without end", [](auto &b) { Put16Le(&b[20], 0xFFFF); }},
        {"track count huge", [](auto &b) { b[88 + 10] = 0xFF; }},
        {"start offset past the image", [](auto &b) { Put32Le(&b[kTrack2 + 44], 0x7FFF); }},
        {"length past the image", [](auto &b) { Put32Le(&b[kExtra2 + 4], 0x7FFFFFFF); }},
        {"tracks overlapping", [](auto &b) { Put32Le(&b[kTrack2 + 40], 30 * 2352); }},
        {"extra block past the end", [](auto &b) { Put32Le(&b[kTrack2 + 12], 0xFFFFFFF0u); }},
        {"file name past the end", [](auto &b) { Put32Le(&b[kFiles + 16], 0xFFFFFF00u); }},
        {"file blocks past the end", [](auto &b) { Put32Le(&b[kTrack2 + 52], 0xFFFFFFF0u); }},
        {"unknown mode", [](auto &b) { b[kTrack2] = 0xA6; }},
        {"sector size not the mode's", [](auto &b) { Put16Le(&b[kTrack2 + 16], 2048); }},
        {"tracks out of order", [](auto &b) { b[kTrack2 + 4] = 1; }},
    };
    ExpectCodes(mds, cases);
    std::remove((dir.path() + "/disc.md1").c_str());
    EXPECT_EQ(RunWatched([&] { return OpenResult(mds, OPEN_DISC_SHEETS); }), "open " + Code(ENGINE_IMAGE_OPEN_FAILED));
}

TEST(DescriptorDamage, BrokenCdiDescriptorsFailWithAClearCode) {
    qorvex::test::TempDir dir;
    const std::string cdi = qorvex::test::WriteCdiDisc(
        dir.path(), "disc", {MakeTrack(0, AudioPattern(60, 1), 150), MakeTrack(0, AudioPattern(40, 2), 150, 2)});
    const std::vector<uint8_t> intact = qorvex::test::ReadFile(cdi);
    // Version 3.5: the descriptor's length from the end; its first track block 4 bytes in, the second 255.
    const size_t header = intact.size() - Get32Le(&intact[intact.size() - 4]);
    const size_t t1 = header + 4, t2 = header + 255;
    const std::vector<Case> cases = {
        {"version word cut", [](auto &b) { b.resize(b.size() - 4); }},
        {"unknown version", [](auto &b) { b[b.size() - 8] = 0x07; }},
        {"descriptor offset past the file", [](auto &b) { Put32Le(&b[b.size() - 4], uint32_t(b.size() + 10)); }},
        {"sessions without end", [&](auto &b) { Put16Le(&b[header], 0xFFFF); }},
        {"track count huge", [&](auto &b) { Put16Le(&b[header + 2], 0xFFFF); }},
        {"start mark broken", [&](auto &b) { b[t2 + 6] = 7; }},
        {"length past the sectors",
         [&](auto &b) { Put32Le(&b[t2 + 66], 0xFFFFFF), Put32Le(&b[t2 + 96], 150 + 0xFFFFFF); }},
        {"total not pregap and length", [&](auto &b) { Put32Le(&b[t1 + 96], 1); }},
        {"index count huge", [&](auto &b) { Put16Le(&b[t1 + 60], 0xFFFF); }},
        {"sector size with 16 subchannel bytes", [&](auto &b) { Put32Le(&b[t1 + 116], 3); }},
        {"later session inside the gap before it", [&](auto &b) { Put32Le(&b[t2 + 92], 100); }},
        {"file name past the end", [&](auto &b) { b[t1 + 28] = 0xFF; }},
    };
    ExpectCodes(cdi, cases);
}

}  // namespace
}  // namespace damaged
