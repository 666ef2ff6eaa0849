// Hostile UDF 2.x structures: a VAT pointing outside its partition, sparing tables that disagree or map in a
// loop, a metadata file that points into the metadata partition it makes, huge extended-attribute lengths,
// indirect entries in a loop. Each ends with a clear result, in bounded time and memory. And structures that cost
// little on disc but much in memory: many identifiers naming one file entry of many extents, under long folder
// names. What the engine keeps must stay within the budget of the open image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qorvex_ext.h"
#include "support/harness/damage_harness.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace damaged {
namespace {

using namespace qorvex::test;

UdfOptions Tree(UdfMapping mapping) {
    UdfOptions o;
    o.mapping = mapping;
    o.all_extended = true;
    if (mapping == UdfMapping::Sparable) o.partition_start = 320;
    o.root.children = {UdfFileNode("A.TXT", "hello"),
                       UdfDirNode("DOCS", {UdfFileNode("B.TXT", std::string(5000, 'b'))})};
    return o;
}

// The open result, the counts of files and parts, the names of the new kinds of part and every file's
// extraction result, computed in a bounded child.
std::string Outcome(const std::string &path) {
    return WithOpen(path, OPEN_UDF_2X, [&](QorvexHandle h) {
        std::string out = "open 0";
        ForEach(h, KIND_UDF, false, [&](const EntryInfo &e) {
            if (e.extent_index == 0)
                out += std::string(" | ") + e.name + " " +
                       std::to_string(QorvexExtractCurrentFile2(h, (path + ".out").c_str(), 0));
        });
        ForEach(h, KIND_UDF, true, [&](const EntryInfo &e) {
            if (e.kind >= 62 && e.kind <= 69) out += std::string(" | ") + e.name;
        });
        return out;
    });
}

// Edits the descriptor at `sector` and makes its tag whole again.
void Edit(UdfImage &image, uint32_t sector, const std::function<void(uint8_t *)> &edit) {
    edit(image.At(sector));
    RecomputeCrc(image.At(sector));
}

// Turns the first short_ad of a metadata (mirror) file entry into the only long_ad, of partition reference 1:
// the metadata partition itself.
void PointIntoMetadata(uint8_t *fe) {
    std::memset(fe + 216 + 8, 0, 8);
    Put16Le(fe + 216 + 8, 1);
    Put16Le(fe + 34, 1);
    Put32Le(fe + 212, 16);
    Put16Le(fe + 10, 216 + 16 - 16);
}

TEST(Udf2xHostile, EndsWithAClearResult) {
    TempDir dir;
    const std::string none = "open " + Code(ENGINE_UNKNOWN_FORMAT);
    const std::string files = " | \\A.TXT 0 | \\DOCS\\B.TXT 0";
    struct Case {
        const char *name;
        UdfMapping mapping;
        std::function<void(UdfImage &)> damage;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // The root is virtual block 2 (after the file set and its terminator).
        {"VAT entry of the root outside the partition", UdfMapping::Virtual,
         [](UdfImage &image) {
             Edit(image, image.layout.vat_icb, [](uint8_t *vat) { Put32Le(vat + 216 + 152 + 4 * 2, 0x7FFFFFF0); });
         },
         none},
        {"VAT with a header longer than its data", UdfMapping::Virtual,
         [](UdfImage &image) { Edit(image, image.layout.vat_icb, [](uint8_t *vat) { Put16Le(vat + 216, 0xFFFF); }); },
         none},
        {"VAT entry with an information length of 4 GiB", UdfMapping::Virtual,
         [](UdfImage &image) { Edit(image, image.layout.vat_icb, [](uint8_t *vat) { Put32Le(vat + 60, 1); }); }, none},
        // A file set that cannot be read leaves a volume without files (as described for a zeroed one).
        {"sparing tables that disagree: the later sequence holds", UdfMapping::Sparable,
         [](UdfImage &image) {
             // The first table (sequence 1) keeps the true map; the second (sequence 2) sends the packet of
             // the file set elsewhere, into rubbish.
             const std::vector<uint32_t> &tables = image.layout.sparing_tables;
             WriteSparingTable(image.At(tables[1]), tables[1], 2, {{0, 8}});
         },
         "open 0 | SPARING TABLE (317) | SPARING TABLE (318)"},
        {"sparing tables that map in a loop", UdfMapping::Sparable,
         [](UdfImage &image) {
             // Packet 0 to where packet 32 lies and packet 32 to where packet 0 lies, in both tables.
             const uint32_t p = image.layout.partition_start;
             for (uint32_t at : image.layout.sparing_tables)
                 WriteSparingTable(image.At(at), at, 1, {{0, p + 32}, {32, p}});
         },
         "open 0 | SPARING TABLE (317) | SPARING TABLE (318)"},
        {"metadata file pointing into the metadata partition: the mirror stands in", UdfMapping::Metadata,
         [](UdfImage &image) { Edit(image, image.layout.metadata_file, [](uint8_t *fe) { PointIntoMetadata(fe); }); },
         "open 0" + files + " | METADATA MIRROR | METADATA BITMAP"},
        {"metadata file and mirror both pointing into the metadata partition", UdfMapping::Metadata,
         [](UdfImage &image) {
             for (uint32_t at : {image.layout.metadata_file, image.layout.metadata_mirror})
                 Edit(image, at, [](uint8_t *fe) { PointIntoMetadata(fe); });
         },
         none},
        {"extended file entry with a huge extended-attribute length", UdfMapping::Physical,
         [](UdfImage &image) {
             Edit(image, image.layout.files.at("\\A.TXT").fe_sector,
                  [](uint8_t *fe) { Put32Le(fe + 208, 0xFFFFFFF0); });
         },
         "open 0 | \\DOCS\\B.TXT 0"},
        // The folder's entry lies in the metadata partition: damaged in the main copy and the mirror's.
        {"folder entry with a huge extended-attribute length", UdfMapping::Metadata,
         [](UdfImage &image) {
             const uint32_t fe = image.layout.files.at("\\DOCS\\").fe_sector;
             const uint32_t block = fe - image.layout.metadata_extents[0][0];
             for (uint32_t at : {fe, image.layout.mirror_data + block})
                 Edit(image, at, [](uint8_t *e) { Put32Le(e + 208, 0xFFFFFFF0); });
         },
         "open 0 | \\A.TXT 0 | METADATA FILE | METADATA FILE | METADATA MIRROR | METADATA BITMAP"},
        {"strategy 4096 entry whose indirect entry names itself", UdfMapping::Physical,
         [](UdfImage &image) {
             const uint32_t fe = image.layout.files.at("\\A.TXT").fe_sector;
             const uint32_t p = image.layout.partition_start;
             Edit(image, fe, [](uint8_t *e) { Put16Le(e + 20, 4096); });
             // The block after the entry (its data) becomes an indirect entry back to itself.
             uint8_t *ie = image.At(fe + 1);
             std::memset(ie, 0, 2048);
             Put16Le(ie + 20, 4096);
             Put32Le(ie + 36, 2048);
             Put32Le(ie + 40, fe + 1 - p);
             FinishTag(ie, 259, fe + 1 - p, 52);
         },
         "open 0 | \\A.TXT 0 | \\DOCS\\B.TXT 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UdfImage image = BuildUdf(Tree(c.mapping));
        c.damage(image);
        WriteFile(dir / "hostile.img", image.bytes);
        EXPECT_EQ(RunWatched([&] { return Outcome(dir / "hostile.img"); }), c.expected);
    }
}

// The budget the engine states for an image of `bytes` (qorvex_ext.h), as resident memory: under
// AddressSanitizer every allocation carries redzones and freed blocks wait in quarantine, which about doubles
// what the same entries take.
long BudgetKib(uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kOverhead = 2;
#else
    constexpr long kOverhead = 1;
#endif
    return kOverhead * static_cast<long>((64ull << 20) / 1024 + 16 * bytes / 1024);
}

// Writes `count` identifiers of 200-byte names, all naming the file entry at partition block `target`.
uint32_t WriteIdentifiers(UdfImage &image, uint32_t first_sector, uint32_t partition_start, uint32_t target,
                          int count) {
    constexpr size_t kNameBytes = 201;  // compression id + 200 characters
    constexpr size_t kLength = (38 + kNameBytes + 3) & ~size_t(3);
    uint64_t at = uint64_t(first_sector) * 2048;
    for (int i = 0; i < count; ++i, at += kLength) {
        uint8_t *fid = image.At(static_cast<uint32_t>(at / 2048 + 1)) - 2048 + at % 2048;  // grows the image
        std::memset(fid, 0, kLength);
        fid[16] = 1;                // file version number
        fid[19] = kNameBytes;       // length of the identifier
        Put32Le(fid + 20, 2048);    // ICB: one block ...
        Put32Le(fid + 24, target);  // ... at the shared file entry, partition reference 0
        fid[38] = 8;
        std::string name = std::to_string(i);
        name.resize(kNameBytes - 1, 'n');
        std::memcpy(fid + 39, name.data(), name.size());
        FinishTag(fid, 257, static_cast<uint32_t>(at / 2048 - partition_start), kLength);
    }
    return static_cast<uint32_t>(count * kLength);
}

TEST(Amplification, ManyNamesOfOneFileOfManyExtentsStayWithinTheBudget) {
    TempDir dir;
    UdfOptions o;
    UdfNode big = UdfFileNode("BIG", std::string(200 * 2048, 'b'));
    big.extents = 200;
    o.root.children = {big, UdfDirNode(std::string(200, 'D'), {UdfFileNode("X", "x")})};
    const std::string folder = "\\" + std::string(200, 'D') + "\\";
    constexpr int kIdentifiers = 8000;
    const uint32_t fid_sectors = (kIdentifiers * 240 + 2047) / 2048;

    const uint32_t data_end = BuildUdf(o).layout.files.at(folder + "X").extents.at(0)[0] + 1;
    o.min_sectors = data_end + fid_sectors + 300;  // room before the anchors at the end
    UdfImage image = BuildUdf(o);
    const uint32_t p = image.layout.partition_start;
    const uint32_t length =
        WriteIdentifiers(image, data_end, p, image.layout.files.at("\\BIG").fe_sector - p, kIdentifiers);
    // The folder's one allocation descriptor now names the identifiers.
    uint8_t *fe = image.At(image.layout.files.at(folder).fe_sector);
    Put32Le(fe + 56, length);  // information length
    Put32Le(fe + 176, length);
    Put32Le(fe + 180, data_end - p);
    RecomputeCrc(fe);
    ASSERT_LT(data_end + fid_sectors, image.layout.anchor_last256);
    WriteFile(dir / "amplified.img", image.bytes);

    const Bounded run = RunBounded([&] { return OpenResult(dir / "amplified.img", 0); });
    ASSERT_TRUE(run.finished) << run.what;
    // 8000 names x 200 extents: far more than the budget, so the open fails clearly instead of growing.
    EXPECT_EQ(run.what, "open " + Code(ENGINE_TOO_LARGE));
    EXPECT_LT(run.peak_kib, BudgetKib(image.bytes.size()) + 64 * 1024);
}

}  // namespace
}  // namespace damaged
