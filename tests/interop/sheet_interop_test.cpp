// BIN/CUE discs read by the engine and by the peers that read them: libcdio's cd-info (track starts and
// lead-out of single-FILE sheets), bchunk (data tracks and WAVs), ccd2iso, nrg2iso, mdf2iso and iat (the data of
// CloneCD, Nero, Alcohol and DiscJuggler images), chdman (CHDs), and the ISO a data track was made from. The same
// disc as CUE, CloneCD, Nero, Alcohol (.mds + .mdf), DiscJuggler (.cdi) and CHD images gives one table and the
// same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>

#include "image/image_catalogue.h"
#include "image/sector_ecc.h"
#include "image/sector_reader.h"
#include "model/kinds.h"
#include "qorvex.h"
#include "qorvex_ext.h"
#include "sheets/disc_sheet.h"
#include "support/container_writers.h"
#include "support/descriptor_writers.h"
#include "support/disc_builder.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

// An image opened with the sheets bit (unless told otherwise), closed at the end of the scope.
struct Disc : Opened {
    explicit Disc(const std::string &path, uint32_t options = OPEN_DISC_SHEETS) : Opened(path, options) {}
};

// A track's bytes as the engine extracts them with `flags`.
std::vector<uint8_t> Extract(const Disc &disc, const std::string &out, int32_t track, uint32_t flags) {
    EXPECT_EQ(QorvexExtractTrack(disc.get(), track, out.c_str(), flags), 0) << "track " << track;
    return ReadFile(out);
}

// Every track's bytes as user data, raw with the pregap, and as WAV.
void ExpectSameBytes(const Disc &a, const Disc &b, const std::string &scratch, const char *what) {
    const int32_t n = QorvexGetTrackCount(a.get());
    ASSERT_EQ(n, QorvexGetTrackCount(b.get())) << what;
    for (int32_t t = 0; t < n; ++t)
        for (uint32_t flags : {0u, uint32_t(TRACK_RAW | TRACK_PREGAP), uint32_t(TRACK_WAV)})
            EXPECT_TRUE(Extract(a, scratch + ".a", t, flags) == Extract(b, scratch + ".b", t, flags))
                << what << ": track " << t << " flags " << flags;
}

bool SameTable(const std::vector<TrackInfo> &a, const std::vector<TrackInfo> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(TrackInfo)) != 0) return false;
    return true;
}

std::string SheetOf(QorvexHandle h) {
    char sheet[16] = {};
    QorvexExGetTrackText(h, -1, QORVEX_EX_TEXT_SHEET, sheet, sizeof sheet);
    return sheet;
}

// `image` (its sheet word `word`) and `sheet`: one table, every track's bytes alike; the first track is `first`.
void ExpectSameDisc(const std::string &image, const std::string &sheet, const char *word,
                    const std::vector<uint8_t> &first) {
    Disc a(image), b(sheet);
    ASSERT_TRUE(a.get() && b.get()) << image << std::hex << " 0x" << a.error() << " 0x" << b.error();
    EXPECT_TRUE(SameTable(TrackTable(a.get()), TrackTable(b.get()))) << image;
    ExpectSameBytes(a, b, image, image.c_str());
    EXPECT_TRUE(Extract(a, image + ".iso", 0, 0) == first) << image;
    EXPECT_EQ(SheetOf(a.get()), word);
}

// The ISO of the CHD tests: a file of text lines and one of a pattern in a folder.
std::vector<uint8_t> SourceIso() {
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\n";
    return BuildIso({File("A.TXT;1", text), Dir("D", {File("B.BIN;1", Pattern(90000, 4))})}).bytes;
}

std::string Folder(const std::string &path) {
    RunCommand("mkdir -p " + Quote(path));
    return path;
}

// A converting peer (ccd2iso, nrg2iso, mdf2iso, iat) copies up to the image's end: what it writes starts with
// `expected`.
void ExpectPeerWritesFirst(const std::string &command, const std::string &out, const std::vector<uint8_t> &expected) {
    RunCommand(command + " " + Quote(out) + " >/dev/null 2>&1");
    const std::vector<uint8_t> peer = ReadFile(out);
    ASSERT_GE(peer.size(), expected.size()) << command;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), peer.begin())) << command;
}

// A mixed-mode disc: a MODE1/2352 data track made by genisoimage, then audio tracks, two of them with
// pregaps (INDEX 00).
class SheetInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunCommand("mkdir -p " + Quote(dir / "src/DIR"));
        WriteFile(dir / "src/DIR/notes.txt", std::string(70000, 'n'));
        WriteFile(dir / "src/top.bin", Pattern(123457, 7));
        iso = Volume("-V SHEETS", "data.iso");
        tracks = {MakeTrack(3, WrapSectors(iso, 3)), MakeTrack(0, AudioPattern(450, 2)),
                  MakeTrack(0, AudioPattern(301, 3), 75), MakeTrack(0, AudioPattern(600, 4), 150)};
        single = WriteCueDisc(Folder(dir / "single"), "disc", tracks, CueForm::kSingleFile);
    }
    // genisoimage's volume of the source with `options` (-C 0,N: mastered for address N, as a later session).
    std::vector<uint8_t> Volume(const std::string &options, const std::string &name) {
        return GenisoimageVolume(dir / "src", options, dir / name);
    }
    TempDir dir;
    std::vector<uint8_t> iso;
    std::vector<DiscTrack> tracks;
    std::string single;
};

TEST_F(SheetInteropTest, TrackStartsAndLeadOutEqualCdInfos) {
    if (!HaveProgram("cd-info")) GTEST_SKIP() << "cd-info (libcdio-utils) is not installed";
    std::string out;
    std::map<int, int> lsn = CdInfoStarts(single, &out);
    ASSERT_EQ(lsn.size(), tracks.size() + 1) << out;

    Disc disc(single);
    ASSERT_TRUE(disc.get()) << std::hex << disc.error();
    const std::vector<TrackInfo> table = TrackTable(disc.get());
    for (const TrackInfo &t : table) EXPECT_EQ(+t.start, lsn[t.track]) << "track " << int(t.track);
    EXPECT_EQ(+table.back().end_held, lsn[170]);
}

// The disc as split CUE sheets, a CloneCD image and Nero images gives the table and bytes of its single-FILE
// sheet. Nero keeps the first track's 150-sector pregap (its sheet then has an INDEX 00 there); an image
// written track at once holds no pregap at all. ccd2iso reads the data track from the CloneCD image.
TEST_F(SheetInteropTest, EveryFormGivesTheTableAndBytesOfItsSheet) {
    std::vector<DiscTrack> dao = tracks, tao = tracks;
    dao[0].pregap = 150;
    for (DiscTrack &t : tao) t.pregap = 0;
    const std::string nrg = Folder(dir / "nrg");
    const std::string dao_cue = WriteCueDisc(nrg, "dao", dao, CueForm::kSingleFile);
    const std::string tao_cue = WriteCueDisc(nrg, "tao", tao, CueForm::kSingleFile);
    const struct {
        const char *what;
        std::string image, sheet;
    } cases[] = {
        {"split head", WriteCueDisc(Folder(dir / "head"), "disc", tracks, CueForm::kSplitHead), single},
        {"split tail", WriteCueDisc(Folder(dir / "tail"), "disc", tracks, CueForm::kSplitTail), single},
        {"CloneCD", WriteCcdDisc(Folder(dir / "ccd"), "disc", tracks), single},
        {"Nero DAOX", WriteNrgDisc(nrg, "daox", dao, NrgForm::kDaoV2), dao_cue},
        {"Nero DAOI", WriteNrgDisc(nrg, "daoi", dao, NrgForm::kDaoV1), dao_cue},
        {"Nero ETN2", WriteNrgDisc(nrg, "etn2", tao, NrgForm::kTaoV2), tao_cue},
    };
    for (const auto &c : cases) {
        Disc image(c.image), sheet(c.sheet);
        ASSERT_TRUE(image.get() && sheet.get())
            << c.what << std::hex << " 0x" << image.error() << " 0x" << sheet.error();
        EXPECT_TRUE(SameTable(TrackTable(image.get()), TrackTable(sheet.get()))) << c.what;
        ExpectSameBytes(image, sheet, dir / "out", c.what);
        EXPECT_TRUE(Extract(image, dir / "t1.iso", 0, 0) == iso) << c.what;
    }
    // (The files of a sheet's data track: CdExtraDataSessionListsAndExtractsItsFiles; an audio track lists none:
    // ImageTest.AudioTrackScansEmptyAndExtractsRaw.) Index 00 and 01 where the sheet put them, whichever file
    // holds the pregap.
    Disc disc(single), split_tail(cases[1].image);
    ASSERT_TRUE(disc.get() && split_tail.get());
    int32_t indexes[4] = {};
    ASSERT_EQ(QorvexExGetTrackIndexes(split_tail.get(), 3, indexes, 4), 2);
    EXPECT_EQ(indexes[0], +TrackTable(disc.get())[2].end_held);
    EXPECT_EQ(indexes[1] - indexes[0], 150);
    if (!HaveProgram("ccd2iso")) GTEST_SKIP() << "ccd2iso is not installed";
    // ccd2iso copies Mode 1 user data until the first sector that is not: the data track's ISO.
    ExpectPeerWritesFirst("ccd2iso " + Quote(dir / "ccd/disc.img"), dir / "peer.iso", iso);
}

TEST_F(SheetInteropTest, WavsEqualBchunks) {
    if (!HaveProgram("bchunk")) GTEST_SKIP() << "bchunk is not installed";
    // bchunk reads one FILE and ends a track at the next INDEX 01: a sheet without INDEX 00.
    std::vector<DiscTrack> plain = tracks;
    for (DiscTrack &t : plain) t.pregap = 0;
    const std::string cue = WriteCueDisc(Folder(dir / "plain"), "disc", plain, CueForm::kSingleFile);
    int status = 0;
    const std::string out =
        CaptureCommand("cd " + Quote(dir / "plain") + " && bchunk -w disc.bin disc.cue peer 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    Disc disc(cue);
    ASSERT_TRUE(disc.get()) << std::hex << disc.error();
    EXPECT_TRUE(Extract(disc, dir / "t1.iso", 0, 0) == ReadFile(dir / "plain/peer01.iso"));
    for (int32_t t = 1; t < 4; ++t) {
        const std::string name = dir / ("plain/peer0" + std::to_string(t + 1) + ".wav");
        const std::vector<uint8_t> peer = ReadFile(name);
        ASSERT_FALSE(peer.empty()) << name;
        EXPECT_TRUE(Extract(disc, dir / "t.wav", t, TRACK_WAV | TRACK_RAW) == peer) << name;
    }
}

// A cdrdao TOC of the disc (one BIN, as cdrdao read-cd lays it out) and toc2cue's conversion of it give the
// same table; cdrdao's raw audio holds big-endian samples, its cue conversion names them BINARY.
TEST_F(SheetInteropTest, TocGivesTheTableOfItsToc2cueConversion) {
    if (!HaveProgram("toc2cue")) GTEST_SKIP() << "toc2cue (cdrdao) is not installed";
    RunCommand("cp " + Quote(dir / "single/disc.bin") + " " + Quote(Folder(dir / "toc") + "/disc.bin"));
    const int64_t data_bytes = static_cast<int64_t>(tracks[0].data.size());
    const int64_t s2 = data_bytes + 450 * 2352, s3 = s2 + (75 + 301) * 2352;
    std::string toc =
        "CD_ROM\n// made by hand, the way read-cd writes it\nCATALOG \"0123456789012\"\nTRACK MODE1_RAW\n"
        "DATAFILE \"disc.bin\" {1}\nTRACK AUDIO\nFILE \"disc.bin\" #{1} 0 00:06:00\nTRACK AUDIO\n"
        "ISRC \"QOX001234567\"\nFILE \"disc.bin\" #{2} 0 00:05:01\nSTART 00:01:00\nTRACK AUDIO\n"
        "PREGAP 00:00:20\nFILE \"disc.bin\" SWAP #{3} 0 0\n";
    toc = Replace(Replace(Replace(toc, "{1}", std::to_string(data_bytes)), "{2}", std::to_string(s2)), "{3}",
                  std::to_string(s3));
    WriteFile(dir / "toc/disc.toc", toc);
    ASSERT_EQ(RunCommand("cd " + Quote(dir / "toc") + " && toc2cue disc.toc disc.cue >/dev/null 2>&1"), 0);
    // The sheet's last track runs to the end of the file: cut the file where the TOC's ends.
    const std::vector<uint8_t> whole = ReadFile(dir / "toc/disc.bin");
    WriteFile(dir / "toc/disc.bin", std::vector<uint8_t>(whole.begin(), whole.begin() + s3 + 750 * 2352));
    Disc from_toc(dir / "toc/disc.toc"), from_cue(dir / "toc/disc.cue");
    ASSERT_TRUE(from_toc.get() && from_cue.get()) << std::hex << from_toc.error() << " " << from_cue.error();
    EXPECT_TRUE(SameTable(TrackTable(from_toc.get()), TrackTable(from_cue.get())));
    EXPECT_EQ(TrackTable(from_toc.get())[3].first_held - TrackTable(from_toc.get())[2].end_held,
              20);  // the absent pregap
    EXPECT_TRUE(Extract(from_toc, dir / "a.iso", 0, 0) == iso);
    std::vector<uint8_t> swapped = Extract(from_cue, dir / "b.raw", 2, TRACK_RAW | TRACK_PREGAP);
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    EXPECT_TRUE(Extract(from_toc, dir / "a.raw", 2, TRACK_RAW | TRACK_PREGAP) == swapped);
    EXPECT_TRUE(Extract(from_toc, dir / "a.raw", 3, TRACK_RAW) == Extract(from_cue, dir / "b.raw", 3, TRACK_RAW));
    char isrc[16] = {};
    QorvexExGetTrackText(from_toc.get(), 2, QORVEX_EX_TEXT_ISRC, isrc, sizeof isrc);
    EXPECT_STREQ(isrc, "QOX001234567");
}

// CD-Extra: audio in session 1, then a CD-ROM XA data session whose volume genisoimage wrote for the address
// a recorder gives it (-C 0,N: N = the audio's end + 6750 lead-out + 4500 lead-in + 150 pregap).
TEST_F(SheetInteropTest, CdExtraDataSessionListsAndExtractsItsFiles) {
    const int32_t audio_end = 450 + 301;
    const int32_t next = audio_end + 11400;
    const std::vector<uint8_t> extra = Volume("-V EXTRA -C 0," + std::to_string(next), "extra.iso");
    std::vector<DiscTrack> disc = {MakeTrack(0, AudioPattern(450, 2)), MakeTrack(0, AudioPattern(301, 3)),
                                   MakeTrack(6, WrapSectors(extra, 6), 0, 2)};
    for (CueForm form : {CueForm::kSingleFile, CueForm::kSplitHead}) {
        Disc image(WriteCueDisc(Folder(dir / (form == CueForm::kSingleFile ? "x1" : "x2")), "extra", disc, form));
        ASSERT_TRUE(image.get()) << std::hex << image.error();
        const std::vector<TrackInfo> table = TrackTable(image.get());
        ASSERT_EQ(table.size(), 3u);
        EXPECT_EQ(+table[1].session, 1);
        EXPECT_EQ(+table[2].session, 2);
        EXPECT_EQ(+table[2].format, 6);  // MODE2/2352 with XA Form 1 sectors
        EXPECT_EQ(+table[2].start, next);
        EXPECT_TRUE(Extract(image, dir / "x.iso", 2, 0) == extra);
        // Its file's extent is counted from the disc start; the bytes must be the source file's.
        int32_t left = QorvexGetFileStart(image.get(), 2, KIND_ISO9660);
        bool found = false;
        while (left > 0) {
            EntryInfo e{};
            left = QorvexGetNextFile(image.get(), &e);
            if (std::string(e.name).find("TOP.BIN") == std::string::npos) continue;
            found = true;
            EXPECT_GE(e.start, next);
            ASSERT_EQ(QorvexExtractCurrentFile(image.get(), (dir / "top.out").c_str()), 0);
            EXPECT_TRUE(ReadFile(dir / "top.out") == ReadFile(dir / "src/top.bin"));
        }
        EXPECT_TRUE(found);
    }
}

TEST_F(SheetInteropTest, Nrg2isoReadsTheDataOfANeroImage) {
    if (!HaveProgram("nrg2iso")) GTEST_SKIP() << "nrg2iso is not installed";
    // A data disc as Nero writes it: MODE1/2048 sectors after the first track's stored pregap.
    const std::string nrg = WriteNrgDisc(Folder(dir / "nrg"), "data", {MakeTrack(9, iso, 150)});
    ExpectPeerWritesFirst("nrg2iso " + Quote(nrg), dir / "peer.iso", iso);
    Disc image(nrg), plain(dir / "data.iso", 0);
    ASSERT_TRUE(image.get()) << std::hex << image.error();
    EXPECT_TRUE(Extract(image, dir / "track.iso", 0, 0) == iso);
    EXPECT_EQ(QorvexGetFileCount(image.get(), 0, KIND_ISO9660), QorvexGetFileCount(plain.get(), 0, KIND_ISO9660));
}

// A Video CD as Nero writes it: four MPEG tracks whose pregaps the image does not hold (DAOX points index 0
// in front of their bytes, DAOI at them). Its files lie where the volume's tree and cd-info put the tracks.
TEST_F(SheetInteropTest, NeroPregapsTheImageDoesNotHoldArePlacedByItsCuePoints) {
    std::vector<IsoNode> mpeg;
    for (int i = 1; i <= 4; ++i) mpeg.push_back(File("AVSEQ0" + std::to_string(i) + ".DAT;1", Pattern(2048, 0)));
    IsoImage volume = BuildIso({Dir("MPEGAV", mpeg), File("INFO.VCD;1", Pattern(200 * 2048, 9))});
    std::vector<DiscTrack> vcd(1);
    std::vector<int32_t> starts = {0, static_cast<int32_t>(volume.Sectors()) + 150};
    for (int i = 1; i <= 4; ++i) {  // the MPEG files' extents are their tracks' starts
        const IsoPlacement &p = volume.iso.at("\\MPEGAV\\AVSEQ0" + std::to_string(i) + ".DAT;1");
        volume.SetExtent(p.record, static_cast<uint32_t>(starts[size_t(i)]));
        volume.SetDataLength(p.record, 75 * 2048);
        vcd.push_back(MakeTrack(6, WrapSectors(Pattern(75 * 2048, 40u + i), 6)));
        vcd.back().absent_pregap = 150;
        if (i < 4) starts.push_back(starts.back() + 75 + 150);
    }
    vcd[0] = MakeTrack(6, WrapSectors(volume.bytes, 6));
    const std::string nrg = Folder(dir / "vcd");
    Disc daox(WriteNrgDisc(nrg, "daox", vcd)), daoi(WriteNrgDisc(nrg, "daoi", vcd, NrgForm::kDaoV1));
    ASSERT_TRUE(daox.get() && daoi.get()) << std::hex << daox.error() << " " << daoi.error();
    const std::vector<TrackInfo> table = TrackTable(daox.get());
    for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(+table[i].start, starts.at(i)) << "track " << i + 1;
    EXPECT_TRUE(SameTable(TrackTable(daoi.get()), table));
    for (int32_t left = QorvexGetFileStart(daoi.get(), 0, KIND_ISO9660); left > 0;) {  // MPEG files: their tracks
        EntryInfo e{};
        left = QorvexGetNextFile(daoi.get(), &e);
        const std::string name = e.name;
        if (name.find("AVSEQ0") == std::string::npos) continue;
        ASSERT_EQ(QorvexExtractCurrentFile(daoi.get(), (dir / "avseq.dat").c_str()), 0) << name;
        EXPECT_TRUE(ReadFile(dir / "avseq.dat") == Pattern(75 * 2048, 40u + (name[14] - '0'))) << name;
    }
    std::vector<DiscTrack> audio = {MakeTrack(0, AudioPattern(75, 1), 150), MakeTrack(0, AudioPattern(100, 2), 10)};
    audio[0].absent_pregap = 150;  // track 1 at sector 150, track 2's index 0 at 225
    if (!HaveProgram("cd-info")) GTEST_SKIP() << "cd-info (libcdio-utils) is not installed";
    for (const std::string &image : {nrg + "/daox.nrg", WriteNrgDisc(nrg, "late", audio)}) {
        std::string out;
        std::map<int, int> lsn = CdInfoStarts(image, &out);
        const std::vector<TrackInfo> engine = TrackTable(Disc(image).get());
        ASSERT_EQ(lsn.size(), engine.size() + 1) << out;
        for (const TrackInfo &t : engine) EXPECT_EQ(+t.start, lsn[t.track]) << image << " track " << int(t.track);
        EXPECT_EQ(+engine.back().end_held, lsn[170]) << image;
    }
}

// Two data sessions (the second volume mastered for its address) and an audio track after it, as a CUE
// sheet, a CloneCD image with and without its .sub, and a Nero image: one table and the same bytes. The
// CloneCD image holds the sessions one after the other, which ccd2iso converts Mode 1 sector by sector until
// the audio: the two volumes in turn.
TEST_F(SheetInteropTest, MultiSessionImagesAgreeWithTheSheet) {
    const int32_t first = static_cast<int32_t>(iso.size() / 2048), next = first + 11400;
    const std::vector<uint8_t> later = Volume("-V LATER -C 0," + std::to_string(next), "later.iso");
    const std::vector<DiscTrack> disc = {MakeTrack(3, WrapSectors(iso, 3)), MakeTrack(3, WrapSectors(later, 3), 0, 2),
                                         MakeTrack(0, AudioPattern(120, 8), 75, 2)};
    Disc sheet(WriteCueDisc(Folder(dir / "ms/cue"), "disc", disc, CueForm::kSingleFile));
    Disc clone(WriteCcdDisc(Folder(dir / "ms/ccd"), "disc", disc));
    Disc with_sub(WriteCcdDisc(Folder(dir / "ms/sub"), "disc", disc, true));
    Disc nero(WriteNrgDisc(Folder(dir / "ms/nrg"), "disc", disc));
    ASSERT_TRUE(sheet.get() && clone.get() && with_sub.get() && nero.get())
        << std::hex << sheet.error() << " " << clone.error() << " " << with_sub.error() << " " << nero.error();
    const std::vector<TrackInfo> table = TrackTable(sheet.get());
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(+table[1].session, 2);
    EXPECT_EQ(+table[1].start, next);
    EXPECT_TRUE(SameTable(TrackTable(clone.get()), table));
    EXPECT_TRUE(SameTable(TrackTable(nero.get()), table));
    // With the subchannel the sectors are 2448 bytes: format 3 becomes 15, audio 0 becomes 14.
    std::vector<TrackInfo> sub_table = TrackTable(with_sub.get());
    EXPECT_EQ(+sub_table[0].format, 15);
    EXPECT_EQ(+sub_table[2].format, 14);
    for (TrackInfo &t : sub_table) t.format = t.format == 14 ? 0 : t.format - 12;
    EXPECT_TRUE(SameTable(sub_table, table));
    ExpectSameBytes(clone, sheet, dir / "ms/out", "ccd");
    ExpectSameBytes(with_sub, sheet, dir / "ms/out", "ccd with sub");
    ExpectSameBytes(nero, sheet, dir / "ms/out", "nrg");
    EXPECT_TRUE(Extract(with_sub, dir / "ms/later.iso", 1, 0) == later);

    // Each stored sector of the second session carries its own 96 bytes of the .sub.
    ImageCatalogue catalogue;
    ASSERT_FALSE(sheets::ProbeImage(dir / "ms/sub/disc.ccd", OPEN_DISC_SHEETS, &catalogue).Failed());
    const std::vector<uint8_t> img = ReadFile(dir / "ms/sub/disc.img"), sub = ReadFile(dir / "ms/sub/disc.sub");
    SectorReader reader;
    ASSERT_TRUE(reader.SetUp(catalogue.GetTrack(1), 0) && reader.Open());
    ASSERT_TRUE(reader.SeekRelative(5));
    for (int32_t s = first + 5; s < first + 9; ++s) {
        std::vector<uint8_t> sector(2448);
        ASSERT_TRUE(reader.ReadRawSector(sector.data()));
        EXPECT_TRUE(std::equal(sector.begin(), sector.begin() + 2352, img.begin() + int64_t(s) * 2352)) << s;
        EXPECT_TRUE(std::equal(sector.begin() + 2352, sector.end(), sub.begin() + int64_t(s) * 96)) << s;
    }

    if (!HaveProgram("ccd2iso")) GTEST_SKIP() << "ccd2iso is not installed";
    std::vector<uint8_t> both = iso;
    both.insert(both.end(), later.begin(), later.end());
    ExpectPeerWritesFirst("ccd2iso " + Quote(dir / "ms/ccd/disc.img"), dir / "peer.iso", both);
}

// Alcohol descriptors in each form the writer knows (pregaps held or not, the data in parts, wide names, a DVD)
// give their sheet's disc.
TEST_F(SheetInteropTest, MdsFormsGiveTheirSheetsDisc) {
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
    EXPECT_TRUE(Extract(Disc(dir / "m3.mds"), dir / "later.out", 1, 0) == later);
    EXPECT_FALSE(Disc(dir / "m0.mds", 0));  // without the sheets bit a descriptor is no image
    // 2448-byte sectors; an .mdf the plain probe refuses (audio first) opens through the .mds beside it.
    const std::string sub = WriteMdsDisc(
        dir.path(), "sub", {MakeTrack(14, Pattern(200 * 2448, 9)), MakeTrack(15, WrapSectors(iso, 15), 0, 2)});
    Disc by_mdf(dir / "sub.mdf");
    EXPECT_TRUE(by_mdf && Extract(by_mdf, dir / "sub.iso", 1, 0) == iso && +TrackTable(by_mdf.get())[0].format == 14);
}

// A Dreamcast's layout: an audio session, then a Mode 2 data session mastered for sector 11702.
TEST_F(SheetInteropTest, CdiVersionsGiveTheirSheetsDisc) {
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
        EXPECT_TRUE(Extract(Disc(cdi), dir / "game.out", 1, 0) == game);
    }
}

// mdf2iso and iat read the data track of an Alcohol and a DiscJuggler image.
TEST_F(SheetInteropTest, DescriptorPeersReadTheirData) {
    const std::string mds = WriteMdsDisc(dir.path(), "peer", {MakeTrack(3, WrapSectors(iso, 3))});
    const std::string cdi = WriteCdiDisc(dir.path(), "peer", {MakeTrack(9, iso, 150)});
    for (const char *command : {"mdf2iso peer.mdf", "iat peer.mdf", "iat peer.cdi"}) {
        if (!HaveProgram(std::string(command).substr(0, std::string(command).find(' ')))) continue;
        ExpectPeerWritesFirst("cd " + Quote(dir.path()) + " && " + command, dir / (std::string(command) + ".iso"), iso);
    }
}

// CHDs made by chdman with each codec it offers: a mixed-mode CD from a cue (raw Mode 1 data with its true
// parity, so the CD codecs drop and the reader makes it again; audio with and without a stored pregap) and an
// ISO as a raw CHD, a GD-ROM from its .gdi, and version 4 files from the project's writer. The engine reads the
// tracks, files and bytes the cue or ISO holds, and what chdman extracts again.
TEST(ChdInteropTest, CdReadsAsItsCueAndAsChdmanExtractsIt) {
    if (MissingAny({"chdman"})) GTEST_SKIP() << "chdman is not installed";
    TempDir dir;
    std::vector<uint8_t> bin = WrapSectors(SourceIso(), kFormatMode1_2352);
    for (size_t at = 0; at + 2352 <= bin.size(); at += 2352) WriteSectorEcc(bin.data() + at, false);
    const std::string cue = WriteCueDisc(
        dir.path(), "disc", {MakeTrack(kFormatMode1_2352, bin), MakeTrack(kFormatAudio, AudioPattern(301, 2), 150),
                             MakeTrack(kFormatAudio, AudioPattern(203, 3))},
        CueForm::kSplitHead);
    Disc original(cue);
    ASSERT_TRUE(original) << original.error();

    for (const char *codecs : {"cdzl", "cdlz,cdzl", "cdfl", "cdzs", "cdlz,cdzl,cdfl", "none"}) {
        SCOPED_TRACE(codecs);
        const std::string chd = dir / (std::string("disc-") + codecs + ".chd");
        if (RunCommand("chdman createcd -f -c " + std::string(codecs) + " -i " + Quote(cue) + " -o " + Quote(chd) +
                       " >/dev/null 2>&1") != 0) {
            // cdzs came with chdman 0.249's zstd; an older chdman has no such codec.
            EXPECT_STREQ(codecs, "cdzs") << "chdman createcd failed";
            continue;
        }
        EXPECT_EQ(Disc(chd, 0).error(), ENGINE_UNKNOWN_FORMAT) << "read without the sheets bit";
        Disc image(chd);
        ASSERT_TRUE(image) << image.error();
        EXPECT_EQ(SheetOf(image.get()), "chd");
        EXPECT_TRUE(SameTable(TrackTable(image.get()), TrackTable(original.get())));
        ExpectSameBytes(image, original, dir / "x", codecs);

        const std::string back = dir / "back";
        ASSERT_EQ(RunCommand("chdman extractcd -f -i " + Quote(chd) + " -o " + Quote(back + ".cue") + " -ob " +
                             Quote(back + ".bin") + " >/dev/null 2>&1"),
                  0);
        Disc extracted(back + ".cue");
        ASSERT_TRUE(extracted) << extracted.error();
        ExpectSameBytes(image, extracted, dir / "y", codecs);
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
    Disc image(dir / "gd.chd");
    ASSERT_TRUE(image) << image.error();
    const std::vector<TrackInfo> table = TrackTable(image.get());
    ASSERT_EQ(table.size(), 3u);
    const int32_t starts[] = {table[1].start, table[2].start};  // copied out of the packed records
    EXPECT_EQ(starts[0], second);
    EXPECT_EQ(starts[1], 45000);
    for (int32_t t = 0; t < 3; ++t)
        EXPECT_TRUE(Extract(image, dir / "raw", t, TRACK_RAW) == files[size_t(t)]) << "track " << t;
    ASSERT_EQ(Names(ListEntries(image.get(), 2, KIND_ISO9660)), std::vector<std::string>{"\\BIG.BIN;1"});
    QorvexGetFileStart(image.get(), 2, KIND_ISO9660);
    QorvexGetNextFile(image.get(), nullptr);
    ASSERT_EQ(QorvexExtractCurrentFile(image.get(), (dir / "BIG.BIN").c_str()), 0);
    EXPECT_TRUE(ReadFile(dir / "BIG.BIN") == big);
}

// Version 4 from the project's writer (deflated, stored, repeated-value and back-referring hunks; a CD with its
// track metadata) and the writer's cdzl CD: read as chdman reads it, and as chdman's copy of it in version 5.
TEST(ChdInteropTest, WrittenFilesReadAsChdmanReadsThem) {
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
    ChdLayout cdzl = v4;
    cdzl.version = 5;
    cdzl.unit_bytes = 2448;
    cdzl.cd_codec = true;
    WriteFile(dir / "cdzl.chd", EncodeChd(frames, {{ChdHunk::kZlib}}, cdzl));
    for (const char *name : {"iso4", "cd4", "cdzl"}) {
        SCOPED_TRACE(name);
        const std::string written = dir / (std::string(name) + ".chd"), copied = dir / (std::string(name) + "-5.chd");
        ASSERT_EQ(RunCommand("chdman copy -f -i " + Quote(written) + " -o " + Quote(copied) + " >/dev/null 2>&1"), 0);
        Disc image(written), copy(copied);
        ASSERT_TRUE(image) << image.error();
        ASSERT_TRUE(copy) << copy.error();
        EXPECT_EQ(Names(ListEntries(image.get(), 0, KIND_ISO9660)).size(), 2u);
        EXPECT_TRUE(Extract(image, dir / "user", 0, 0) == iso);
        ExpectSameBytes(image, copy, dir / "x", name);
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
        Disc image(chd);
        ASSERT_TRUE(image) << image.error();
        EXPECT_EQ(SheetOf(image.get()), "chd");
        EXPECT_TRUE(Extract(image, dir / "out.iso", 0, 0) == iso);
        ASSERT_EQ(RunCommand("chdman extractraw -f -i " + Quote(chd) + " -o " + Quote(dir / "peer.iso") +
                             " >/dev/null 2>&1"),
                  0);
        EXPECT_TRUE(ReadFile(dir / "peer.iso") == iso);
    }
    // zstd hunks from the project's writer, where this chdman cannot make them.
    ChdLayout zstd;
    zstd.zstd = true;
    WriteFile(dir / "raw-zstd-writer.chd", EncodeChd(iso, {{ChdHunk::kZlib}, {ChdHunk::kStored}}, zstd));
    Disc image(dir / "raw-zstd-writer.chd");
    ASSERT_TRUE(image) << image.error();
    EXPECT_TRUE(Extract(image, dir / "out.iso", 0, 0) == iso);
}

}  // namespace
}  // namespace qorvex::test
