// Nero images damaged in their footer and chunks: every one fails to open with a clear code, in a child
// process that neither crashes nor hangs. The disc starts with audio, so that no plain probe of its sectors
// stands in for the chunks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "qorvex.h"
#include "support/disc_builder.h"
#include "support/harness/damage_harness.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::TempDir;

uint64_t GetBe(const std::vector<uint8_t> &b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}
void PutBe(std::vector<uint8_t> &b, size_t at, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v);
}
// Where a chunk's identifier lies in the image after byte `after` (the chain starts where the NER5 footer
// says); 0 when there is none.
size_t FindChunk(const std::vector<uint8_t> &b, const char *id, size_t after = 0) {
    for (size_t at = GetBe(b, b.size() - 8, 8); at + 8 <= b.size() - 12;) {
        if (at > after && std::memcmp(b.data() + at, id, 4) == 0) return at;
        at += 8 + GetBe(b, at + 4, 4);
    }
    return 0;
}

TEST(NrgDamage, BrokenFootersAndChunksFailWithAClearCode) {
    TempDir dir;
    using qorvex::test::MakeTrack;
    const std::string path = qorvex::test::WriteNrgDisc(
        dir.path(), "disc",
        {MakeTrack(0, qorvex::test::AudioPattern(60, 1)), MakeTrack(0, qorvex::test::AudioPattern(40, 2), 10),
         MakeTrack(0, qorvex::test::AudioPattern(30, 3), 0, 2)});
    const std::vector<uint8_t> intact = qorvex::test::ReadFile(path);
    const size_t dao = FindChunk(intact, "DAOX") + 8, cues = FindChunk(intact, "CUEX") + 8;
    const size_t later_cues = FindChunk(intact, "CUEX", cues) + 8;  // the second session's
    ASSERT_GT(dao, 8u);
    ASSERT_GT(later_cues, cues);
    const size_t track2 = dao + 22 + 42;  // the second track's block
    const uint64_t chain = GetBe(intact, intact.size() - 8, 8);
    struct Case {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> damage;
    } cases[] = {
        {"footer cut short", [](auto &b) { b.resize(b.size() - 4); }},
        {"no footer", [](auto &b) { b[b.size() - 12] = 'X'; }},
        {"chain offset past the file", [](auto &b) { PutBe(b, b.size() - 8, b.size() + 100, 8); }},
        {"chain offset inside the footer", [](auto &b) { PutBe(b, b.size() - 8, b.size() - 6, 8); }},
        {"chunk length past the file", [&](auto &b) { PutBe(b, dao - 4, 0xFFFFFFF0u, 4); }},
        {"chunk length past the chain", [&](auto &b) { PutBe(b, dao - 4, b.size() - dao, 4); }},
        // Index 0 alone in front of the track before is a pregap the image does not hold; index 1 is not.
        {"tracks overlapping",
         [&](auto &b) {
             for (size_t at : {track2 + 18, track2 + 26}) PutBe(b, at, GetBe(b, at, 8) - 2352, 8);
         }},
        {"tracks apart", [&](auto &b) { PutBe(b, track2 + 18, GetBe(b, track2 + 18, 8) + 2352, 8); }},
        {"end past the sectors", [&](auto &b) { PutBe(b, track2 + 34, chain + 2352, 8); }},
        {"offsets beyond any file", [&](auto &b) { PutBe(b, track2 + 26, ~uint64_t(0) - 5, 8); }},
        {"index 1 before index 0", [&](auto &b) { PutBe(b, track2 + 26, GetBe(b, track2 + 18, 8) - 2352, 8); }},
        {"part sectors", [&](auto &b) { PutBe(b, track2 + 26, GetBe(b, track2 + 26, 8) + 1, 8); }},
        {"sector size not the mode's", [&](auto &b) { PutBe(b, track2 + 12, 2048, 2); }},
        {"unknown mode", [&](auto &b) { b[track2 + 14] = 0x42; }},
        {"cue point not BCD", [&](auto &b) { b[cues + 8 + 2] = 0x1A; }},
        {"later session inside the gap before it",
         [&](auto &b) {
             // The third track's index 1 cue point, moved in front of the standard lead-out and lead-in.
             for (size_t at = later_cues; at + 8 <= later_cues + GetBe(b, later_cues - 4, 4); at += 8)
                 if (b[at + 1] == 0x03 && b[at + 2] == 0x01) PutBe(b, at + 4, GetBe(b, at + 4, 4) - 200, 4);
         }},
        {"no track chunk",
         [&](auto &b) {
             for (size_t at = FindChunk(b, "DAOX"); at; at = FindChunk(b, "DAOX"))
                 std::memcpy(b.data() + at, "XXXX", 4);
         }},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = intact;
        c.damage(bytes);
        qorvex::test::WriteFile(path, bytes);
        EXPECT_EQ(RunWatched([&] { return OpenResult(path, OPEN_DISC_SHEETS); }), "open " + Code(ENGINE_UNKNOWN_FORMAT))
            << c.what;
    }
    // The intact image opens; no cut of it does (the footer goes first).
    qorvex::test::WriteFile(path, intact);
    EXPECT_EQ(WithOpen(path, OPEN_DISC_SHEETS,
                       [](QorvexHandle h) { return "tracks " + std::to_string(QorvexGetTrackCount(h)); }),
              "tracks 3");
    for (size_t keep : {size_t(0), size_t(7), size_t(chain), intact.size() - 1}) {
        qorvex::test::WriteFile(path, std::vector<uint8_t>(intact.begin(), intact.begin() + keep));
        EXPECT_EQ(OpenResult(path, OPEN_DISC_SHEETS), "open " + Code(ENGINE_UNKNOWN_FORMAT)) << "cut to " << keep;
    }
}

}  // namespace
}  // namespace damaged
