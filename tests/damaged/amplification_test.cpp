// Structures that cost little on disc but much in memory: many identifiers naming one file entry of many
// extents, under long folder names. What the engine keeps must stay within the budget of the open image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qorvex_ext.h"
#include "support/harness/damage_harness.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace damaged {
namespace {

using namespace qorvex::test;

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
