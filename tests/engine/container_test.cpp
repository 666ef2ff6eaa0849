// Containers read as the images they stand for (OPEN_DISC_SHEETS): ECM, with the parity it drops made again, and
// ISZ in chunks of every kind.
#include <gtest/gtest.h>

#include <cstring>

#include "image/sector_ecc.h"
#include "model/kinds.h"
#include "qorvex_ext.h"
#include "support/container_writers.h"
#include "support/disc_builder.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

constexpr size_t kRaw = 2352;

// A raw image of an ISO whose sectors carry their true parity, as a drive reads them.
std::vector<uint8_t> RawDisc(int32_t format) {
    const std::vector<uint8_t> iso =
        BuildIso({File("A.TXT;1", Pattern(50000, 3)), Dir("D", {File("B.BIN;1", Pattern(3000, 4))})}).bytes;
    std::vector<uint8_t> bin = WrapSectors(iso, format);
    for (size_t at = 0; at + kRaw <= bin.size(); at += kRaw)
        if (format == kFormatMode1_2352 || !(bin[at + 18] & 0x20))
            WriteSectorEcc(bin.data() + at, format != kFormatMode1_2352);
    return bin;
}

std::string Extracted(QorvexHandle h, const std::string &path) {
    EXPECT_EQ(QorvexExtractTrack(h, 0, path.c_str(), TRACK_RAW), 0);
    return path;
}

// Opened directly and named by a cue as the BIN it stands for, an ECM file reads as that BIN, byte for byte.
TEST(EcmTest, ReadsAsTheBinItStandsFor) {
    for (const int32_t format : {kFormatMode1_2352, kFormatMode2Form1_2352}) {
        TempDir dir;
        std::vector<uint8_t> bin = RawDisc(format);
        const std::vector<uint8_t> ecm = EncodeEcm(bin);
        // The ECM writer drops only parity it finds true: RawDisc's, which the engine wrote, holds.
        ASSERT_LT(ecm.size(), bin.size() - bin.size() / 2352 * 200) << "sectors were not stored without parity";
        WriteFile(dir / "disc.bin.ecm", ecm);  // (a container without OPEN_DISC_SHEETS: IszTest)
        Opened image(dir / "disc.bin.ecm", OPEN_DISC_SHEETS);
        ASSERT_TRUE(image) << image.error();
        char sheet[16] = {};
        QorvexExGetTrackText(image.get(), -1, QORVEX_EX_TEXT_SHEET, sheet, sizeof sheet);
        EXPECT_STREQ(sheet, "ecm");
        EXPECT_EQ(Names(ListEntries(image.get(), 0, KIND_ISO9660)),
                  (std::vector<std::string>{"\\A.TXT;1", "\\D\\B.BIN;1"}));
        EXPECT_EQ(ReadFile(Extracted(image.get(), dir / "out.raw")), bin) << format;

        WriteFile(dir / "disc.cue", "FILE \"disc.bin\" BINARY\nTRACK 01 " + CueMode(format) + "\nINDEX 01 00:00:00\n");
        Opened sheet_image(dir / "disc.cue", OPEN_DISC_SHEETS);
        ASSERT_TRUE(sheet_image) << sheet_image.error();
        EXPECT_EQ(ReadFile(Extracted(sheet_image.get(), dir / "cue.raw")), bin) << format;
    }
}

// Every damaged ECM file fails with a clear code.
TEST(EcmTest, DamagedFilesFailClearly) {
    const std::vector<uint8_t> good = EncodeEcm(RawDisc(kFormatMode1_2352));
    std::vector<uint8_t> long_count = {'E', 'C', 'M', 0, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    std::vector<uint8_t> past_file = {'E', 'C', 'M', 0, 0x85, 0x10, 1, 2, 3};  // 66 Mode 1 sectors in 5 bytes
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        int32_t error;
    } cases[] = {
        {"not ECM", {'E', 'C', 'X', 0, 0xFC, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}, ENGINE_UNKNOWN_FORMAT},
        {"no end marker", std::vector<uint8_t>(good.begin(), good.end() - 9), ENGINE_UNKNOWN_FORMAT},
        {"no stream EDC", std::vector<uint8_t>(good.begin(), good.end() - 2), ENGINE_UNKNOWN_FORMAT},
        {"count of six header bytes", long_count, ENGINE_UNKNOWN_FORMAT},
        {"items past the file", past_file, ENGINE_UNKNOWN_FORMAT},
        {"nothing decoded", {'E', 'C', 'M', 0, 0xFC, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}, ENGINE_UNKNOWN_FORMAT},
    };
    TempDir dir;
    for (const Case &c : cases) {
        WriteFile(dir / "x.ecm", c.bytes);
        Opened image(dir / "x.ecm", OPEN_DISC_SHEETS);
        EXPECT_EQ(image.error(), c.error) << c.what;
    }
}

std::vector<uint8_t> IsoWithZeros() {
    // Text that compresses, a pattern that does not (kept as it is), and whole chunks of zeros.
    std::string text;
    for (int i = 0; text.size() < 150000; ++i) text += "line " + std::to_string(i) + "\n";
    std::vector<uint8_t> iso = BuildIso({File("A.TXT;1", text), File("Z.BIN;1", Pattern(40000, 5))}).bytes;
    iso.resize(iso.size() + 64 * 2048);
    return iso;
}

TEST(IszTest, ReadsAsTheIsoInEveryKindOfChunk) {
    TempDir dir;
    const std::vector<uint8_t> iso = IsoWithZeros();
    WriteFile(dir / "disc.isz", EncodeIsz(iso, 16384, {IszChunk::kZlib, IszChunk::kBzip2, IszChunk::kStored}));
    EXPECT_EQ(Opened(dir / "disc.isz").error(), ENGINE_UNKNOWN_FORMAT);
    Opened image(dir / "disc.isz", OPEN_DISC_SHEETS);
    ASSERT_TRUE(image) << image.error();
    char sheet[16] = {};
    QorvexExGetTrackText(image.get(), -1, QORVEX_EX_TEXT_SHEET, sheet, sizeof sheet);
    EXPECT_STREQ(sheet, "isz");
    EXPECT_EQ(Names(ListEntries(image.get(), 0, KIND_ISO9660)), (std::vector<std::string>{"\\A.TXT;1", "\\Z.BIN;1"}));
    EXPECT_EQ(ReadFile(Extracted(image.get(), dir / "out.iso")), iso);
}

// Every damaged or unreadable ISZ file fails to open with a clear code, and a chunk that decodes to more
// than its size is not taken.
TEST(IszTest, DamagedFilesFailClearly) {
    const std::vector<uint8_t> iso = IsoWithZeros();
    const std::vector<uint8_t> good = EncodeIsz(iso, 16384, {IszChunk::kZlib});
    auto patched = [&](size_t at, uint32_t value, int n, std::vector<uint8_t> bytes) {
        for (int i = 0; i < n; ++i) bytes[at + size_t(i)] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    };
    const uint32_t chunks = good[25] | good[26] << 8;
    // A bomb: each 32 KiB chunk said to hold 16 KiB, the count and size made to agree.
    const std::vector<uint8_t> text = BuildIso({File("T.TXT;1", std::string(300000, 'a'))}).bytes;
    std::vector<uint8_t> bomb = patched(29, 16384, 4, EncodeIsz(text, 32768, {IszChunk::kZlib}));
    bomb = patched(12, (bomb[25] | bomb[26] << 8) * 8, 4, bomb);
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"encrypted", EncodeIsz(iso, 16384, {IszChunk::kZlib}, 2)},
        {"table cut short", std::vector<uint8_t>(good.begin(), good.begin() + 70)},
        {"chunks past the file", std::vector<uint8_t>(good.begin(), good.end() - 100)},
        {"count that does not add up", patched(25, chunks + 1, 4, good)},
        {"chunk size not whole sectors", patched(29, 16385, 4, good)},
        {"segment files", patched(39, 64, 4, good)},
        {"chunks decoding past their size", bomb},
    };
    TempDir dir;
    for (const Case &c : cases) {
        WriteFile(dir / "x.isz", c.bytes);
        EXPECT_EQ(Opened(dir / "x.isz", OPEN_DISC_SHEETS).error(), ENGINE_UNKNOWN_FORMAT) << c.what;
    }
}

}  // namespace
}  // namespace qorvex::test
