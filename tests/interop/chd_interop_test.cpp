// CHDs made by chdman with each codec it offers: a mixed-mode CD from a cue (raw Mode 1 data with its true
// parity, so the CD codecs drop and the reader makes it again; audio with and without a stored pregap) and an
// ISO as a raw CHD, a GD-ROM from its .gdi, and version 4 files from the project's writer. The engine reads the tracks, files and bytes the cue or ISO
// holds, and what chdman extracts again.
#include <gtest/gtest.h>

#include <cstring>

#include "image/sector_ecc.h"
#include "model/kinds.h"
#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/container_writers.h"
#include "support/disc_builder.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

std::vector<uint8_t> Extract(QorvexHandle h, const std::string &out, int32_t track, uint32_t flags) {
    EXPECT_EQ(QorvexExtractTrack(h, track, out.c_str(), flags), 0) << "track " << track << " flags " << flags;
    return ReadFile(out);
}

// Every track's bytes as user data, raw with the pregap, and as WAV.
void ExpectSameTracks(QorvexHandle a, QorvexHandle b, const std::string &scratch) {
    const int32_t n = QorvexGetTrackCount(a);
    ASSERT_EQ(n, QorvexGetTrackCount(b));
    for (int32_t t = 0; t < n; ++t)
        for (uint32_t flags : {0u, uint32_t(TRACK_RAW | TRACK_PREGAP), uint32_t(TRACK_WAV)})
            EXPECT_TRUE(Extract(a, scratch + ".a", t, flags) == Extract(b, scratch + ".b", t, flags))
                << "track " << t << " flags " << flags;
}

std::string SheetOf(QorvexHandle h) {
    char sheet[16] = {};
    QorvexExGetTrackText(h, -1, QORVEX_EX_TEXT_SHEET, sheet, sizeof sheet);
    return sheet;
}

std::vector<uint8_t> SourceIso() {
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\n";
    return BuildIso({File("A.TXT;1", text), Dir("D", {File("B.BIN;1", Pattern(90000, 4))})}).bytes;
}

TEST(ChdInteropTest, CdReadsAsItsCueAndAsChdmanExtractsIt) {
    if (MissingAny({"chdman"})) GTEST_SKIP() << "chdman is not installed";
    TempDir dir;
    std::vector<uint8_t> bin = WrapSectors(SourceIso(), kFormatMode1_2352);
    for (size_t at = 0; at + 2352 <= bin.size(); at += 2352) WriteSectorEcc(bin.data() + at, false);
    const std::string cue = WriteCueDisc(
        dir.path(), "disc", {MakeTrack(kFormatMode1_2352, bin), MakeTrack(kFormatAudio, AudioPattern(301, 2), 150),
                             MakeTrack(kFormatAudio, AudioPattern(203, 3))},
        CueForm::kSplitHead);
    Opened original(cue, OPEN_DISC_SHEETS);
    ASSERT_TRUE(original) << original.error();
    const std::vector<std::string> names = Names(ListEntries(original.get(), 0, KIND_ISO9660));
    ASSERT_EQ(names.size(), 2u);

    for (const char *codecs : {"cdzl", "cdlz,cdzl", "cdfl", "cdzs", "cdlz,cdzl,cdfl", "none"}) {
        SCOPED_TRACE(codecs);
        const std::string chd = dir / (std::string("disc-") + codecs + ".chd");
        if (RunCommand("chdman createcd -f -c " + std::string(codecs) + " -i " + Quote(cue) + " -o " + Quote(chd) +
                       " >/dev/null 2>&1") != 0) {
            // cdzs came with chdman 0.249's zstd; an older chdman has no such codec.
            EXPECT_STREQ(codecs, "cdzs") << "chdman createcd failed";
            continue;
        }
        EXPECT_EQ(Opened(chd).error(), ENGINE_UNKNOWN_FORMAT) << "read without the sheets bit";
        Opened image(chd, OPEN_DISC_SHEETS);
        ASSERT_TRUE(image) << image.error();
        EXPECT_EQ(SheetOf(image.get()), "chd");
        const std::vector<TrackInfo> table = TrackTable(image.get()), expected = TrackTable(original.get());
        ASSERT_EQ(table.size(), expected.size());
        for (size_t t = 0; t < table.size(); ++t)
            EXPECT_EQ(std::memcmp(&table[t], &expected[t], sizeof(TrackInfo)), 0) << "track " << t;
        EXPECT_EQ(Names(ListEntries(image.get(), 0, KIND_ISO9660)), names);
        ExpectSameTracks(image.get(), original.get(), dir / "x");

        const std::string back = dir / "back";
        ASSERT_EQ(RunCommand("chdman extractcd -f -i " + Quote(chd) + " -o " + Quote(back + ".cue") + " -ob " +
                             Quote(back + ".bin") + " >/dev/null 2>&1"),
                  0);
        Opened extracted(back + ".cue", OPEN_DISC_SHEETS);
        ASSERT_TRUE(extracted) << extracted.error();
        ExpectSameTracks(image.get(), extracted.get(), dir / "y");
    }
}

// A GD-ROM as chdman keeps it from a .gdi: the tracks where the sheet puts them (the high-density area's data
// track at 45000, its file system addressed from there), each holding the bytes of its file.
TEST(ChdInteropTest, GdRomTracksLieWhereItsSheetPutsThem) {
    if (MissingAny({"chdman", "genisoimage"})) GTEST_SKIP() << "chdman or genisoimage is not installed";
    TempDir dir;
    RunCommand("mkdir -p " + Quote(dir / "high"));
    const std::vector<uint8_t> big = Pattern(300000, 7);
    WriteFile(dir / "high/big.bin", big);
    ASSERT_EQ(RunCommand("genisoimage -quiet -C 0,45000 -o " + Quote(dir / "high.iso") + " " + Quote(dir / "high") +
                         " 2>/dev/null"),
              0);
    const std::vector<std::vector<uint8_t>> files = {WrapSectors(SourceIso(), kFormatMode1_2352),
                                                     AudioPattern(400, 5),
                                                     WrapSectors(ReadFile(dir / "high.iso"), kFormatMode1_2352)};
    const int32_t second = static_cast<int32_t>(files[0].size() / 2352) + 150;
    for (size_t t = 0; t < files.size(); ++t) WriteFile(dir / ("track0" + std::to_string(t + 1) + ".bin"), files[t]);
    WriteFile(dir / "disc.gdi", "3\n1 0 4 2352 track01.bin 0\n2 " + std::to_string(second) +
                                    " 0 2352 track02.bin 0\n3 45000 4 2352 track03.bin 0\n");
    ASSERT_EQ(RunCommand("chdman createcd -f -i " + Quote(dir / "disc.gdi") + " -o " + Quote(dir / "gd.chd") +
                         " >/dev/null 2>&1"),
              0);
    Opened image(dir / "gd.chd", OPEN_DISC_SHEETS);
    ASSERT_TRUE(image) << image.error();
    const std::vector<TrackInfo> table = TrackTable(image.get());
    ASSERT_EQ(table.size(), 3u);
    const int32_t starts[] = {table[1].start, table[2].start};  // copied out of the packed records
    EXPECT_EQ(starts[0], second);
    EXPECT_EQ(starts[1], 45000);
    for (int32_t t = 0; t < 3; ++t)
        EXPECT_TRUE(Extract(image.get(), dir / "raw", t, TRACK_RAW) == files[size_t(t)]) << "track " << t;
    ASSERT_EQ(Names(ListEntries(image.get(), 2, KIND_ISO9660)), std::vector<std::string>{"\\BIG.BIN;1"});
    QorvexGetFileStart(image.get(), 2, KIND_ISO9660);
    QorvexGetNextFile(image.get(), nullptr);
    ASSERT_EQ(QorvexExtractCurrentFile(image.get(), (dir / "BIG.BIN").c_str()), 0);
    EXPECT_TRUE(ReadFile(dir / "BIG.BIN") == big);
}

// Version 4 from the project's writer (deflated, stored, repeated-value and back-referring hunks; a CD with its
// track metadata): read as chdman reads it, and as chdman's copy of it in version 5.
TEST(ChdInteropTest, VersionFourReadsAsChdmanReadsIt) {
    if (MissingAny({"chdman"})) GTEST_SKIP() << "chdman is not installed";
    TempDir dir;
    const std::vector<uint8_t> iso = SourceIso();
    ChdLayout v4;
    v4.version = 4;
    WriteFile(dir / "iso4.chd",
              EncodeChd(iso, {{ChdHunk::kMini}, {ChdHunk::kSelf, 0}, {ChdHunk::kStored}, {ChdHunk::kZlib}}, v4));
    ASSERT_EQ(RunCommand("chdman extractraw -f -i " + Quote(dir / "iso4.chd") + " -o " + Quote(dir / "peer.iso") +
                         " >/dev/null 2>&1"),
              0);
    ASSERT_TRUE(ReadFile(dir / "peer.iso") == iso);
    std::vector<uint8_t> bin = WrapSectors(iso, kFormatMode1_2352), frames;
    for (size_t at = 0; at < bin.size(); at += 2352) {
        frames.insert(frames.end(), bin.begin() + ptrdiff_t(at), bin.begin() + ptrdiff_t(at + 2352));
        frames.resize(frames.size() + 96);
    }
    v4.hunk_bytes = 8 * 2448;
    v4.metadata = {{"CHT2", "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:" + std::to_string(bin.size() / 2352) +
                                " PREGAP:0 PGTYPE:MODE1 PGSUB:NONE POSTGAP:0"}};
    WriteFile(dir / "cd4.chd", EncodeChd(frames, {{ChdHunk::kZlib}}, v4));
    for (const char *name : {"iso4", "cd4"}) {
        SCOPED_TRACE(name);
        const std::string v4_file = dir / (std::string(name) + ".chd"), v5_file = dir / (std::string(name) + "-5.chd");
        ASSERT_EQ(RunCommand("chdman copy -f -i " + Quote(v4_file) + " -o " + Quote(v5_file) + " >/dev/null 2>&1"), 0);
        Opened image(v4_file, OPEN_DISC_SHEETS), copy(v5_file, OPEN_DISC_SHEETS);
        ASSERT_TRUE(image) << image.error();
        ASSERT_TRUE(copy) << copy.error();
        EXPECT_EQ(Names(ListEntries(image.get(), 0, KIND_ISO9660)).size(), 2u);
        EXPECT_TRUE(Extract(image.get(), dir / "user", 0, 0) == iso);
        ExpectSameTracks(image.get(), copy.get(), dir / "x");
    }
}

TEST(ChdInteropTest, RawImageReadsAsItsIsoInEveryCodec) {
    if (MissingAny({"chdman"})) GTEST_SKIP() << "chdman is not installed";
    TempDir dir;
    const std::vector<uint8_t> iso = SourceIso();
    WriteFile(dir / "disc.iso", iso);
    for (const char *codec : {"zlib", "lzma", "huff", "flac", "zstd", "lzma,zlib,huff,flac", "none"}) {
        SCOPED_TRACE(codec);
        const std::string chd = dir / (std::string("raw-") + codec + ".chd");
        if (RunCommand("chdman createraw -f -hs 8192 -us 2048 -c " + std::string(codec) + " -i " +
                       Quote(dir / "disc.iso") + " -o " + Quote(chd) + " >/dev/null 2>&1") != 0) {
            EXPECT_STREQ(codec, "zstd") << "chdman createraw failed";  // zstd: chdman 0.249 and later
            continue;
        }
        Opened image(chd, OPEN_DISC_SHEETS);
        ASSERT_TRUE(image) << image.error();
        EXPECT_EQ(SheetOf(image.get()), "chd");
        EXPECT_TRUE(Extract(image.get(), dir / "out.iso", 0, 0) == iso);
        ASSERT_EQ(RunCommand("chdman extractraw -f -i " + Quote(chd) + " -o " + Quote(dir / "peer.iso") +
                             " >/dev/null 2>&1"),
                  0);
        EXPECT_TRUE(ReadFile(dir / "peer.iso") == iso);
    }
    // zstd hunks from the project's writer, where this chdman cannot make them.
    ChdLayout zstd;
    zstd.zstd = true;
    WriteFile(dir / "raw-zstd-writer.chd", EncodeChd(iso, {{ChdHunk::kZlib}, {ChdHunk::kStored}}, zstd));
    Opened image(dir / "raw-zstd-writer.chd", OPEN_DISC_SHEETS);
    ASSERT_TRUE(image) << image.error();
    EXPECT_TRUE(Extract(image.get(), dir / "out.iso", 0, 0) == iso);
}

}  // namespace
}  // namespace qorvex::test
