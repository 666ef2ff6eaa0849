// 検証 of the desktop: the scan behind the progress dialog and the Japanese summary per track, on a raw image
// with a correctable and an uncorrectable sector, and on a plain 2048-byte image with nothing to check.
#include <gtest/gtest.h>

#include "string_table.h"
#include "text_format.h"
#include "support/harness/scripted_ui.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "verify_summary.h"

namespace lumast::test {
namespace {

TEST(VerifySummaryTest, ShowsEachTracksCountsAndDamageBehindTheProgressDialog) {
    Desk desk;
    const std::vector<uint8_t> iso =
        qorvex::test::BuildIso({qorvex::test::File("DATA.BIN;1", qorvex::test::Pattern(100000, 2))}).bytes;
    std::vector<uint8_t> raw = qorvex::test::WrapSectors(iso, 3);
    raw[20 * 2352 + 900] ^= 1;
    for (size_t at : {12 + 3 * 86, 12 + 8 * 86, 12 + 4 * 86 + 2, 12 + 9 * 86 + 2}) raw[30 * 2352 + at] ^= 0x42;
    const int64_t sectors = static_cast<int64_t>(raw.size() / 2352);

    const std::string summary = RunVerify(desk.ui, desk.library, desk.Image("r.bin", raw), OPEN_EXTENSIONS);
    EXPECT_NE(summary.find(Format(LoadString(IDS_VERIFY_TRACK), 1, "MODE1/2352", GroupedNumber(sectors).c_str(),
                                  GroupedNumber(sectors - 2).c_str(), "2", "2", "1", "0", "0", "0")),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("損傷セクタ 20: EDC, ECC (訂正可能)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("損傷セクタ 30: EDC, ECC\n"), std::string::npos);
    EXPECT_EQ(summary.substr(summary.rfind('\n') + 1), LoadString(IDS_VERIFY_BAD));
    ASSERT_EQ(desk.ui.begun.size(), 1u);
    EXPECT_NE(desk.ui.begun[0].find("検証中"), std::string::npos);
    ASSERT_FALSE(desk.ui.messages.empty());
    EXPECT_EQ(desk.ui.messages.back(), summary);

    const std::string plain = RunVerify(desk.ui, desk.library, desk.Image("p.iso", iso), OPEN_EXTENSIONS);
    EXPECT_NE(plain.find(LoadString(IDS_VERIFY_UNCHECKED)), std::string::npos) << plain;
    EXPECT_EQ(plain.substr(plain.rfind('\n') + 1), LoadString(IDS_VERIFY_GOOD));
}

}  // namespace
}  // namespace lumast::test
