// qorvex tracks / extract-track on plain 2048-byte images and on MODE1/2352 images with and without pregap.
#include <gtest/gtest.h>

#include <sstream>

#include "support/disc_builder.h"
#include "support/harness/cli_harness.h"
#include "support/raw_sectors.h"

namespace cli_test {
namespace {

// MODE1/2352 sectors around 2048-byte user sectors, optionally with the 150-sector pregap in front.
std::vector<uint8_t> WrapMode1(const std::vector<uint8_t> &user, bool pregap) {
    qorvex::test::RawOptions raw;
    raw.pregap = pregap;
    return qorvex::test::WrapSectors(user, 3, raw);
}

class TracksTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunCommand("mkdir -p " + Quote(dir / "src/DOCS"));
        WriteFile(dir / "src/DOCS/readme.txt", std::string(5000, 'r'));
        WriteFile(dir / "src/one.txt", "one\n");
        iso = MakeIso(dir / "plain.iso", "-V TRACKS", dir / "src");
        ASSERT_EQ(iso.size() % 2048, 0u);
        sectors = static_cast<int>(iso.size() / 2048);
        WriteFile(dir / "pregap.bin", WrapMode1(iso, true));
    }
    static std::string TrackLine(const std::string &out) {
        size_t eol = out.find('\n');
        return eol == std::string::npos ? "" : out.substr(eol + 1);
    }
    TempDir dir;
    std::vector<uint8_t> iso;
    int sectors = 0;
};

TEST_F(TracksTest, ListsPlainAndRawImagesWithTheirPositions) {
    const struct {
        const char *image, *type, *pregap;
    } cases[] = {{"plain.iso", "MODE1/2048", "00:00:00"},
                 {"pregap.bin", "MODE1/2352", "-00:02:00"}};  // the 150 pregap sectors the file holds
    for (const auto &c : cases) {
        Result r = Qorvex({"tracks", dir / c.image});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream line(TrackLine(r.out));
        std::string session, track, type, pre, start, length;
        line >> session >> track >> type >> pre >> start >> length;
        EXPECT_EQ(session + track + type, std::string("11") + c.type) << c.image;
        EXPECT_EQ(pre, c.pregap) << c.image;
        EXPECT_EQ(start, "00:00:00") << c.image;
        EXPECT_EQ(length, qorvex::test::Msf(sectors)) << c.image;
    }
}

TEST_F(TracksTest, ExtractsUserDataRawPregapAndWav) {
    const std::string image = dir / "pregap.bin";

    Result user = Qorvex({"--check-edc", "extract-track", image, "1", "-o", dir / "user.iso"});
    ASSERT_EQ(user.status, 0) << user.err;
    EXPECT_TRUE(ReadFile(dir / "user.iso") == iso);
    EXPECT_TRUE(user.err.empty()) << "progress must stay off when stderr is not a terminal: " << user.err;

    ASSERT_EQ(Qorvex({"extract-track", image, "1", "-o", dir / "raw.bin", "--raw"}).status, 0);
    std::vector<uint8_t> wrapped = ReadFile(image);
    std::vector<uint8_t> raw = ReadFile(dir / "raw.bin");
    ASSERT_EQ(raw.size(), static_cast<size_t>(sectors) * 2352);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), wrapped.begin() + 150 * 2352));

    ASSERT_EQ(Qorvex({"extract-track", image, "1", "-o", dir / "all.bin", "--pregap"}).status, 0);
    EXPECT_TRUE(ReadFile(dir / "all.bin") == wrapped);

    ASSERT_EQ(Qorvex({"extract-track", image, "1", "-o", dir / "track.wav", "--wav"}).status, 0);
    std::vector<uint8_t> wav = qorvex::test::WavHeader(static_cast<uint32_t>(raw.size()));
    wav.insert(wav.end(), raw.begin(), raw.end());
    EXPECT_TRUE(ReadFile(dir / "track.wav") == wav);

    // "-" sends the data to standard output.
    Result piped = Qorvex({"extract-track", dir / "plain.iso", "1", "-o", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(std::vector<uint8_t>(piped.out.begin(), piped.out.end()) == iso);
}

TEST_F(TracksTest, EdcMismatchAndBadTrackNumbersFailWithAMessage) {
    std::vector<uint8_t> raw = WrapMode1(iso, false);
    raw[static_cast<size_t>(sectors - 1) * 2352 + 2064] ^= 0x01;  // the EDC of the last sector
    WriteFile(dir / "bad-edc.bin", raw);

    Result unchecked = Qorvex({"extract-track", dir / "bad-edc.bin", "1", "-o", dir / "a.iso"});
    EXPECT_EQ(unchecked.status, 0) << unchecked.err;
    Result checked = Qorvex({"--check-edc", "extract-track", dir / "bad-edc.bin", "1", "-o", dir / "b.iso"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.err.find("0x8124"), std::string::npos) << checked.err;
    EXPECT_NE(checked.err.find("EDC"), std::string::npos) << checked.err;
    EXPECT_FALSE(Exists(dir / "b.iso")) << "a file cut short by the failure is not left looking whole";
    // A file that was there before the failure is the user's: left as the engine left it.
    WriteFile(dir / "c.iso", "before");
    EXPECT_EQ(Qorvex({"--check-edc", "extract-track", dir / "bad-edc.bin", "1", "-o", dir / "c.iso"}).status, 1);
    EXPECT_TRUE(Exists(dir / "c.iso"));

    for (const char *n : {"0", "2", "x"}) {
        Result r = Qorvex({"extract-track", dir / "plain.iso", n, "-o", dir / "t.bin"});
        EXPECT_NE(r.status, 0) << n;
        EXPECT_NE(r.err.find("track"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Qorvex({"extract-track", dir / "plain.iso", "1"}).status, 2);  // no -o
}

}  // namespace
}  // namespace cli_test
