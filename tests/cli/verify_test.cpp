// qorvex verify, repair and hash on discs made by the builders: damage of each kind found and reported as
// ranges, the repaired copy equal to the clean source where parity can mend it, the input never written, and
// track hashes equal to md5sum, sha1sum and Python's zlib over the split files the sheet writer makes; a DAT
// written from those hashes matched, and with one entry changed, the mismatch reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "support/dat_builder.h"
#include "support/disc_builder.h"
#include "support/harness/cli_harness.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"

namespace cli_test {
namespace {

using qorvex::test::CaptureCommand;
using qorvex::test::CueForm;
using qorvex::test::MakeTrack;

constexpr size_t kRaw = 2352;

class VerifyCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunCommand("mkdir -p " + Quote(dir / "src") + " " + Quote(dir / "single") + " " + Quote(dir / "split"));
        WriteFile(dir / "src/data.bin", qorvex::test::Pattern(300000, 4));
        const std::vector<uint8_t> iso = MakeIso(dir / "data.iso", "-V VERIFY", dir / "src");
        // A data track at sector 0, then an audio track with a stored pregap.
        tracks = {MakeTrack(3, qorvex::test::WrapSectors(iso, 3)),
                  MakeTrack(0, qorvex::test::AudioPattern(200, 3), 150)};
        single = qorvex::test::WriteCueDisc(dir / "single", "disc", tracks, CueForm::kSingleFile);
        split = qorvex::test::WriteCueDisc(dir / "split", "disc", tracks, CueForm::kSplitHead);
        bin = dir / "single/disc.bin";
        clean = ReadFile(bin);
    }
    uint8_t *Sector(std::vector<uint8_t> &bytes, size_t lba) { return bytes.data() + lba * kRaw; }
    // A member of the JSON object of track 1.
    int64_t Field(const std::string &json, const std::string &name) {
        std::smatch m;
        if (!std::regex_search(json, m, std::regex("\"" + name + "\": (\\d+)"))) return -1;
        return std::stoll(m[1]);
    }
    TempDir dir;
    std::vector<qorvex::test::DiscTrack> tracks;
    std::string single, split, bin;
    std::vector<uint8_t> clean;
};

TEST_F(VerifyCliTest, ReportsDamageAndRepairsWhatParityCan) {
    Result good = Qorvex({"verify", single});
    EXPECT_EQ(good.status, 0) << good.out << good.err;
    std::vector<uint8_t> damaged = clean;
    Sector(damaged, 20)[700] ^= 0x11;                                   // one byte
    for (size_t i = 100; i < 160; ++i) Sector(damaged, 21)[i] ^= 0xFF;  // a burst
    for (size_t at : {12 + 3 * 86, 12 + 8 * 86, 12 + 4 * 86 + 2, 12 + 9 * 86 + 2})
        Sector(damaged, 40)[at] ^= 0x42;  // two per P column and per Q diagonal: beyond the parity
    std::copy_n(Sector(damaged, 51), kRaw, Sector(damaged, 50));  // a whole sector of another address
    WriteFile(bin, damaged);

    Result json = Qorvex({"verify", "--json", single});
    EXPECT_EQ(json.status, 1);
    const std::string track1 = json.out.substr(0, json.out.find("\"track\": 2"));
    EXPECT_EQ(Field(track1, "good"), Field(track1, "sectors") - 4) << json.out;
    EXPECT_EQ(Field(track1, "edc_errors"), 3);
    EXPECT_EQ(Field(track1, "ecc_errors"), 3);
    EXPECT_EQ(Field(track1, "correctable"), 2);
    EXPECT_EQ(Field(track1, "address_errors"), 1);
    EXPECT_NE(track1.find("{\"first\": 20, \"last\": 21, \"faults\": \"EDC, ECC\", \"correctable\": true"),
              std::string::npos)
        << track1;
    EXPECT_NE(track1.find("{\"first\": 40, \"last\": 40, \"faults\": \"EDC, ECC\", \"correctable\": false"),
              std::string::npos);
    EXPECT_NE(track1.find("{\"first\": 50, \"last\": 50, \"faults\": \"address\""), std::string::npos);
    EXPECT_NE(Qorvex({"verify", single}).out.find("sectors 20-21: EDC, ECC (correctable)"), std::string::npos);
    EXPECT_EQ(Qorvex({"verify", single, "--track", "2"}).status, 0);  // the audio track alone

    Result repair = Qorvex({"repair", single, "-o", dir / "fixed.bin"});
    EXPECT_EQ(repair.status, 1) << repair.err;  // two sectors are beyond repair
    EXPECT_NE(repair.out.find("2 sectors corrected, 2 not correctable"), std::string::npos) << repair.out;
    std::vector<uint8_t> expected = clean;
    for (size_t lba : {40, 50}) std::copy_n(Sector(damaged, lba), kRaw, Sector(expected, lba));
    EXPECT_TRUE(ReadFile(dir / "fixed.bin") == expected);
    EXPECT_TRUE(ReadFile(bin) == damaged);

    // A file per track: a new folder with the sheet and each file, the damaged one mended.
    const std::string one = dir / "split/disc (Track 01).bin", two = dir / "split/disc (Track 02).bin";
    const std::vector<uint8_t> clean_one = ReadFile(one);
    std::vector<uint8_t> damaged_one = clean_one;
    Sector(damaged_one, 7)[1500] ^= 0x80;
    WriteFile(one, damaged_one);
    Result folder = Qorvex({"repair", split, "-o", dir / "fixed"});
    EXPECT_EQ(folder.status, 0) << folder.out << folder.err;
    EXPECT_TRUE(ReadFile(dir / "fixed/disc (Track 01).bin") == clean_one);
    EXPECT_TRUE(ReadFile(dir / "fixed/disc (Track 02).bin") == ReadFile(two));
    EXPECT_EQ(ReadText(dir / "fixed/disc.cue"), ReadText(split));
    EXPECT_EQ(Qorvex({"verify", dir / "fixed/disc.cue"}).status, 0);
}

TEST_F(VerifyCliTest, RepairNeverWritesOverItsInput) {
    ASSERT_EQ(symlink(bin.c_str(), (dir / "link.bin").c_str()), 0);
    ASSERT_EQ(link(bin.c_str(), (dir / "hard.bin").c_str()), 0);
    WriteFile(dir / "other.bin", "keep");
    for (const std::string &out : {bin, dir / "link.bin", dir / "hard.bin", dir / "other.bin"}) {
        Result r = Qorvex({"repair", single, "-o", out});
        EXPECT_NE(r.status, 0) << out;
        EXPECT_NE(r.err.find(out), std::string::npos) << r.err;
    }
    EXPECT_TRUE(ReadFile(bin) == clean);
    EXPECT_EQ(ReadText(dir / "other.bin"), "keep");
}

// A file's size, zlib.crc32, md5sum and sha1sum, as a DAT entry of that name.
qorvex::test::DatRomEntry PeerHashes(const std::string &path, const std::string &name) {
    const std::string crc = CaptureCommand(
        "python3 -c \"import sys,zlib; print('%08x' % zlib.crc32(open(sys.argv[1], "
        "'rb').read()))\" " +
        Quote(path));
    return {name, ReadFile(path).size(), crc.substr(0, 8), CaptureCommand("md5sum < " + Quote(path)).substr(0, 32),
            CaptureCommand("sha1sum < " + Quote(path)).substr(0, 40)};
}

std::string HashJson(const qorvex::test::DatRomEntry &e) {
    return "\"size\": " + std::to_string(e.size) + ", \"crc32\": \"" + e.crc32 + "\", \"md5\": \"" + e.md5 +
           "\", \"sha1\": \"" + e.sha1 + "\"";
}

TEST_F(VerifyCliTest, HashesEqualThePeersOverTheSplitFilesAndMatchADat) {
    std::vector<qorvex::test::DatRomEntry> disc = {{"Disc & Co.cue", 200, "01234567", "", ""},
                                                   PeerHashes(dir / "split/disc (Track 01).bin", "Disc (Track 1).bin"),
                                                   PeerHashes(dir / "split/disc (Track 02).bin", "Disc (Track 2).bin")};
    const std::string whole = HashJson(PeerHashes(bin, ""));
    // The same tracks whether the sheet names one file or one per track; the whole is the single file.
    for (const std::string &sheet : {single, split}) {
        Result r = Qorvex({"hash", "--json", sheet});
        ASSERT_EQ(r.status, 0) << r.err;
        for (size_t t = 1; t <= 2; ++t)
            EXPECT_NE(r.out.find(HashJson(disc[t]) + "}"), std::string::npos) << sheet << " track " << t << r.out;
        EXPECT_NE(r.out.find("\"image\": {" + whole + "}"), std::string::npos) << r.out;
    }

    const qorvex::test::DatGameEntry decoy = {"Decoy", {{"Decoy (Track 1).bin", 2352, "00000000", "", ""}}};
    WriteFile(dir / "good.dat", qorvex::test::DatXml("Test Discs", {decoy, {"Verify & Repair (Disc 1)", disc}}));
    Result match = Qorvex({"hash", split, "--dat", dir / "good.dat"});
    EXPECT_EQ(match.status, 0) << match.out << match.err;
    EXPECT_NE(match.out.find("DAT match: Verify & Repair (Disc 1)"), std::string::npos) << match.out;

    disc[2].sha1.replace(36, 4, "0000");
    WriteFile(dir / "bad.dat", qorvex::test::DatXml("Test Discs", {decoy, {"Verify & Repair (Disc 1)", disc}}));
    Result mismatch = Qorvex({"hash", split, "--dat", dir / "bad.dat"});
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_NE(mismatch.out.find("track 01: matches Disc (Track 1).bin"), std::string::npos) << mismatch.out;
    EXPECT_NE(mismatch.out.find("track 02: does not match; nearest Disc (Track 2).bin (Verify & Repair (Disc 1)), "
                                "size " +
                                std::to_string(disc[2].size)),
              std::string::npos);

    std::string broken = qorvex::test::DatXml("Test Discs", {decoy});
    broken.erase(broken.find("\t</game>"), 8);
    WriteFile(dir / "broken.dat", broken);
    Result refused = Qorvex({"hash", split, "--dat", dir / "broken.dat"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("line 13: </datafile> closes <game>"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace cli_test
