// Image files: format detection, the sector reader's address and EDC checks, the track table and track
// extraction.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "catalogue/track_volume.h"
#include "image/image_catalogue.h"
#include "image/sector_format.h"
#include "image/sector_reader.h"
#include "image/track_layout.h"
#include "model/track_record.h"
#include "support/disc_builder.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"
#include "tracks/track_extract.h"

namespace qorvex::test {
namespace {

// An ISO volume of exactly `sectors` sectors holding one file of patterned data.
IsoImage VolumeOf(uint32_t sectors, std::vector<uint8_t> *contents = nullptr) {
    std::vector<uint8_t> data = Pattern(10 * 2048 + 77, 3);
    if (contents) *contents = data;
    IsoOptions options;
    options.trailing_sectors = 0;
    IsoImage image = BuildIso({File("DATA.BIN;1", data)}, options);
    const uint32_t have = image.Sectors();
    image.bytes.resize(size_t(sectors) * 2048, 0);  // a short volume only serves detection
    // Give every trailing sector a distinct first byte pair so that shifted reads are visible.
    for (uint32_t s = have; s < sectors; ++s) {
        image.bytes[size_t(s) * 2048] = uint8_t(s);
        image.bytes[size_t(s) * 2048 + 1] = uint8_t(s >> 8);
    }
    return image;
}

class ImageTest : public ::testing::Test {
protected:
    TempDir dir_;
};

// Every probed format, with and without the pregap: detection, the track table, the same file to a path and to
// the callback, and the track's user data and raw sectors (from the first held sector with the pregap flag).
TEST_F(ImageTest, DetectsEveryProbedFormatWithAndWithoutPregapAndReadsTheSameFilesAndTrack) {
    std::vector<uint8_t> contents;
    const IsoImage image = VolumeOf(200, &contents);
    for (int32_t format : {3, 5, 6, 7, 9, 10, 12, 13, 15, 16, 17, 18}) {
        for (bool pregap : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << format << (pregap ? " with pregap" : ""));
            RawOptions raw;
            raw.pregap = pregap;
            const std::string path = dir_ / "f.img";
            const std::vector<uint8_t> stored = WrapSectors(image.bytes, format, raw);
            WriteFile(path, stored);
            EXPECT_EQ(DetectFormat(path, 0, pregap ? 150 : 0), format);
            if (pregap) {
                EXPECT_EQ(DetectFormat(path, 0, 0), kFormatUnknown);
            }
            ImageCatalogue catalogue;
            ASSERT_TRUE(catalogue.Probe(path));
            ASSERT_EQ(catalogue.TrackCount(), 1);
            EXPECT_EQ(catalogue.GetTrack(0).pregap_start, -150);
            ASSERT_EQ(catalogue.Sessions().size(), 1u);
            EXPECT_EQ(catalogue.Sessions()[0].session_start, -150);
            EXPECT_EQ(catalogue.Sessions()[0].lead_out_end, 200 + 6750);
            EXPECT_EQ(catalogue.Sessions()[0].disc_kind,
                      format == 3 || format == 9 || format == 15 ? 1 : 2);  // Mode 1 or 2

            Opened h(path);
            ASSERT_TRUE(h) << std::hex << h.error();
            EXPECT_EQ(QorvexGetTrackCount(h.get()), 1);
            TrackInfo info{};
            ASSERT_EQ(QorvexGetTrackInfo(h.get(), 0, &info), 0);
            EXPECT_EQ(info.format, format);
            EXPECT_EQ(info.first_held, pregap ? -150 : 0);
            EXPECT_EQ(info.start, 0);
            EXPECT_EQ(info.end_held, 200);
            EXPECT_EQ(info.user_size, 2048);  // the volume's block size
            int32_t sectors = 0;
            int64_t bytes = 0;
            QorvexGetImageInformation(h.get(), 0, KIND_AUTO, nullptr, &sectors, &bytes);
            EXPECT_EQ(sectors, 200);
            EXPECT_EQ(bytes, 200 * StoredSize(format));  // the track's stored sectors
            ASSERT_EQ(QorvexGetFileStart(h.get(), 0, KIND_ISO9660), 1);
            QorvexGetNextFile(h.get(), nullptr);
            const std::string out = dir_ / "out.bin";
            ASSERT_EQ(QorvexExtractCurrentFile(h.get(), out.c_str()), 0);
            EXPECT_EQ(ReadFile(out), contents);
            Collector collector;  // the same bytes to the callback
            QorvexSetCallback(h.get(), &Collector::Callback, &collector);
            ASSERT_EQ(QorvexExtractCurrentFile(h.get(), nullptr), 0);
            EXPECT_EQ(collector.Joined(), contents);
            QorvexSetCallback(h.get(), nullptr, nullptr);

            ASSERT_EQ(QorvexExtractTrack(h.get(), 0, out.c_str(), 0), 0);
            EXPECT_EQ(ReadFile(out), image.bytes);
            // Raw sectors: the stored ones, without subchannel.
            const size_t size = size_t(StoredSize(format)), kept = std::min<size_t>(size, 2352);
            for (uint32_t flags : {TRACK_RAW, TRACK_RAW | TRACK_PREGAP}) {
                ASSERT_EQ(QorvexExtractTrack(h.get(), 0, out.c_str(), flags), 0);
                const std::vector<uint8_t> extracted = ReadFile(out);
                const size_t skipped = pregap && !(flags & TRACK_PREGAP) ? 150 : 0;
                ASSERT_EQ(extracted.size(), (stored.size() / size - skipped) * kept);
                for (size_t s = 0; s < extracted.size() / kept; ++s)
                    ASSERT_TRUE(std::equal(extracted.begin() + s * kept, extracted.begin() + (s + 1) * kept,
                                           stored.begin() + (s + skipped) * size))
                        << flags << " sector " << s;
            }
        }
    }
}

// The edges of detection: the probe wants 21 whole sectors, takes the UDF recognition sequence for a volume,
// tells Mode 2 forms apart by their subheaders, and refuses files that are not whole sectors.
TEST_F(ImageTest, DetectionEdges) {
    IsoImage bea = VolumeOf(40);
    std::memcpy(&bea.bytes[16 * 2048 + 1], "BEA01", 5);
    std::vector<uint8_t> short_by_one = VolumeOf(21).bytes;
    short_by_one.pop_back();
    std::vector<uint8_t> both_bits = WrapSectors(VolumeOf(40).bytes, 6);
    both_bits[16 * 2352 + 15] = 3;  // a mode byte with both bits set, the signature behind a subheader
    RawOptions longer;
    longer.tail_adjust = 100;
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        int32_t format;
        bool opens;
    } cases[] = {
        {"21 sectors", VolumeOf(21).bytes, kFormatMode1_2048, true},
        {"one byte short of 21 sectors", short_by_one, kFormatUnknown, false},
        // Recognised, but neither ISO 9660 nor UDF is found there.
        {"BEA01 without a volume", bea.bytes, kFormatMode1_2048, false},
        // (Formats 6 and 7 from their Form 1 and Form 2 subheaders: the test above.)
        {"mode byte 3", both_bits, kFormatMode2Form1_2352, true},
        // Recognised by the probe, refused by the open.
        {"100 bytes over whole sectors", WrapSectors(VolumeOf(100).bytes, 3, longer), kFormatMode1_2352, false},
    };
    const std::string path = dir_ / "edge.img";
    for (const auto &c : cases) {
        WriteFile(path, c.bytes);
        EXPECT_EQ(DetectFormat(path, 0, 0), c.format) << c.name;
        Opened h(path);
        EXPECT_EQ(bool(h), c.opens) << c.name;
        if (!c.opens) {
            EXPECT_EQ(h.error(), ENGINE_UNKNOWN_FORMAT) << c.name;
        }
    }
}

// A volume written as a track in a stored format, for the exports and for a reader set up directly on it.
class TrackTest : public ImageTest {
protected:
    std::string Make(int32_t format, const RawOptions &raw, uint32_t sectors = 200) {
        image_ = VolumeOf(sectors);
        stored_ = WrapSectors(image_.bytes, format, raw);
        path_ = dir_ / "r.img";
        WriteFile(path_, stored_);
        record_ = MakeProbedTrack(path_, format, raw.pregap ? 150 : 0, int64_t(stored_.size()));
        return path_;
    }
    // Sets the reader up on the track with the given checks and opens it.
    bool Ready(SectorReader &reader, uint32_t options, bool edc = false) {
        if (!reader.SetUp(record_, options)) return false;
        reader.SetEdcCheck(edc);
        return reader.Open();
    }
    IsoImage image_;
    std::vector<uint8_t> stored_;
    std::string path_;
    TrackRecord record_;
};

// A sector whose EDC does not match fails the read and leaves the flag set, also over later good sectors; formats
// without an EDC are not checked. (Runs of every stored format that stop at a bad EDC, and Form 2 sectors of XA
// images: ScatteredRead; the track extraction of a checked open: the command line's TracksTest.)
TEST_F(TrackTest, EdcMismatchFailsTheReadAndTheFlagStaysSetButOnlyWhereAnEdcIsKept) {
    RawOptions raw;
    raw.corrupt_edc_sector = 120;
    Make(3, raw);
    SectorReader reader;
    ASSERT_TRUE(Ready(reader, 0, true));
    std::vector<uint8_t> user(size_t(reader.UserSize()) * 2);
    ASSERT_TRUE(reader.SeekSector(118));
    EXPECT_GT(reader.ReadSectors(user.data(), 2), 0);
    EXPECT_FALSE(reader.EdcError());
    EXPECT_EQ(reader.ReadSectors(user.data(), 2), 0);  // 120 fails, so the pair fails as a whole
    EXPECT_TRUE(reader.EdcError());
    ASSERT_TRUE(reader.SeekSector(150));
    EXPECT_GT(reader.ReadSectors(user.data(), 1), 0);
    EXPECT_TRUE(reader.EdcError());

    SectorReader unchecked;
    ASSERT_TRUE(Ready(unchecked, 0));
    ASSERT_TRUE(unchecked.SeekSector(120));
    EXPECT_GT(unchecked.ReadSectors(user.data(), 1), 0);

    // Format 9 carries no EDC at all.
    Make(9, {});
    std::vector<uint8_t> bytes = ReadFile(path_);
    bytes[size_t(120) * 2048 + 2047] ^= 0xFF;
    WriteFile(path_, bytes);
    Opened plain(path_, OPEN_CHECK_EDC);
    ASSERT_TRUE(plain);
    EXPECT_EQ(QorvexExtractTrack(plain.get(), 0, nullptr, 0), 0);
}

TEST(EdcTest, TableAndFoldingMatchBitwiseReference) {
    const std::vector<uint8_t> data = Pattern(2336, 9);
    // Around the folding's block and four-block steps, and the lengths sectors check.
    for (size_t n : {0, 1, 63, 64, 65, 79, 80, 127, 128, 129, 191, 200, 2056, 2064, 2336}) {
        EXPECT_EQ(ComputeEdc(data.data(), n), ReferenceEdc(data.data(), n)) << n;
        EXPECT_EQ(ComputeEdcByTables(data.data(), n), ReferenceEdc(data.data(), n)) << n;
    }
    for (int32_t code = 0; code < kFormatCount; ++code) EXPECT_NE(GetSectorFormat(code).name, nullptr);
    EXPECT_STREQ(GetSectorFormat(kFormatCount).name, "UNKNOWN");
}

TEST_F(ImageTest, AudioTrackScansEmptyAndExtractsRaw) {
    // Forty sectors of 2352-byte audio with a distinct pattern.
    const std::vector<uint8_t> audio = Pattern(40 * 2352, 5);
    const std::string path = dir_ / "audio.bin";
    WriteFile(path, audio);
    const TrackRecord record = MakeProbedTrack(path, kFormatAudio, 0, int64_t(audio.size()));
    EXPECT_TRUE(CheckTrackLayout({record}, BuildSessionList({record})));
    TrackVolume volume;
    MemoryBudget budget = MemoryBudget::ForImage(int64_t(audio.size()));
    ASSERT_TRUE(volume.Scan(record, Limits{&budget, OPEN_CHECK_EDC | OPEN_CHECK_POSITION}).IsOk());
    for (int32_t kind : {1, 2, 4}) {
        EXPECT_EQ(volume.FileStart(kind), 0);
        EXPECT_EQ(volume.PartStart(kind), 0);
        EXPECT_TRUE(volume.Label(kind)->empty());
    }
    // A track that is not data is extracted raw even without the raw flag; the header leads with the WAV flag.
    const std::string out = dir_ / "audio.wav";
    ASSERT_TRUE(ExtractTrack(volume.Reader(), Progress{}, out.c_str(), TRACK_WAV).IsOk());
    const std::vector<uint8_t> wav = ReadFile(out);
    ASSERT_EQ(wav.size(), 44 + audio.size());
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), wav.begin() + 44));
}

// A MODE1/2448 track to the callback and as WAV: the subchannel is dropped, stops are honoured, files presized.
TEST_F(TrackTest, CallbackAndWavOf2448Sectors) {
    Opened h(Make(15, {}, 40));
    ASSERT_TRUE(h);
    Collector all;
    QorvexSetCallback(h.get(), &Collector::Callback, &all);
    ASSERT_EQ(QorvexExtractTrack(h.get(), 0, nullptr, 0), 0);
    EXPECT_EQ(all.blocks.size(), 40u);
    EXPECT_EQ(all.Joined(), image_.bytes);

    // As WAV: the header, then the sectors. A stop on the header is remembered: every sector is still delivered.
    Collector header_stop;
    header_stop.stop_at = 0;
    QorvexSetCallback(h.get(), &Collector::Callback, &header_stop);
    const std::string out = dir_ / "t.wav";
    EXPECT_EQ(QorvexExtractTrack(h.get(), 0, out.c_str(), TRACK_RAW | TRACK_WAV), ENGINE_ABORTED);
    ASSERT_EQ(header_stop.blocks.size(), 41u);
    EXPECT_EQ(header_stop.blocks[0].size(), 44u);

    Collector third;
    third.stop_at = 2;
    QorvexSetCallback(h.get(), &Collector::Callback, &third);
    EXPECT_EQ(QorvexExtractTrack(h.get(), 0, out.c_str(), 0), ENGINE_ABORTED);
    EXPECT_EQ(third.blocks.size(), 3u);
    EXPECT_EQ(std::filesystem::file_size(out), 40u * 2048);
    QorvexSetCallback(h.get(), nullptr, nullptr);

    ASSERT_EQ(QorvexExtractTrack(h.get(), 0, out.c_str(), TRACK_RAW | TRACK_WAV), 0);
    const std::vector<uint8_t> file = ReadFile(out);
    const uint32_t data_length = 40 * 2352;
    ASSERT_EQ(file.size(), 44u + data_length);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 44), WavHeader(data_length));
    for (size_t s = 0; s < 40; ++s)
        ASSERT_TRUE(
            std::equal(file.begin() + 44 + s * 2352, file.begin() + 44 + (s + 1) * 2352, stored_.begin() + s * 2448))
            << s;
}

// A 2048-byte track of several 1 MiB runs, copied directly into output folders made on the way.
TEST_F(TrackTest, OutputFoldersAreMadeAndBadIndexesRefused) {
    Opened h(Make(9, {}, 1600));
    ASSERT_TRUE(h);
    const std::string out = dir_ / "one/two/track.iso";
    ASSERT_EQ(QorvexExtractTrack(h.get(), 0, out.c_str(), 0), 0);
    EXPECT_EQ(ReadFile(out), image_.bytes);
    TrackInfo info{};
    EXPECT_EQ(QorvexGetTrackInfo(h.get(), -1, &info), ENGINE_BAD_TRACK);
    EXPECT_EQ(QorvexGetTrackInfo(h.get(), 1, &info), ENGINE_BAD_TRACK);
    EXPECT_EQ(QorvexExtractTrack(h.get(), -1, out.c_str(), 0), ENGINE_BAD_TRACK);
    // A file where a folder is needed: the output cannot be created.
    WriteFile(dir_ / "blocker", std::string("x"));
    const std::string blocked = dir_ / "blocker/track.iso";
    EXPECT_EQ(QorvexExtractTrack(h.get(), 0, blocked.c_str(), 0), ENGINE_OUTPUT_OPEN_FAILED);
    // The reader is usable again afterwards.
    EXPECT_EQ(QorvexExtractTrack(h.get(), 0, nullptr, 0), 0);
}

}  // namespace
}  // namespace qorvex::test
