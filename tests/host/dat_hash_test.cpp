// The hashes fed in pieces of every size agree with md5sum, sha1sum and zlib over the same bytes; the DAT
// reader takes what published DATs hold and refuses what is not XML; the matcher's choice of entry.
#include <gtest/gtest.h>

#include <random>

#include "dat_match.h"
#include "disc_hash.h"
#include "support/dat_builder.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace {

using qorvex::test::CaptureCommand;

TEST(DiscHashTest, PiecesOfAnySizeGiveThePeersDigests) {
    qorvex::test::TempDir dir;
    const std::vector<uint8_t> bytes = qorvex::test::Pattern(300001, 9);
    qorvex::test::WriteFile(dir / "f", bytes);
    host::DiscHasher hasher;
    // SHA-256 both through the processor's SHA instructions (where it has them) and without.
    host::Sha256 sha256, plain_sha256(false);
    std::mt19937 random(5);
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = std::min<size_t>(bytes.size() - at, random() % 200);
        hasher.Update(bytes.data() + at, n);
        sha256.Update(bytes.data() + at, n);
        plain_sha256.Update(bytes.data() + at, n);
        at += n;
    }
    const host::DiscHash h = hasher.Finish();
    const std::string f = qorvex::test::Quote(dir / "f");
    const std::string peer_sha256 = CaptureCommand("sha256sum < " + f).substr(0, 64);
    EXPECT_EQ(sha256.Finish(), peer_sha256);
    EXPECT_EQ(plain_sha256.Finish(), peer_sha256);
    EXPECT_EQ(h.md5, CaptureCommand("md5sum < " + f).substr(0, 32));
    EXPECT_EQ(h.sha1, CaptureCommand("sha1sum < " + f).substr(0, 40));
    EXPECT_EQ(h.crc32 + "\n",
              CaptureCommand(
                  "python3 -c \"import sys,zlib; print('%08x' % zlib.crc32(open(sys.argv[1],'rb').read()))\" " + f));
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>";
    return text;
}

TEST(DatTest, ReadsWhatDatsHoldAndRefusesWhatIsNotXml) {
    const struct {
        const char *name;
        std::string text;
        const char *error;  // null: read, with one game holding the rom "a.bin" of size 3
    } cases[] = {
        {"builder", qorvex::test::DatXml("X", {{"G", {{"a.bin", 3, "AbCdEf01", "", ""}}}}), nullptr},
        {"machine, single quotes, entities",
         "<datafile><machine name='G &#x26; &#38;'><rom name='a&#46;bin' size='3'/>"
         "</machine></datafile>",
         nullptr},
        {"comment and CDATA",
         "<datafile><!-- <game> --><game name='G'><![CDATA[</game>]]><rom name='a.bin' size='3'/>"
         "</game></datafile>",
         nullptr},
        {"unclosed", "<datafile><game name='G'>", "line 1: <game> is not closed"},
        {"crossed", "<datafile><game></datafile></game>", "line 1: </datafile> closes <game>"},
        {"size", "<datafile><game><rom name='a' size='-3'/></game></datafile>",
         "line 1: a size that is not a number: -3"},
        {"unquoted", "<datafile>\n<game name=G>", "line 2: an unquoted attribute value in <game>"},
        {"cut short", "<datafile><", "line 1: a tag cut short at the end"},
        {"deep", Nested(70), "line 1: elements nested too deep"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        host::Dat dat;
        std::string error;
        EXPECT_EQ(host::ParseDat(c.text, &dat, &error), c.error == nullptr);
        if (c.error) {
            EXPECT_EQ(error, c.error);
            continue;
        }
        ASSERT_EQ(dat.games.size(), 1u);
        ASSERT_EQ(dat.games[0].roms.size(), 1u);
        EXPECT_EQ(dat.games[0].roms[0].name, "a.bin");
        EXPECT_EQ(dat.games[0].roms[0].size, 3u);
    }
    host::Dat dat;
    std::string error;
    ASSERT_TRUE(host::ParseDat(cases[1].text, &dat, &error));
    EXPECT_EQ(dat.games[0].name, "G & &");
    ASSERT_TRUE(host::ParseDat(cases[0].text, &dat, &error));
    EXPECT_EQ(dat.games[0].roms[0].crc32, "abcdef01");  // digests compared in lower case
}

TEST(DatTest, AGameMatchesOnlyWhenItsEveryTrackIsThere) {
    const host::DiscHash one{10, "00000001", "", ""}, two{20, "00000002", "", ""};
    host::Dat dat;
    std::string error;
    ASSERT_TRUE(host::ParseDat(qorvex::test::DatXml("D", {{"Longer",
                                                           {{"L (Track 1).bin", 10, "00000001", "", ""},
                                                            {"L (Track 2).bin", 20, "00000002", "", ""},
                                                            {"L (Track 3).bin", 30, "00000003", "", ""}}},
                                                          {"Exact",
                                                           {{"E.cue", 5, "", "", ""},
                                                            {"E (Track 1).bin", 10, "00000001", "", ""},
                                                            {"E (Track 2).bin", 20, "00000002", "", ""}}}}),
                               &dat, &error));
    const host::DatMatch both = host::MatchDat(dat, {one, two});
    ASSERT_NE(both.game, nullptr);
    EXPECT_EQ(both.game->name, "Exact");  // "Longer" has a track this disc lacks

    const host::DatMatch changed = host::MatchDat(dat, {one, {20, "0000000f", "", ""}});
    EXPECT_EQ(changed.game, nullptr);
    ASSERT_EQ(changed.tracks.size(), 2u);
    EXPECT_TRUE(changed.tracks[0].exact);
    EXPECT_FALSE(changed.tracks[1].exact);
    ASSERT_NE(changed.tracks[1].rom, nullptr);
    EXPECT_EQ(changed.tracks[1].rom->name, "E (Track 2).bin");  // the game of as many tracks, the same number
}

}  // namespace
