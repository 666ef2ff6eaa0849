// qorvex on a BIN/CUE disc: the track table with sessions, index 00 and files; a track by its number; the file
// system of the data track listed and extracted by default; --no-extensions. That other image formats give the
// sheet's table is the engine's (SheetInteropTest); here their texts and names.
#include <gtest/gtest.h>

#include "support/descriptor_writers.h"
#include "support/disc_builder.h"
#include "support/harness/cli_harness.h"
#include "support/raw_sectors.h"

namespace cli_test {
namespace {

using qorvex::test::AudioPattern;
using qorvex::test::CueForm;
using qorvex::test::MakeTrack;

class SheetCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunCommand("mkdir -p " + Quote(dir / "src") + " " + Quote(dir / "disc"));
        WriteFile(dir / "src/hello.txt", "hello from the data track\n");
        // The data track starts at sector 450 (300 audio, 150 pregap): its volume is mastered for that address.
        iso = MakeIso(dir / "data.iso", "-V CUEDISC -C 0,450", dir / "src");
        const std::vector<uint8_t> audio = AudioPattern(300, 9);
        // An audio track first (a data track need not lead), the data track in the middle.
        tracks = {MakeTrack(0, audio), MakeTrack(3, qorvex::test::WrapSectors(iso, 3), 150), MakeTrack(0, audio, 75)};
        cue = qorvex::test::WriteCueDisc(dir / "disc", "disc", tracks, CueForm::kSplitHead, "TITLE \"Mixed\"\n");
    }
    TempDir dir;
    std::vector<uint8_t> iso;
    std::vector<qorvex::test::DiscTrack> tracks;
    std::string cue;
};

TEST_F(SheetCliTest, TracksShowsSessionsIndexesAndFiles) {
    Result text = Qorvex({"tracks", cue});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("INDEX00"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("MODE1/2352"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("disc (Track 02).bin"), std::string::npos) << text.out;

    Result json = Qorvex({"tracks", "--json", cue});
    ASSERT_EQ(json.status, 0) << json.err;
    // Track 2: its stored 150-sector pregap follows track 1's 300 sectors.
    EXPECT_NE(json.out.find("\"track\": 2, \"format\": \"MODE1/2352\", \"format_code\": 3, \"first_held\": 300, "
                            "\"start\": 450"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"indexes\": [300, 450], \"files\": [\"disc (Track 02).bin\"]"), std::string::npos)
        << json.out;

    Result off = Qorvex({"--no-extensions", "tracks", cue});
    EXPECT_NE(off.status, 0);
    EXPECT_NE(off.err.find("0x8123"), std::string::npos) << off.err;
}

// The disc's own text: the sheet's TITLE and CATALOG, a Nero image's CD-TEXT chunk.
TEST_F(SheetCliTest, TracksAndInfoShowTheDiscsTitleAndCatalogue) {
    const std::string sheet = qorvex::test::WriteCueDisc(dir / "disc", "mcn", tracks, CueForm::kSingleFile,
                                                         "CATALOG 0123456789012\nTITLE \"Mixed\"\n");
    const std::string nrg = qorvex::test::WriteNrgDisc(dir / "disc", "text", tracks, qorvex::test::NrgForm::kDaoV2,
                                                       qorvex::test::CdTextPacks({{"Nero Disc", "A Band"}}, false));
    EXPECT_EQ(Qorvex({"tracks", sheet}).out.rfind("Disc: title \"Mixed\", catalog 0123456789012\n", 0), 0u);
    EXPECT_NE(Qorvex({"info", "--json", sheet}).out.find("\"disc_title\": \"Mixed\", \"catalog\": \"0123456789012\"}"),
              std::string::npos);
    EXPECT_EQ(Qorvex({"info", nrg}).out.rfind("Disc: title \"Nero Disc\", performer \"A Band\"\n", 0), 0u);
    EXPECT_NE(Qorvex({"tracks", "--json", nrg}).out.find("\"disc_performer\": \"A Band\"}"), std::string::npos);
}

// info names an Alcohol descriptor (the engine's word for each format: SheetInteropTest); a descriptor of
// version 2 is refused by name.
TEST_F(SheetCliTest, InfoNamesMdsImages) {
    const std::string mds = qorvex::test::WriteMdsDisc(dir / "disc", "disc", tracks);
    EXPECT_NE(Qorvex({"info", mds}).out.find("Image: mds\n"), std::string::npos);
    // Its data file gone: named.
    const std::string mdf = mds.substr(0, mds.size() - 4) + ".mdf";
    ASSERT_EQ(rename(mdf.c_str(), (mdf + ".away").c_str()), 0);
    EXPECT_NE(Qorvex({"info", mds}).err.find("its data file \"disc.mdf\" is not in its folder"), std::string::npos);
    ASSERT_EQ(rename((mdf + ".away").c_str(), mdf.c_str()), 0);
    std::vector<uint8_t> bytes = ReadFile(mds);
    bytes[16] = 2;
    WriteFile(mds, bytes);
    EXPECT_NE(Qorvex({"info", mds}).err.find("a media descriptor of version 2 is encrypted"), std::string::npos);
}

TEST_F(SheetCliTest, ExtractsTheDataTrackAndItsFiles) {
    // The track numbers are the sheet's (--wav and the other forms: TracksTest).
    ASSERT_EQ(Qorvex({"extract-track", cue, "2", "-o", dir / "two.iso"}).status, 0);
    EXPECT_TRUE(ReadFile(dir / "two.iso") == iso);

    // ls and extract choose the data track unless told otherwise.
    Result ls = Qorvex({"ls", cue});
    ASSERT_EQ(ls.status, 0) << ls.err;
    EXPECT_NE(ls.out.find("HELLO.TXT"), std::string::npos) << ls.out;
    ASSERT_EQ(Qorvex({"extract", cue, "-o", dir / "out"}).status, 0);
    EXPECT_EQ(ReadText(dir / "out/HELLO.TXT"), "hello from the data track\n");
    Result audio_track = Qorvex({"ls", cue, "--track", "1"});
    EXPECT_EQ(audio_track.out.find("HELLO.TXT"), std::string::npos) << audio_track.out;
}

}  // namespace
}  // namespace cli_test
