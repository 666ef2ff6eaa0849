// Long runs of raw sectors: read in one call with the user data scattered into place where the platform can,
// they must deliver the same bytes and stop at the same sector as reading one sector at a time.
#include <gtest/gtest.h>

#include "image/image_catalogue.h"
#include "image/sector_format.h"
#include "image/sector_reader.h"
#include "image/track_layout.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

constexpr int32_t kSectors = 1500;

struct Wrapped {
    std::vector<uint8_t> raw;
    TrackRecord record;
};

Wrapped Write(const std::string &path, int32_t format, const RawOptions &options) {
    Wrapped w;
    w.raw = WrapSectors(Pattern(size_t(kSectors) * 2048, 5), format, options);
    WriteFile(path, w.raw);
    w.record = MakeProbedTrack(path, format, 0, CFileFindEx::GetLength(path));
    return w;
}

void Open(SectorReader &reader, const Wrapped &w, bool check) {
    ASSERT_TRUE(reader.SetUp(w.record, 0));
    reader.SetEdcCheck(check);
    ASSERT_TRUE(reader.Open());
}

// The user bytes of sectors [first, first + n) as they lie in the stored sectors.
std::vector<uint8_t> UserBytes(const Wrapped &w, const SectorReader &reader, int32_t first, int32_t n) {
    std::vector<uint8_t> out;
    for (int32_t s = first; s < first + n; ++s) {
        const auto at = w.raw.begin() + int64_t(s) * reader.StoredSize() + reader.UserOffset();
        out.insert(out.end(), at, at + reader.UserSize());
    }
    return out;
}

TEST(ScatteredRead, RunsDeliverTheStoredUserDataAndStopAtTheFirstBadSector) {
    TempDir dir;
    const std::string path = dir / "run.img";
    // Mode 1, Mode 0, Mode 2 Forms 1 and 2 in 2352, XA in 2336, Mode 1 and Form 1 with subchannel in 2448.
    for (int32_t format : {3, 2, 6, 7, 13, 15, 17}) {
        SCOPED_TRACE(format);
        const EdcCheck edc = GetSectorFormat(format).edc;
        {
            const Wrapped w = Write(path, format, {});
            for (bool check : {false, true}) {
                SectorReader reader;
                Open(reader, w, check);
                std::vector<uint8_t> user(size_t(reader.UserSize()) * 1400);
                ASSERT_TRUE(reader.SeekSector(7));
                ASSERT_EQ(reader.ReadSectorRun(user.data(), 1400), 1400);
                EXPECT_EQ(user, UserBytes(w, reader, 7, 1400));
                EXPECT_FALSE(reader.EdcError());
                // The run leaves the reader on the next sector.
                ASSERT_EQ(reader.ReadSectorRun(user.data(), 1), 1);
                user.resize(size_t(reader.UserSize()));
                EXPECT_EQ(user, UserBytes(w, reader, 1407, 1));
            }
        }
        // A bad EDC ends a checked run at the sector before it; a file that ends 1,000 bytes into its last sector
        // ends the run at the whole sectors before it; a Form 2 sector of an XA image carries no Form 1 EDC, so a
        // checked run reads through it.
        RawOptions bad, cut, xa;
        bad.corrupt_edc_sector = 900;
        cut.tail_adjust = -(StoredSize(format) - 1000);
        xa.form2_sector = 700;
        const struct {
            const RawOptions &options;
            bool check;
            int32_t first, n, delivered;
            bool only_xa = false;
        } runs[] = {
            {bad, true, 7, 1400, 893}, {cut, false, kSectors - 600, 600, 599}, {xa, true, 100, 1000, 1000, true}};
        for (const auto &r : runs) {
            if ((r.check && edc == EdcCheck::kNone) || (r.only_xa && format != 13)) continue;
            const Wrapped w = Write(path, format, r.options);
            SectorReader reader;
            Open(reader, w, r.check);
            std::vector<uint8_t> user(size_t(reader.UserSize()) * size_t(r.n));
            ASSERT_TRUE(reader.SeekSector(r.first));
            EXPECT_EQ(reader.ReadSectorRun(user.data(), r.n), r.delivered);
            EXPECT_EQ(reader.EdcError(), r.delivered < r.n && r.check);
            user.resize(size_t(reader.UserSize()) * size_t(r.delivered));
            EXPECT_EQ(user, UserBytes(w, reader, r.first, r.delivered));
        }
    }
}

// The fuzz targets read their input through a reader set up in memory: it delivers what the same bytes read
// from a file deliver, up to the same failure (a bad EDC, the track's end).
TEST(ScatteredRead, AReaderInMemoryDeliversWhatTheFileDoes) {
    TempDir dir;
    const std::string path = dir / "run.img";
    for (int32_t format : {3, 6, 13, 15}) {
        SCOPED_TRACE(format);
        RawOptions bad;
        bad.corrupt_edc_sector = 900;
        const Wrapped w = Write(path, format, bad);
        SectorReader file, memory;
        Open(file, w, true);
        ASSERT_TRUE(memory.SetUpInMemory(w.record, ByteView(w.raw.data(), w.raw.size())));
        memory.SetEdcCheck(true);
        ASSERT_TRUE(memory.Open());
        EXPECT_FALSE(memory.CanCopyDirectly());
        for (int32_t first : {0, 7, 880, kSectors - 3}) {
            std::vector<uint8_t> from_file(size_t(file.UserSize()) * 40), from_memory(from_file.size());
            ASSERT_TRUE(file.SeekSector(first));
            ASSERT_TRUE(memory.SeekSector(first));
            const int32_t n = file.ReadSectorRun(from_file.data(), 40);
            ASSERT_EQ(memory.ReadSectorRun(from_memory.data(), 40), n) << first;
            from_file.resize(size_t(file.UserSize()) * size_t(n));
            from_memory.resize(from_file.size());
            EXPECT_EQ(from_memory, from_file) << first;
            EXPECT_EQ(memory.EdcError(), file.EdcError()) << first;
        }
    }
}

TEST(ScatteredRead, EdcGoesOnFromAnyPrefix) {
    const std::vector<uint8_t> data = Pattern(2336, 11);
    for (size_t split : {0, 3, 4, 16, 24, 100, 2048, 2064}) {
        for (size_t n : {split, split + 63, split + 64, size_t(2336)}) {
            if (n < split || n > data.size()) continue;
            EXPECT_EQ(ContinueEdc(ComputeEdc(data.data(), split), data.data() + split, n - split),
                      ReferenceEdc(data.data(), n))
                << split << " " << n;
        }
    }
}

}  // namespace
}  // namespace qorvex::test
