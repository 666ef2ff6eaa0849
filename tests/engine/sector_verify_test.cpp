// The checks and the P/Q repair of single stored sectors made by the raw builder (whose parity is computed
// codeword by codeword, apart from the engine's): which faults each kind of damage shows, and that a repair
// gives back exactly the clean sector or leaves the sector untouched.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "image/sector_format.h"
#include "qorvex_ext.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "verify/sector_check.h"

namespace qorvex::test {
namespace {

constexpr int32_t kLba = 4321;
constexpr uint32_t kEdcEcc = QORVEX_EX_SECTOR_EDC | QORVEX_EX_SECTOR_ECC;

struct Damage {
    const char *name;
    int32_t format;
    bool form2;
    std::function<void(std::vector<uint8_t> &)> apply;
    uint32_t faults;  // the QORVEX_EX_SECTOR_FAULTS bits expected
    bool correctable;
};

// Flips bytes at raw offsets.
std::function<void(std::vector<uint8_t> &)> Flip(std::vector<size_t> at) {
    return [at](std::vector<uint8_t> &s) {
        for (size_t i : at) s[i] ^= 0x5A;
    };
}

// (Several wrong symbols that one pass of P then Q mends, in Mode 1 and in Form 1: the random draw below. A clean
// Mode 1 sector, one wrong data byte, four that neither code can start on and a whole sector of another address:
// VerifyCliTest.ReportsDamageAndRepairsWhatParityCan.)
TEST(SectorVerifyTest, FaultsAndRepairOfEachKindOfDamage) {
    const std::vector<uint8_t> user = Pattern(2048, 7);
    const Damage cases[] = {
        {"one P parity byte", 3, false, Flip({2100}), QORVEX_EX_SECTOR_ECC, true},
        {"one Q parity byte", 3, false, Flip({2300}), QORVEX_EX_SECTOR_ECC, true},
        {"sync", 3, false, Flip({3}), QORVEX_EX_SECTOR_SYNC | QORVEX_EX_SECTOR_EDC, true},
        {"address byte (coded)", 3, false, Flip({14}), QORVEX_EX_SECTOR_ADDRESS | kEdcEcc, true},
        {"mode byte (coded)", 3, false, Flip({15}), QORVEX_EX_SECTOR_MODE | kEdcEcc, true},
        {"clean Form 1", 6, false, [](auto &) {}, 0, false},
        {"Form 1 data byte", 6, false, Flip({700}), kEdcEcc, true},
        // Form 1 parity codes the header as zeros: a wrong address cannot be mended.
        {"Form 1 address", 6, false, Flip({13}), QORVEX_EX_SECTOR_ADDRESS, false},
        {"Form 1 subheader copies differ", 6, false, Flip({20}), QORVEX_EX_SECTOR_MODE | kEdcEcc, true},
        {"Form 1 mode byte", 6, false, Flip({15}), QORVEX_EX_SECTOR_MODE, false},
        {"clean Form 2", 6, true, [](auto &) {}, 0, false},
        {"Form 2 data byte", 6, true, Flip({900}), QORVEX_EX_SECTOR_EDC, false},
        {"Form 2 sync only", 6, true, Flip({1}), QORVEX_EX_SECTOR_SYNC, true},
        {"Form 2 without EDC", 6, true,
         [](std::vector<uint8_t> &s) {
             for (size_t i = 2348; i < 2352; ++i) s[i] = 0;
             s[900] ^= 1;
         },
         0, false},
        {"2336-byte Form 1 data byte", 13, false, Flip({300}), kEdcEcc, true},
        {"blank Mode 0 gap sector", 3, false, [](std::vector<uint8_t> &s) { std::fill(s.begin() + 15, s.end(), 0); }, 0,
         false},
    };
    for (const Damage &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> clean = MakeSector(c.format, kLba, user.data(), c.form2);
        std::vector<uint8_t> damaged = clean;
        c.apply(damaged);
        const RawLayout layout = GetRawLayout(c.format);
        std::vector<uint8_t> checked = damaged;
        const uint32_t status = CheckRawSector(layout, checked.data(), kLba, false);
        EXPECT_EQ(status & QORVEX_EX_SECTOR_FAULTS, c.faults);
        EXPECT_EQ((status & QORVEX_EX_SECTOR_CORRECTABLE) != 0, c.correctable);
        EXPECT_TRUE(checked == damaged) << "a check without repair changed the sector";

        const uint32_t repaired = CheckRawSector(layout, checked.data(), kLba, true);
        EXPECT_EQ((repaired & QORVEX_EX_SECTOR_CORRECTED) != 0, c.correctable);
        if (c.correctable)
            EXPECT_TRUE(checked == clean);
        else
            EXPECT_TRUE(checked == damaged);
    }
}

TEST(SectorVerifyTest, SubchannelQChecksEitherLayout) {
    const RawLayout layout = GetRawLayout(15);  // MODE1/2448
    for (bool interleaved : {false, true}) {
        std::vector<uint8_t> s = MakeSector(15, kLba, Pattern(2048, 3).data());
        PutSubchannelQ(s.data() + 2352, kLba, interleaved);
        EXPECT_EQ(CheckRawSector(layout, s.data(), kLba, false), 0u) << interleaved;
        s[2352 + (interleaved ? 40 : 17)] ^= 0x40;
        EXPECT_EQ(CheckRawSector(layout, s.data(), kLba, false), QORVEX_EX_SECTOR_SUBCHANNEL) << interleaved;
    }
}

// Which errors one pass of P then Q corrects, reckoned from where the codewords run (ECMA-130 Annex A), not by
// decoding: P fixes a column holding one wrong byte, then Q a diagonal holding one of those left.
bool OnePassCorrects(const std::vector<size_t> &covered) {
    std::map<size_t, int> per_column, per_diagonal;
    for (size_t b : covered)
        if (b < 2236) ++per_column[b % 86];
    std::vector<size_t> left;
    for (size_t b : covered)
        if (b >= 2236 || per_column[b % 86] > 1) left.push_back(b);
    const auto diagonal = [](size_t b) {
        if (b >= 2236) return (b - 2236) % 52;
        const size_t word = b / 2, row = word / 43, column = word % 43;
        return 2 * ((row + 26 - column) % 26) + b % 2;
    };
    for (size_t b : left) ++per_diagonal[diagonal(b)];
    for (size_t b : left)
        if (per_diagonal[diagonal(b)] > 1) return false;
    return true;
}

TEST(SectorVerifyTest, EveryErrorPatternOnePassOfPThenQCorrectsIsCorrected) {
    std::mt19937 random(27);
    int multi = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t format = trial % 2 ? 3 : 6;
        const std::vector<uint8_t> clean = MakeSector(format, kLba, Pattern(2048, trial).data());
        std::vector<size_t> covered;
        const size_t first = format == 3 ? 0 : 4;  // Form 1: the header is not coded
        const int errors = 1 + static_cast<int>(random() % 12);
        while (covered.size() < static_cast<size_t>(errors)) {
            const size_t b = first + random() % (2340 - first);
            if (std::find(covered.begin(), covered.end(), b) == covered.end()) covered.push_back(b);
        }
        if (!OnePassCorrects(covered)) continue;
        multi += errors > 1;
        std::vector<uint8_t> s = clean;
        for (size_t b : covered) s[12 + b] ^= static_cast<uint8_t>(1 + random() % 255);
        const uint32_t status = CheckRawSector(GetRawLayout(format), s.data(), kLba, true);
        std::string where;
        for (size_t b : covered) where += " " + std::to_string(b);
        EXPECT_TRUE(status & QORVEX_EX_SECTOR_CORRECTED)
            << "trial " << trial << ", errors at" << where << ", status " << status;
        EXPECT_TRUE(s == clean) << "trial " << trial;
    }
    EXPECT_GT(multi, 100);  // the draw reaches patterns that need both codes
}

}  // namespace
}  // namespace qorvex::test
