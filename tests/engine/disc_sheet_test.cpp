// CUE sheets and TOC files through the public interface: where the named files are looked for, the file types, absent
// gaps, and the clear failure of every inconsistent sheet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "platform/text.h"
#include "qorvex_ext.h"
#include "support/disc_builder.h"
#include "support/harness/api_helpers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

constexpr uint32_t kSheets = OPEN_DISC_SHEETS;

TrackInfo Info(QorvexHandle h, int32_t track) {
    TrackInfo info{};
    EXPECT_EQ(QorvexGetTrackInfo(h, track, &info), 0);
    return info;
}

std::string Text(QorvexHandle h, int32_t track, int32_t field) {
    char out[64] = {};
    QorvexExGetTrackText(h, track, field, out, sizeof out);
    return out;
}

class DiscSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir / "rip");
        audio = AudioPattern(200, 5);
        WriteFile(dir / "rip/disc.bin", audio);  // 200 sectors of audio
    }
    std::string Sheet(const std::string &text) {
        WriteFile(dir / "rip/disc.cue", text);
        return dir / "rip/disc.cue";
    }
    TempDir dir;
    std::vector<uint8_t> audio;
};

// Every inconsistent cue sheet, TOC file or CloneCD control file fails with a clear code.
TEST_F(DiscSheetTest, InconsistentSheetsFailWithAClearCode) {
    const std::string two = "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n";
    // CloneCD: disc.img holds the 200 audio sectors; one audio track from sector 0, the lead-out after them.
    const std::string head = "[CloneCD]\nVersion=3\n[Disc]\nSessions=1\n";
    const std::string entry1 = "[Entry 3]\nPoint=0x01\nPLBA=0\n", lead_out = "[Entry 2]\nPoint=0xa2\nPLBA=200\n";
    const std::string track1 = "[TRACK 1]\nMODE=0\nINDEX 1=0\n";
    // Two sessions of 100 sectors each: the second 6750 + 4500 + 150 sectors after the first's lead-out.
    const std::string two_sessions = "[CloneCD]\n[Disc]\nSessions=2\n";
    const std::string first = entry1 + "[Entry 2]\nPoint=0xa2\nPLBA=100\n" + track1;
    const std::string session2 = "[TRACK 2]\nMODE=0\n[Entry 8]\nSession=2\nPoint=0x02\n";
    const std::string lead_out2 = "[Entry 9]\nSession=2\nPoint=0xa2\nPLBA=11600\n";
    struct Case {
        const char *type, *what;  // the sheet is disc.<type>
        std::string text;
        int32_t error = ENGINE_UNKNOWN_FORMAT;
    } cases[] = {
        {"cue", "empty sheet", ""},
        {"cue", "file outside the folder", "FILE \"../outside.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         ENGINE_IMAGE_OPEN_FAILED},
        {"cue", "a folder as file", "FILE sub BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", ENGINE_IMAGE_OPEN_FAILED},
        {"cue", "a link out of the folder", "FILE link.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         ENGINE_IMAGE_OPEN_FAILED},
        {"cue", "track before any file", "TRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE disc.bin BINARY\n"},
        {"cue", "unknown mode", "FILE disc.bin BINARY\nTRACK 01 MODE3/2352\nINDEX 01 00:00:00\n"},
        {"cue", "unknown file type", "FILE disc.bin AIFF\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"},
        {"cue", "no index 01", "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n"},
        {"cue", "index 00 after 01", two + "INDEX 01 00:01:00\nINDEX 00 00:01:10\n"},
        {"cue", "index 02 before 01", two + "INDEX 02 00:01:00\nINDEX 01 00:01:10\n"},
        {"cue", "overlapping tracks", two + "INDEX 01 00:01:00\nTRACK 03 AUDIO\nINDEX 01 00:00:50\n"},
        // An index past the file's end is put at the end: the track before it, or this one, holds no sector.
        {"cue", "empty track", two + "INDEX 01 00:01:00\nTRACK 03 AUDIO\nINDEX 01 00:01:00\n"},
        {"cue", "track numbers going down",
         "FILE disc.bin BINARY\nTRACK 05 AUDIO\nINDEX 01 00:00:00\nTRACK 04 AUDIO\n"
         "INDEX 01 00:01:00\n"},
        {"cue", "session going down", "REM SESSION 02\n" + two + "REM SESSION 01\n"},
        {"cue", "a session skipped",
         "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nREM SESSION 03\n"
         "TRACK 02 AUDIO\nINDEX 01 00:01:00\n"},
        {"cue", "bad time", "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n"},
        {"cue", "huge time", two + "INDEX 01 9999:59:74\n"},
        {"cue", "not a wave", "FILE disc.bin WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"},
        {"toc", "no track", "CD_DA\n"},
        {"toc", "file outside the folder", "CD_DA\nTRACK AUDIO\nFILE \"../outside.bin\" 0\n", ENGINE_IMAGE_OPEN_FAILED},
        {"toc", "unknown mode", "CD_DA\nTRACK MODE3\nFILE \"disc.bin\" 0\n"},
        {"toc", "piece beyond its file", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 00:02:00 00:01:00\n"},
        {"toc", "offset beyond its file", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" #999999999 0\n"},
        {"toc", "silence between pieces",
         "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:01:00\nSILENCE 00:00:10\nFILE \"disc.bin\" 00:01:00 00:01:00\n"},
        {"toc", "start past the track", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:01:00\nSTART 00:01:01\n"},
        {"toc", "index going back", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0\nINDEX 00:00:20\nINDEX 00:00:10\n"},
        {"toc", "part sectors", "CD_DA\nTRACK MODE1\nDATAFILE \"disc.bin\" #0 1000\n"},
        {"toc", "open block", "CD_DA\nCD_TEXT { LANGUAGE 0 {\nTRACK AUDIO\nFILE \"disc.bin\" 0\n"},
        {"ccd", "not a control file", "[Disc]\nSessions=1\n" + entry1 + lead_out + track1},
        {"ccd", "two sessions", "[CloneCD]\n[Disc]\nSessions=2\n" + entry1 + lead_out + track1},
        {"ccd", "no lead-out", head + entry1 + track1},
        {"ccd", "lead-out beyond the image", head + entry1 + "[Entry 2]\nPoint=0xa2\nPLBA=201\n" + track1},
        {"ccd", "unknown mode", head + entry1 + lead_out + "[TRACK 1]\nMODE=7\n"},
        {"ccd", "no track section", head + entry1 + lead_out},
        {"ccd", "track 2 missing",
         head + entry1 + "[Entry 4]\nPoint=0x03\nPLBA=100\n" + lead_out + track1 + "[TRACK 3]\nMODE=0\n"},
        {"ccd", "index 1 not the entry's", head + entry1 + lead_out + "[TRACK 1]\nMODE=0\nINDEX 1=5\n"},
        {"ccd", "tracks overlapping",
         head + entry1 + "[Entry 4]\nPoint=0x02\nPLBA=100\n" + lead_out + track1 + "[TRACK 2]\nMODE=0\nINDEX 0=120\n"},
        {"ccd", "a session not declared", head + entry1 + lead_out + track1 + session2 + "PLBA=11500\n"},
        {"ccd", "a session without its lead-out", two_sessions + first + session2 + "PLBA=11500\n"},
        {"ccd", "a session inside the gap before it", two_sessions + first + session2 + "PLBA=11499\n" + lead_out2},
        {"ccd", "a session past the image",
         two_sessions + first + session2 + "PLBA=11500\n[Entry 9]\nSession=2\nPoint=0xa2\nPLBA=11601\n"},
    };
    WriteFile(dir / "outside.bin", audio);
    WriteFile(dir / "rip/disc.img", audio);
    WriteFile(dir / "rip/second.bin", audio);  // two BINs: a file not found is not guessed

    std::filesystem::create_directory(dir / "rip/sub");
    std::error_code no_links;  // where links cannot be made (Windows) the case is a missing file
    std::filesystem::create_symlink("../outside.bin", dir / "rip/link.bin", no_links);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.type) + ": " + c.what);
        const std::string sheet = dir / ("rip/disc." + std::string(c.type));
        WriteFile(sheet, c.text);
        Opened image(sheet, kSheets);
        EXPECT_FALSE(image);
        EXPECT_EQ(image.error(), c.error) << std::hex << " got 0x" << image.error();
    }
    // The control file without its image. (Consistent sessions open: MultiSessionImagesAgreeWithTheSheet.)
    std::filesystem::remove(dir / "rip/disc.img");
    WriteFile(dir / "rip/disc.ccd", head + entry1 + lead_out + track1);
    EXPECT_EQ(Opened(dir / "rip/disc.ccd", kSheets).error(), ENGINE_IMAGE_OPEN_FAILED);
}

// Forms other readers accept: a disc of a set numbered from 4; a sheet naming a file that is not there, beside one
// BIN; a BIN opened without its sheet. (cdrdao's SWAP and zero length: TocGivesTheTableOfItsToc2cueConversion.)
TEST_F(DiscSheetTest, SheetVariantsOfOtherToolsOpen) {
    const char *set = "FILE disc.bin BINARY\nTRACK 04 AUDIO\nINDEX 01 00:00:00\nTRACK 05 AUDIO\nINDEX 01 00:01:00\n";
    const std::pair<const char *, const char *> cases[] = {
        {"cue", set},
        {"cue", "FILE \"Old Name.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n"},
        {"bin", nullptr}};
    for (const auto &[type, text] : cases) {
        if (text) WriteFile(dir / ("rip/disc." + std::string(type)), std::string(text));
        Opened image(dir / ("rip/disc." + std::string(type)), kSheets);
        ASSERT_TRUE(image) << type << std::hex << " 0x" << image.error();
        const std::vector<TrackInfo> table = TrackTable(image.get());
        EXPECT_EQ(std::make_tuple(table.size(), int32_t(table[0].end_held), int32_t(table[1].end_held)), std::make_tuple(2u, 75, 200));
    }
    Opened renamed(dir / "rip/disc.cue", kSheets);
    EXPECT_EQ(Text(renamed.get(), -1, QORVEX_EX_TEXT_WARNING),
              "\"Old Name.bin\" is not there; read \"disc.bin\" instead");
    EXPECT_EQ(Opened(dir / "rip/disc.bin", 0).error(), ENGINE_UNKNOWN_FORMAT);
}

TEST_F(DiscSheetTest, NamesAreFoundBesideTheSheetByTheirLastComponent) {
    std::filesystem::rename(dir / "rip/disc.bin", dir / "rip/Disc Image.BIN");
    for (const char *named : {"\"Disc Image.BIN\"", "Disc Image.BIN", "\"disc image.bin\"",
                              "\"C:\\Rips\\DISC IMAGE.bin\"", "\"/home/someone/rips/Disc Image.BIN\""}) {
        Opened image(Sheet(std::string("FILE ") + named + " BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"),
                     kSheets);
        ASSERT_TRUE(image) << named << std::hex << " 0x" << image.error();
        EXPECT_EQ(Info(image.get(), 0).end_held, 200) << named;
        char name[64] = {};
        EXPECT_EQ(QorvexExGetTrackText(image.get(), 0, QORVEX_EX_TEXT_FILE, name, sizeof name), 14);
#ifdef _WIN32
        EXPECT_STRCASEEQ(name, "Disc Image.BIN");  // names on Windows are found in any case, as the sheet spells them
#else
        EXPECT_STREQ(name, "Disc Image.BIN");
#endif
    }
}

// In Shift_JIS the second byte of "表" is 0x5C, "\": a sheet named "表示.cue" finds the file "表示.bin" it names.
TEST_F(DiscSheetTest, NamesWhoseSecondByteIsTheSeparatorInCodePage932) {
    const std::string before = platform::CodePage();
    ASSERT_TRUE(platform::SetCodePage("CP932"));
    const std::string name = "\x95\x5c\x8e\xa6";
#ifdef _WIN32
    const std::filesystem::path folder = dir / "rip";
    const std::filesystem::path bin = folder / u"\u8868\u793a.bin", cue = folder / u"\u8868\u793a.cue";
    const std::string sheet = dir.path() + "\\rip\\" + name + ".cue";
#else
    const std::filesystem::path bin = dir / ("rip/" + name + ".bin");  // the file system keeps the bytes as they are
    const std::filesystem::path cue = dir / ("rip/" + name + ".cue");
    const std::string sheet = cue.string();
#endif
    std::filesystem::rename(dir / "rip/disc.bin", bin);
    std::ofstream(cue) << "FILE \"" + name + ".bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    {
        Opened image(sheet, kSheets);
        ASSERT_TRUE(image) << std::hex << image.error();
        EXPECT_EQ(Info(image.get(), 0).end_held, 200);
        EXPECT_EQ(Text(image.get(), 0, QORVEX_EX_TEXT_FILE), name + ".bin");
    }
    ASSERT_TRUE(platform::SetCodePage(before));
}

TEST_F(DiscSheetTest, GapsAndIndexesLandWhereTheSheetPutsThem) {
    Opened image(Sheet("CATALOG 0123456789012\nTITLE \"A Disc\"\nPERFORMER Someone\n"
                       "file disc.bin binary\n  track 01 audio\n    title \"First\"\n    isrc ABCDE1234567\n"
                       "    index 01 00:00:00\n    POSTGAP 00:00:10\n"
                       "  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:01:00\n    INDEX 02 00:01:30\n"),
                 kSheets);
    ASSERT_TRUE(image) << std::hex << image.error();
    const TrackInfo one = Info(image.get(), 0), two = Info(image.get(), 1);
    // Held sectors: track 1 without its postgap's 10 absent sectors; track 2 from its start, which follows the
    // postgap and the absent pregap.
    EXPECT_EQ(std::make_tuple(one.first_held, one.start, one.end_held), std::make_tuple(0, 0, 75));
    EXPECT_EQ(std::make_tuple(two.first_held, two.start, two.end_held),
              std::make_tuple(75 + 10 + 150, 75 + 10 + 150, 75 + 10 + 150 + 125));
    int32_t indexes[4] = {};
    ASSERT_EQ(QorvexExGetTrackIndexes(image.get(), 1, indexes, 4), 3);
    EXPECT_EQ(std::vector<int32_t>(indexes, indexes + 3), (std::vector<int32_t>{85, two.start, two.start + 30}));
    EXPECT_EQ(Text(image.get(), 0, QORVEX_EX_TEXT_TITLE), "First");
    EXPECT_EQ(Text(image.get(), 0, QORVEX_EX_TEXT_ISRC), "ABCDE1234567");
    // Absent sectors are never read: the WAV of track 2 holds what the file holds from its index 01 on.
    ASSERT_EQ(QorvexExtractTrack(image.get(), 1, (dir / "two.wav").c_str(), TRACK_WAV | TRACK_RAW), 0);
    const std::vector<uint8_t> wav = ReadFile(dir / "two.wav");
    ASSERT_EQ(wav.size(), 44u + 125 * 2352);
    EXPECT_TRUE(std::equal(wav.begin() + 44, wav.end(), audio.begin() + 75 * 2352));
}

TEST_F(DiscSheetTest, WaveAndMotorolaFilesReadAsTheSameSamples) {
    // A WAVE file with a chunk before its data, and the same samples big-endian.
    std::vector<uint8_t> wave = WavHeader(static_cast<uint32_t>(audio.size()));
    const uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    wave.insert(wave.begin() + 36, std::begin(list), std::end(list));
    wave[4] = static_cast<uint8_t>(wave[4] + sizeof list);
    wave.insert(wave.end(), audio.begin(), audio.end());
    WriteFile(dir / "rip/one.wav", wave);
    std::vector<uint8_t> swapped = audio;
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    WriteFile(dir / "rip/one.be", swapped);

    // Each extracts to the WAV a BINARY file of the samples gives: a plain 44-byte header, then the samples.
    std::vector<uint8_t> expected = WavHeader(static_cast<uint32_t>(audio.size()));
    expected.insert(expected.end(), audio.begin(), audio.end());
    for (const char *file : {"FILE one.wav WAVE", "FILE one.be MOTOROLA"}) {
        Opened image(Sheet(std::string(file) + "\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"), kSheets);
        ASSERT_TRUE(image) << file << std::hex << " 0x" << image.error();
        EXPECT_EQ(Info(image.get(), 0).end_held, 200) << file;
        ASSERT_EQ(QorvexExtractTrack(image.get(), 0, (dir / "out.wav").c_str(), TRACK_WAV | TRACK_RAW), 0);
        EXPECT_TRUE(ReadFile(dir / "out.wav") == expected) << file;
    }
}

// CD-TEXT beside a sheet fills the titles and performers the sheet does not give itself: a cue's CDTEXTFILE
// (packs with the drive's header), a CloneCD control file's [CDText] entries (16 bytes of each pack).
TEST_F(DiscSheetTest, CdTextFillsTheTextsTheSheetLeavesOut) {
    const std::vector<uint8_t> packs =
        CdTextPacks({{"A Disc Title", "The Band"}, {"Caf\xE9 Song", "A Singer"}, {"Second", "\t"}}, true);
    WriteFile(dir / "rip/disc.cdt", packs);
    const std::string body = "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n";
    Opened cue(Sheet("CDTEXTFILE \"DISC.CDT\"\n" + body + "TITLE \"Own Title\"\nINDEX 01 00:01:00\n"), kSheets);
    ASSERT_TRUE(cue) << std::hex << cue.error();
    EXPECT_EQ(Text(cue.get(), -1, QORVEX_EX_TEXT_TITLE), "A Disc Title");
    EXPECT_EQ(Text(cue.get(), -1, QORVEX_EX_TEXT_PERFORMER), "The Band");
    EXPECT_EQ(Text(cue.get(), 0, QORVEX_EX_TEXT_TITLE), "Caf\xC3\xA9 Song");
    EXPECT_EQ(Text(cue.get(), 1, QORVEX_EX_TEXT_TITLE), "Own Title");
    EXPECT_EQ(Text(cue.get(), 1, QORVEX_EX_TEXT_PERFORMER), "A Singer");  // the same as the track before

    std::string ccd =
        "[CloneCD]\n[Disc]\nSessions=1\n[Entry 0]\nPoint=0x01\nPLBA=0\n[Entry 1]\nPoint=0xa2\nPLBA=200\n"
        "[TRACK 1]\nMODE=0\n[CDText]\nEntries=" +
        std::to_string((packs.size() - 4) / 18) + "\n";
    for (size_t at = 4, n = 0; at < packs.size(); at += 18, ++n) {
        ccd += "Entry " + std::to_string(n) + "=";
        for (size_t i = 0; i < 16; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", packs[at + i]);
            ccd += hex;
        }
        ccd += "\n";
    }
    WriteFile(dir / "rip/disc.img", audio);
    WriteFile(dir / "rip/disc.ccd", ccd);
    Opened clone(dir / "rip/disc.ccd", kSheets);
    ASSERT_TRUE(clone) << std::hex << clone.error();
    EXPECT_EQ(Text(clone.get(), -1, QORVEX_EX_TEXT_TITLE), "A Disc Title");
    EXPECT_EQ(Text(clone.get(), 0, QORVEX_EX_TEXT_PERFORMER), "A Singer");

    // Text is only text: a sheet whose CD-TEXT file is missing or garbage still opens.
    for (const std::vector<uint8_t> &garbage : {std::vector<uint8_t>(), std::vector<uint8_t>(36, 0x80)}) {
        WriteFile(dir / "rip/disc.cdt", garbage);
        Opened plain(Sheet("CDTEXTFILE disc.cdt\n" + body + "INDEX 01 00:01:00\n"), kSheets);
        ASSERT_TRUE(plain);
        EXPECT_EQ(Text(plain.get(), 0, QORVEX_EX_TEXT_TITLE), "");
    }
}

}  // namespace
}  // namespace qorvex::test
