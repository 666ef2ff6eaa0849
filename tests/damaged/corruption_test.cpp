// A genisoimage disc carrying ISO 9660, Joliet and UDF, damaged one structure at a time: sectors zeroed or
// garbled, loops planted, lengths made huge. Each file system must lose exactly what the damage reaches and
// keep the rest; files outside the damage still extract whole.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/harness/damage_harness.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace damaged {
namespace {

using qorvex::test::TempDir;

class Corruption : public ::testing::Test {
protected:
    void SetUp() override {
        MakeSourceTree(dir.path());
        image = MakeWithTool(dir.path(), "genisoimage -quiet -udf -J -iso-level 3 -V BRIDGE -o {out} {src}");
        if (image.empty()) GTEST_SKIP() << "genisoimage is not installed";
        qorvex::test::WriteFile(dir / "intact.iso", image);
        intact = ListImage(dir / "intact.iso");
        ASSERT_EQ(intact.files.at(KIND_UDF).size(), 5u);
        // Partition start: an identifier's block number against the absolute sector of its entry.
        udf_partition = Start(KIND_UDF, "udf entry  \\D\\") - Get32Le(Fid("\\", "D") + 24);
    }

    int64_t Start(int32_t kind, const std::string &part) const { return intact.Part(kind, part).start; }
    uint8_t *UdfEntry(const std::string &path) { return SectorAt(image, Start(KIND_UDF, "udf entry  " + path)); }
    // The first allocation descriptor of a UDF file entry, behind its extended attributes.
    static uint8_t *Allocation(uint8_t *fe) { return fe + 176 + Get32Le(fe + 168); }

    // The file identifier naming `name` in the UDF folder `folder` of `image`.
    uint8_t *Fid(const std::string &folder, const std::string &name) {
        const int64_t sector = Start(KIND_UDF, "udf folder " + folder);
        uint8_t *p = SectorAt(image, sector);
        for (size_t at = 0; at + 38 <= 2048;) {
            uint8_t *fid = p + at;
            if (fid[0] != 1 || fid[1] != 1) {
                ++at;
                continue;
            }
            const size_t iu = fid[36] | fid[37] << 8, fi = fid[19];
            if (fi > 1 && std::string(reinterpret_cast<char *>(fid + 38 + iu + 1), fi - 1) == name) return fid;
            at += (38 + iu + fi + 3) & ~size_t(3);
        }
        ADD_FAILURE() << "no identifier " << name << " in " << folder;
        static uint8_t scratch[64];
        return scratch;
    }

    TempDir dir;
    std::vector<uint8_t> image;
    Listing intact;
    int64_t udf_partition = 0;
};

TEST_F(Corruption, EachDamageCostsOnlyWhatItReaches) {
    auto zero = [&](int32_t kind, const std::string &part) {
        return [this, kind, part] { std::memset(SectorAt(image, Start(kind, part)), 0, 2048); };
    };
    auto iso_record = [&](const std::string &folder, const std::string &name) {
        const int64_t at = FindRecord(image, Start(KIND_ISO9660, "iso9660 folder " + folder), name);
        EXPECT_GE(at, 0) << name;
        return image.data() + at;
    };
    const std::string no_iso = Outcome(intact).Without(KIND_ISO9660).Without(KIND_JOLIET).Text();
    const std::string no_udf = Outcome(intact).Without(KIND_UDF).Text();
    // Short descriptors that fit in the block of \A.BIN's entry: past the real one they are its zero filling,
    // empty extents.
    const size_t slots_after_a = (2048 - 176 - Get32Le(UdfEntry("\\A.BIN") + 168)) / 8;
    const std::vector<DamageCase> cases = {
        // Zeroed and garbled sectors cost only what they hold (Joliet folders are walked as ISO 9660 ones are).
        {"ISO 9660 folder \\D\\ zeroed: its records are padding", zero(KIND_ISO9660, "iso9660 folder \\D\\"),
         Outcome(intact).Below(KIND_ISO9660, "\\D\\").Text()},
        {"UDF folder \\D\\ zeroed: its identifiers are gone", zero(KIND_UDF, "udf folder \\D\\"),
         Outcome(intact).Below(KIND_UDF, "\\D\\").Text()},
        {"UDF file entry zeroed: no UDF", zero(KIND_UDF, "udf entry  \\A.BIN"), no_udf},
        {"UDF file entry with one byte changed fails its CRC: no UDF", [&] { UdfEntry("\\D\\E\\")[100] ^= 0x40; },
         no_udf},
        {"volume descriptor at 16 zeroed: nothing left to recognise the image by",
         [&] { std::memset(SectorAt(image, 16), 0, 2048); }, "open " + Code(ENGINE_UNKNOWN_FORMAT) + "\n"},
        {"ISO 9660 folder filled with 0xFF: the walk fails, taking Joliet with it",
         [&] { std::memset(SectorAt(image, Start(KIND_ISO9660, "iso9660 folder \\D\\")), 0xFF, 2048); }, no_iso},
        {"first data sector of \\D\\B.BIN zeroed: listed, extracted with what is there",
         [&] { std::memset(SectorAt(image, intact.File(KIND_ISO9660, "\\D\\B.BIN;1").start), 0, 2048); },
         Outcome(intact)
             .Extracting(KIND_ISO9660, "\\D\\B.BIN;1", "wrong data")
             .Extracting(KIND_JOLIET, "\\D\\B.BIN", "wrong data")
             .Extracting(KIND_UDF, "\\D\\B.BIN", "wrong data")
             .Text()},
        // Planted loops: each folder is walked once.
        {"ISO 9660 folder \\D\\ recorded at the root's extent (a folder pointing at its parent)",
         [&] { Put32Both(iso_record("\\", "D") + 2, uint32_t(Start(KIND_ISO9660, "iso9660 folder \\"))); },
         Outcome(intact).Below(KIND_ISO9660, "\\D\\").Text()},
        // The folder's own entry is listed, its walk is not repeated.
        {"UDF identifier of \\D\\E\\ naming the entry of \\D\\",
         [&] {
             uint8_t *fid = Fid("\\D\\", "E");
             Put32Le(fid + 24, uint32_t(Start(KIND_UDF, "udf entry  \\D\\") - udf_partition));
             qorvex::test::RecomputeCrc(fid);
         },
         Outcome(intact).Below(KIND_UDF, "\\D\\E\\").Text()},
        {"UDF folder entry whose data is the entry itself (an ICB pointing at itself): an empty folder",
         [&] {
             uint8_t *fe = UdfEntry("\\D\\E\\");
             Put32Le(Allocation(fe) + 4, uint32_t(Start(KIND_UDF, "udf entry  \\D\\E\\") - udf_partition));
             qorvex::test::RecomputeCrc(fe);
         },
         Outcome(intact).Below(KIND_UDF, "\\D\\E\\").Text()},
        // A pointer in place of the terminator: as many parts, with the pointer where the terminator was.
        {"terminator of the main UDF sequence replaced by a pointer back to its start",
         [&] {
             const int64_t td = Start(KIND_UDF, "TD   (37)");
             qorvex::test::WriteVdp(SectorAt(image, td), uint32_t(td), 16 * 2048,
                                    uint32_t(Start(KIND_UDF, "PVD  (main)")));
         },
         Outcome(intact).Text()},
        // Huge lengths are bounded by the image.
        {"ISO 9660 file of 4 GiB - 1: listed, extraction ends where the image does",
         [&] { Put32Both(iso_record("\\", "A.BIN;1") + 10, 0xFFFFFFFFu); },
         Outcome(intact).Extracting(KIND_ISO9660, "\\A.BIN;1", Code(ENGINE_READ_FAILED)).Text()},
        {"ISO 9660 root of 3 GiB: the walk fails, taking Joliet with it",
         [&] { Put32Both(SectorAt(image, 16) + 156 + 10, 0xC0000000u); }, no_iso},
        {"UDF extent of 1 GiB: listed, extraction ends where the image does",
         [&] {
             Put32Le(Allocation(UdfEntry("\\A.BIN")), 0x3FFFFFFFu);
             qorvex::test::RecomputeCrc(UdfEntry("\\A.BIN"));
         },
         Outcome(intact).Extracting(KIND_UDF, "\\A.BIN", Code(ENGINE_READ_FAILED)).Text()},
        {"UDF folder \\D\\ of 1 GiB: its read fails, so no UDF",
         [&] {
             Put32Le(Allocation(UdfEntry("\\D\\")), 0x3FFFFFFEu);
             qorvex::test::RecomputeCrc(UdfEntry("\\D\\"));
         },
         no_udf},
        {"path tables of 4 GiB: not read, the folders still are",
         [&] {
             Put32Both(SectorAt(image, 16) + 132, 0xFFFFFF00u);
             Put32Both(SectorAt(image, 17) + 132, 0xFFFFFF00u);
         },
         Outcome(intact).Text()},
        {"UDF entry whose descriptors claim 2 GiB: only those within the block read are taken",
         [&] {
             Put32Le(UdfEntry("\\A.BIN") + 172, 0x7FFFFFF8u);
             qorvex::test::RecomputeCrc(UdfEntry("\\A.BIN"));
         },
         Outcome(intact).WithMoreExtents(KIND_UDF, "\\A.BIN", slots_after_a - 1, "wrong data").Text()},
        {"UDF entry with 4 GiB of extended attributes: its descriptors lie outside the block, so no data",
         [&] {
             Put32Le(UdfEntry("\\A.BIN") + 168, 0xFFFFFFF0u);
             qorvex::test::RecomputeCrc(UdfEntry("\\A.BIN"));
         },
         Outcome(intact).WithoutFile(KIND_UDF, "\\A.BIN").Text()},
    };
    RunDamageCases(image, cases, dir / "damaged.iso", [&] { return Observe(dir / "damaged.iso", 0, &intact); });
}

// How much of an image a small extraction reads: a large image must not make every one-sector system part
// cost a large read.
TEST_F(Corruption, OneSectorPartsReadLittleOfTheImage) {
    image.resize(image.size() + 2000 * 2048, 0);  // 4 MB of unused sectors behind the volume
    qorvex::test::WriteFile(dir / "big.iso", image);
    const std::string report = RunWatched([&] {
        return WithOpen(dir / "big.iso", 0, [](QorvexHandle h) {
            std::string out;
            for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF})
                ForEach(h, kind, true, [&](const EntryInfo &info) {
                    if (info.sectors != 1) return;
                    const int64_t before = BytesRead();
                    const int32_t result = QorvexExtractCurrentModule(h, nullptr);
                    const int64_t read = BytesRead() - before;
                    if (result != 0 || read > 64 * 1024)
                        out += std::string(info.name) + ": " + Code(result) + ", " + std::to_string(read) + " bytes\n";
                });
            return out;
        });
    });
    EXPECT_EQ(report, "") << "parts of one sector that failed or read more than 64 KiB";
}

// An empty mkudffs volume: UDF alone, with its reserve sequence near the end of the image. What stays
// readable depends on which of the duplicated structures survive.
TEST(UdfVolumeDamage, DuplicatedStructuresStandInForEachOther) {
    TempDir dir;
    const int64_t sectors = 1200;
    const std::string make = "truncate -s " + std::to_string(sectors * 2048) +
                             " {out} && mkudffs --media-type=hd --udfrev=0x0150 --blocksize=2048 {out} " +
                             std::to_string(sectors);
    if (!qorvex::test::HaveProgram("mkudffs")) GTEST_SKIP() << "mkudffs is not installed";
    const std::vector<uint8_t> pristine = MakeWithTool(dir.path(), make);
    ASSERT_EQ(pristine.size(), size_t(sectors) * 2048);
    qorvex::test::WriteFile(dir / "intact.img", pristine);
    const Listing intact = ListImage(dir / "intact.img");
    const size_t parts = intact.parts.at(KIND_UDF).size();
    ASSERT_GT(parts, 10u);
    auto at = [&](const std::string &part) { return intact.Part(KIND_UDF, part).start; };
    auto udf = [](size_t count) {
        return "kind 1: 0 files, 0 parts\nkind 2: 0 files, 0 parts\nkind 4: 0 files, " + std::to_string(count) +
               " parts\n";
    };
    const std::string none = "open " + Code(ENGINE_UNKNOWN_FORMAT) + "\n";

    struct Case {
        std::string name;
        std::vector<int64_t> zeroed;  // sectors
        int64_t kept;                 // sectors left after a cut
        std::string expected;
    };
    const int64_t last = sectors - 1;
    const std::vector<Case> cases = {
        {"intact", {}, sectors, udf(parts)},
        {"anchor at 256 zeroed: the last one leads", {256}, sectors, udf(parts - 1)},
        {"last anchor zeroed: the one at 256 leads", {last}, sectors, udf(parts - 1)},
        {"last sector cut off", {}, sectors - 1, udf(parts - 1)},
        {"both anchors zeroed: no UDF", {256, last}, sectors, none},
        {"root entry zeroed: no UDF", {at("udf entry  \\")}, sectors, none},
        {"file set descriptor zeroed: no file set, so no root",
         {at("FSD")},
         sectors,
         udf(parts - 3)},  // FSD, root entry, root folder
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> image(pristine.begin(), pristine.begin() + c.kept * 2048);
        for (int64_t s : c.zeroed) std::memset(SectorAt(image, s), 0, 2048);
        qorvex::test::WriteFile(dir / "damaged.img", image);
        EXPECT_EQ(RunWatched([&] { return Observe(dir / "damaged.img", 0, &intact); }), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace damaged
