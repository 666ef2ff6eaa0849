// Hostile UDF 2.x structures: a VAT pointing outside its partition, sparing tables that disagree or map in a
// loop, a metadata file that points into the metadata partition it makes, huge extended-attribute lengths,
// indirect entries in a loop. Each ends with a clear result, in bounded time and memory.
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
        {"sparing tables that agree on nothing: the later one, true", UdfMapping::Sparable,
         [](UdfImage &image) {
             const std::vector<uint32_t> &tables = image.layout.sparing_tables;
             WriteSparingTable(image.At(tables[0]), tables[0], 0, {{0, 8}});
         },
         "open 0" + files + " | SPARING TABLE (317) | SPARING TABLE (318)"},
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

}  // namespace
}  // namespace damaged
