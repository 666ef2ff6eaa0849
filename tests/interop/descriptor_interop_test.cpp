// Alcohol descriptors (.mds + .mdf) and DiscJuggler images (.cdi) of the disc builders' discs, read by the
// engine and by the peers that read them: mdf2iso (the data of an .mdf) and iat (the volume of an .mdf or a
// .cdi). The same disc as a CUE sheet gives the same table and bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/descriptor_writers.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

std::vector<uint8_t> Extract(QorvexHandle h, const std::string &out, int32_t track, uint32_t flags) {
    EXPECT_EQ(QorvexExtractTrack(h, track, out.c_str(), flags), 0) << "track " << track;
    return ReadFile(out);
}

bool SameTable(const std::vector<TrackInfo> &a, const std::vector<TrackInfo> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TrackInfo)) == 0;
}

std::string Folder(const std::string &path) {
    RunCommand("mkdir -p " + Quote(path));
    return path;
}

// The image opened with the sheets bit gives the table and every track's bytes (user data, raw with the
// pregap, WAV) of the sheet.
void ExpectSameDisc(const std::string &image, const std::string &sheet, const std::string &scratch, const char *what) {
    Opened a(image, OPEN_DISC_SHEETS), b(sheet, OPEN_DISC_SHEETS);
    ASSERT_TRUE(a && b) << what << std::hex << " 0x" << a.error() << " 0x" << b.error();
    ASSERT_TRUE(SameTable(TrackTable(a.get()), TrackTable(b.get()))) << what;
    for (int32_t t = 0; t < QorvexGetTrackCount(a.get()); ++t)
        for (uint32_t flags : {0u, uint32_t(TRACK_RAW | TRACK_PREGAP), uint32_t(TRACK_WAV)})
            EXPECT_TRUE(Extract(a.get(), scratch + ".a", t, flags) == Extract(b.get(), scratch + ".b", t, flags))
                << what << ": track " << t << " flags " << flags;
}

class DescriptorInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunCommand("mkdir -p " + Quote(dir / "src/DIR"));
        WriteFile(dir / "src/DIR/notes.txt", std::string(70000, 'n'));
        WriteFile(dir / "src/top.bin", Pattern(123457, 7));
        iso = Volume("-V DESCRIBED", "data.iso");
    }
    std::vector<uint8_t> Volume(const std::string &options, const std::string &name) {
        EXPECT_EQ(RunCommand("genisoimage -quiet " + options + " -o " + Quote(dir / name) + " " + Quote(dir / "src")),
                  0);
        return ReadFile(dir / name);
    }
    TempDir dir;
    std::vector<uint8_t> iso;
};

// The pregaps the CUE sheet of an image without them gives as PREGAP.
std::vector<DiscTrack> Unheld(std::vector<DiscTrack> tracks) {
    for (DiscTrack &t : tracks) t.absent_pregap += std::exchange(t.pregap, 0);
    return tracks;
}

TEST_F(DescriptorInteropTest, MdsFormsGiveTheTableAndBytesOfTheirSheet) {
    const int32_t next = static_cast<int32_t>(iso.size() / 2048) + 11400;
    const std::vector<uint8_t> later = Volume("-V LATER -C 0," + std::to_string(next), "later.iso");
    const std::vector<DiscTrack> mixed = {MakeTrack(3, WrapSectors(iso, 3)), MakeTrack(0, AudioPattern(450, 2)),
                                          MakeTrack(0, AudioPattern(301, 3), 75)};
    const std::vector<DiscTrack> sessions = {MakeTrack(3, WrapSectors(iso, 3)),
                                             MakeTrack(6, WrapSectors(later, 6), 0, 2),
                                             MakeTrack(0, AudioPattern(120, 8), 75, 2)};
    MdsForm apart, parts, wide;
    apart.pregaps_held = false;
    parts.parts = 3;
    wide.wide_names = true;
    wide.named = "disc.MDF";  // a name of its own, found without case
    const struct {
        const char *what;
        std::vector<DiscTrack> tracks, sheet;
        MdsForm form;
    } cases[] = {
        {"mixed", mixed, mixed, {}},
        {"pregaps not held", mixed, Unheld(mixed), apart},
        {"three parts", mixed, mixed, parts},
        {"two sessions, UTF-16 names", sessions, sessions, wide},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string folder = Folder(dir / ("m" + std::to_string(++n)));
        const std::string mds = WriteMdsDisc(folder, "disc", c.tracks, c.form);
        ExpectSameDisc(mds, WriteCueDisc(folder, "sheet", c.sheet, CueForm::kSingleFile), dir / "out", c.what);
        Opened disc(mds, OPEN_DISC_SHEETS);
        ASSERT_TRUE(disc) << c.what;
        EXPECT_TRUE(Extract(disc.get(), dir / "t1.iso", 0, 0) == iso) << c.what;
        char sheet[16] = {};
        QorvexExGetTrackText(disc.get(), -1, QORVEX_EX_TEXT_SHEET, sheet, sizeof sheet);
        EXPECT_STREQ(sheet, "mds");
    }
    Opened ms(dir / "m4/disc.mds", OPEN_DISC_SHEETS);
    EXPECT_TRUE(Extract(ms.get(), dir / "later.out", 1, 0) == later);
    EXPECT_EQ(+TrackTable(ms.get())[1].start, next);
    // Without the sheets bit a descriptor is no image.
    EXPECT_FALSE(Opened(dir / "m1/disc.mds", 0));
}

// Sectors of 2448 bytes (subchannel interleaved) and a DVD: the data track is the ISO, the raw sectors are the
// image's; the DVD's table is the plain ISO's.
TEST_F(DescriptorInteropTest, SubchannelSectorsAndDvdsReadAsTheirImage) {
    const std::vector<uint8_t> raw = WrapSectors(iso, 15), audio = Pattern(200 * 2448, 9);
    const std::string mds = WriteMdsDisc(Folder(dir / "sub"), "disc", {MakeTrack(15, raw), MakeTrack(14, audio, 10)});
    Opened with(mds, OPEN_DISC_SHEETS);
    ASSERT_TRUE(with) << std::hex << with.error();
    const std::vector<TrackInfo> table = TrackTable(with.get());
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(+table[0].format, 15);
    EXPECT_EQ(+table[1].format, 14);
    EXPECT_TRUE(Extract(with.get(), dir / "sub.iso", 0, 0) == iso);
    // Raw extraction gives each sector's 2352 bytes, without the subchannel.
    const std::vector<uint8_t> mdf = ReadFile(dir / "sub/disc.mdf");
    const auto main = [&](size_t from, size_t to) {
        std::vector<uint8_t> out;
        for (size_t at = from; at < to; at += 2448) out.insert(out.end(), mdf.begin() + at, mdf.begin() + at + 2352);
        return out;
    };
    EXPECT_TRUE(Extract(with.get(), dir / "data.raw", 0, TRACK_RAW) == main(0, raw.size()));
    EXPECT_TRUE(Extract(with.get(), dir / "audio.raw", 1, TRACK_RAW) == main(raw.size() + 10 * 2448, mdf.size()));

    MdsForm dvd;
    dvd.dvd = true;
    dvd.parts = 2;
    Opened disc(WriteMdsDisc(Folder(dir / "dvd"), "disc", {MakeTrack(9, iso)}, dvd), OPEN_DISC_SHEETS);
    Opened plain(dir / "data.iso");
    ASSERT_TRUE(disc && plain) << std::hex << disc.error();
    EXPECT_TRUE(SameTable(TrackTable(disc.get()), TrackTable(plain.get())));
    EXPECT_EQ(QorvexGetFileCount(disc.get(), 0, KIND_ISO9660), QorvexGetFileCount(plain.get(), 0, KIND_ISO9660));
    EXPECT_TRUE(Extract(disc.get(), dir / "dvd.iso", 0, 0) == iso);
}

// The .mdf opened by itself: with a data first track the plain probe reads it as always; with an audio first
// track it opens through the .mds beside it.
TEST_F(DescriptorInteropTest, AnMdfTheProbeRefusesOpensThroughItsDescriptor) {
    const std::vector<DiscTrack> audio_first = {MakeTrack(0, AudioPattern(300, 4)),
                                                MakeTrack(3, WrapSectors(iso, 3), 0, 2)};
    const std::string mds = WriteMdsDisc(Folder(dir / "beside"), "disc", audio_first);
    Opened from_mdf(dir / "beside/disc.mdf", OPEN_DISC_SHEETS), from_mds(mds, OPEN_DISC_SHEETS);
    ASSERT_TRUE(from_mdf && from_mds) << std::hex << from_mdf.error();
    EXPECT_TRUE(SameTable(TrackTable(from_mdf.get()), TrackTable(from_mds.get())));
    EXPECT_EQ(QorvexGetTrackCount(from_mdf.get()), 2);
    EXPECT_FALSE(Opened(dir / "beside/disc.mdf", 0));
}

TEST_F(DescriptorInteropTest, PeersReadTheDataOfMdfAndCdiImages) {
    const std::string mds = WriteMdsDisc(Folder(dir / "peer"), "disc", {MakeTrack(3, WrapSectors(iso, 3))});
    const std::string cdi = WriteCdiDisc(dir / "peer", "disc", {MakeTrack(9, iso, 150)});
    Opened a(mds, OPEN_DISC_SHEETS), b(cdi, OPEN_DISC_SHEETS);
    ASSERT_TRUE(a && b) << std::hex << a.error() << " " << b.error();
    EXPECT_TRUE(Extract(a.get(), dir / "a.iso", 0, 0) == iso);
    EXPECT_TRUE(Extract(b.get(), dir / "b.iso", 0, 0) == iso);
    const struct {
        const char *peer;
        std::string image;
    } peers[] = {{"mdf2iso", dir / "peer/disc.mdf"}, {"iat", dir / "peer/disc.mdf"}, {"iat", cdi}};
    for (const auto &p : peers) {
        if (!HaveProgram(p.peer)) continue;
        RunCommand(std::string(p.peer) + " " + Quote(p.image) + " " + Quote(dir / "peer.iso") + " >/dev/null 2>&1");
        const std::vector<uint8_t> out = ReadFile(dir / "peer.iso");
        ASSERT_GE(out.size(), iso.size()) << p.peer << " " << p.image;
        EXPECT_TRUE(std::equal(iso.begin(), iso.end(), out.begin())) << p.peer << " " << p.image;
        RunCommand("rm -f " + Quote(dir / "peer.iso"));
    }
}

// A disc laid out as a Dreamcast's: an audio session, then a Mode 2 data session whose volume is mastered for
// sector 11702, in each version of the format. Its table and bytes are those of its CUE sheet.
TEST_F(DescriptorInteropTest, CdiVersionsGiveTheTableAndBytesOfTheirSheet) {
    const std::vector<uint8_t> data = Volume("-V GAME -C 0,11702", "game.iso");
    std::vector<DiscTrack> disc = {MakeTrack(0, AudioPattern(302, 1), 150),
                                   MakeTrack(13, WrapSectors(data, 13), 150, 2)};
    std::vector<DiscTrack> mixed = {MakeTrack(3, WrapSectors(iso, 3), 150), MakeTrack(0, AudioPattern(200, 2), 150),
                                    MakeTrack(14, Pattern(100 * 2448, 3), 20)};
    const std::string folder = Folder(dir / "cdi");
    const std::string sheet = WriteCueDisc(folder, "sheet", disc, CueForm::kSingleFile);
    const struct {
        const char *what;
        CdiVersion version;
    } versions[] = {{"2.0", CdiVersion::k2}, {"3.0", CdiVersion::k3}, {"3.5", CdiVersion::k35}};
    for (const auto &v : versions) {
        const std::string cdi = WriteCdiDisc(folder, std::string("dc") + v.what, disc, v.version);
        ExpectSameDisc(cdi, sheet, dir / "out", v.what);
        Opened image(cdi, OPEN_DISC_SHEETS);
        ASSERT_TRUE(image) << v.what;
        const std::vector<TrackInfo> table = TrackTable(image.get());
        EXPECT_EQ(+table[1].start, 11702) << v.what;
        EXPECT_EQ(+table[1].format, 13) << v.what;
        EXPECT_TRUE(Extract(image.get(), dir / "game.out", 1, 0) == data) << v.what;
        char sheet_word[16] = {};
        QorvexExGetTrackText(image.get(), -1, QORVEX_EX_TEXT_SHEET, sheet_word, sizeof sheet_word);
        EXPECT_STREQ(sheet_word, "cdi");
        Opened m(WriteCdiDisc(folder, std::string("mixed") + v.what, mixed, v.version), OPEN_DISC_SHEETS);
        ASSERT_TRUE(m) << v.what;
        EXPECT_TRUE(Extract(m.get(), dir / "m.iso", 0, 0) == iso) << v.what;
        EXPECT_EQ(+TrackTable(m.get())[2].format, 14) << v.what;
    }
}

}  // namespace
}  // namespace qorvex::test
