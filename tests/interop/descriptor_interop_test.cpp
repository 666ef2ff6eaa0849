// Alcohol descriptors (.mds + .mdf) and DiscJuggler images (.cdi) give the table and bytes of the same disc as a
// CUE sheet; mdf2iso and iat read the same data from them.
#include <gtest/gtest.h>

#include <cstring>

#include "qorvex_ext.h"
#include "support/descriptor_writers.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

std::vector<uint8_t> Extract(const Opened &disc, const std::string &out, int32_t track, uint32_t flags = 0) {
    EXPECT_EQ(QorvexExtractTrack(disc.get(), track, out.c_str(), flags), 0) << out;
    return ReadFile(out);
}

// `image` (its sheet word `word`) and `sheet`: one table, every track's bytes alike; the first track is `iso`.
void ExpectSameDisc(const std::string &image, const std::string &sheet, const char *word,
                    const std::vector<uint8_t> &iso) {
    Opened a(image, OPEN_DISC_SHEETS), b(sheet, OPEN_DISC_SHEETS);
    ASSERT_TRUE(a && b) << image << std::hex << " 0x" << a.error() << " 0x" << b.error();
    const std::vector<TrackInfo> ta = TrackTable(a.get()), tb = TrackTable(b.get());
    ASSERT_EQ(ta.size(), tb.size()) << image;
    EXPECT_EQ(std::memcmp(ta.data(), tb.data(), ta.size() * sizeof(TrackInfo)), 0) << image;
    for (int32_t t = 0; t < QorvexGetTrackCount(a.get()); ++t)
        for (uint32_t flags : {0u, uint32_t(TRACK_RAW | TRACK_PREGAP), uint32_t(TRACK_WAV)})
            EXPECT_TRUE(Extract(a, image + ".a", t, flags) == Extract(b, image + ".b", t, flags))
                << image << t << flags;
    EXPECT_TRUE(Extract(a, image + ".iso", 0) == iso) << image;
    char text[8] = {};
    QorvexExGetTrackText(a.get(), -1, QORVEX_EX_TEXT_SHEET, text, sizeof text);
    EXPECT_STREQ(text, word);
}

class DescriptorInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunCommand("mkdir -p " + Quote(dir / "src"));
        WriteFile(dir / "src/top.bin", Pattern(123457, 7));
        iso = Volume("", "data.iso");
    }
    std::vector<uint8_t> Volume(const std::string &options, const std::string &name) {
        return GenisoimageVolume(dir / "src", options, dir / name);
    }
    TempDir dir;
    std::vector<uint8_t> iso;
};

TEST_F(DescriptorInteropTest, MdsFormsGiveTheirSheetsDisc) {
    const int32_t next = static_cast<int32_t>(iso.size() / 2048) + 11400;
    const std::vector<uint8_t> later = Volume("-C 0," + std::to_string(next), "later.iso");
    const std::vector<DiscTrack> mixed = {MakeTrack(3, WrapSectors(iso, 3)), MakeTrack(0, AudioPattern(301, 3), 75)},
                                 two = {MakeTrack(3, WrapSectors(iso, 3)), MakeTrack(6, WrapSectors(later, 6), 0, 2)};
    std::vector<DiscTrack> unheld = mixed;
    unheld[1].absent_pregap = std::exchange(unheld[1].pregap, 0);
    MdsForm apart, parts, wide, dvd;
    apart.pregaps_held = false, parts.parts = 3, wide.wide_names = true, wide.named = "M3.MDF";
    dvd.dvd = true, dvd.parts = 2;
    const struct {
        std::vector<DiscTrack> tracks, sheet;
        MdsForm form;
    } cases[] = {{mixed, mixed, {}},
                 {mixed, unheld, apart},
                 {mixed, mixed, parts},
                 {two, two, wide},
                 {{MakeTrack(9, iso)}, {}, dvd}};
    for (int i = 0; i < 5; ++i) {
        const std::string name = "m" + std::to_string(i);
        ExpectSameDisc(WriteMdsDisc(dir.path(), name, cases[i].tracks, cases[i].form),
                       i == 4 ? dir / "data.iso" : WriteCueDisc(dir.path(), name, cases[i].sheet, CueForm::kSingleFile),
                       "mds", iso);
    }
    EXPECT_TRUE(Extract(Opened(dir / "m3.mds", OPEN_DISC_SHEETS), dir / "later.out", 1) == later);
    EXPECT_FALSE(Opened(dir / "m0.mds"));  // without the sheets bit a descriptor is no image
    // 2448-byte sectors; an .mdf the plain probe refuses (audio first) opens through the .mds beside it.
    const std::string sub = WriteMdsDisc(
        dir.path(), "sub", {MakeTrack(14, Pattern(200 * 2448, 9)), MakeTrack(15, WrapSectors(iso, 15), 0, 2)});
    Opened by_mdf(dir / "sub.mdf", OPEN_DISC_SHEETS);
    EXPECT_TRUE(by_mdf && Extract(by_mdf, dir / "sub.iso", 1) == iso && +TrackTable(by_mdf.get())[0].format == 14);
}

// A Dreamcast's layout: an audio session, then a Mode 2 data session mastered for sector 11702.
TEST_F(DescriptorInteropTest, CdiVersionsGiveTheirSheetsDisc) {
    const std::vector<uint8_t> game = Volume("-C 0,11702", "game.iso");
    const std::vector<DiscTrack> disc = {MakeTrack(0, AudioPattern(302, 1), 150),
                                         MakeTrack(13, WrapSectors(game, 13), 150, 2)},
                                 data = {MakeTrack(9, game, 150)};
    for (CdiVersion v : {CdiVersion::k2, CdiVersion::k3, CdiVersion::k35}) {
        const std::string name = "c" + std::to_string(uint32_t(v) & 0xF);
        ExpectSameDisc(WriteCdiDisc(dir.path(), name, data, v),
                       WriteCueDisc(dir.path(), name, data, CueForm::kSingleFile), "cdi", game);
        const std::string cdi = WriteCdiDisc(dir.path(), name + "dc", disc, v);
        ExpectSameDisc(cdi, WriteCueDisc(dir.path(), name + "dc", disc, CueForm::kSingleFile), "cdi",
                       AudioPattern(302, 1));
        EXPECT_TRUE(Extract(Opened(cdi, OPEN_DISC_SHEETS), dir / "game.out", 1) == game);
    }
}

TEST_F(DescriptorInteropTest, PeersReadTheirData) {
    const std::string mds = WriteMdsDisc(dir.path(), "peer", {MakeTrack(3, WrapSectors(iso, 3))});
    const std::string cdi = WriteCdiDisc(dir.path(), "peer", {MakeTrack(9, iso, 150)});
    for (const char *command : {"mdf2iso peer.mdf", "iat peer.mdf", "iat peer.cdi"}) {
        if (!HaveProgram(std::string(command).substr(0, std::string(command).find(' ')))) continue;
        RunCommand("cd " + Quote(dir.path()) + " && rm -f out.iso && " + command + " out.iso >/dev/null 2>&1");
        const std::vector<uint8_t> out = ReadFile(dir / "out.iso");
        EXPECT_TRUE(out.size() >= iso.size() && std::equal(iso.begin(), iso.end(), out.begin())) << command;
    }
}

}  // namespace
}  // namespace qorvex::test
