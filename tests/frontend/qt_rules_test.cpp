// Core rules the windows rely on: the recent-file list and the destination field.
#include <gtest/gtest.h>

#include "dialog_rules.h"
#include "support/temp_dir.h"

namespace lumast::qt::test {
namespace {

TEST(RecentFileListTest, NewestFirstWithoutRepeatsAndAtMostEight) {
    qorvex::test::TempDir dir;
    IniProfile ini(dir / "lumast.INI");
    RecentFileList recent;
    for (int i = 0; i < 10; ++i) recent.Add("/images/" + std::to_string(i) + ".iso");
    recent.Add("/images/5.iso");
    recent.Add("");
    ASSERT_EQ(recent.Paths().size(), 8u);
    EXPECT_EQ(recent.Paths()[0], "/images/5.iso");
    EXPECT_EQ(recent.Paths()[1], "/images/9.iso");
    EXPECT_EQ(recent.Paths()[7], "/images/2.iso");
    recent.Remove(1);
    recent.Remove(99);
    recent.Write(ini);
    EXPECT_EQ(ini.GetString("Recent File List", "File2"), "/images/8.iso");
    EXPECT_EQ(ini.GetString("Recent File List", "File8"), "");

    // A hand-edited file with a repeat and a gap reads back without them.
    ini.WriteString("Recent File List", "File3", "/images/5.iso");
    RecentFileList again;
    again.Read(ini);
    EXPECT_EQ(again.Paths().size(), 6u);
    EXPECT_EQ(again.Paths()[0], "/images/5.iso");
    EXPECT_EQ(again.Paths()[2], "/images/6.iso");
}

TEST(DestinationRuleTest, EachKindDecidesFieldAndEditing) {
    const DestinationField documents = DestinationKindRule(0, "/data", "/home/u/Documents");
    EXPECT_FALSE(documents.editable);
    EXPECT_EQ(documents.folder, "/home/u/Documents");
    const DestinationField image = DestinationKindRule(1, "/data", "/home/u/Documents");
    EXPECT_FALSE(image.editable);
    EXPECT_EQ(image.folder, "");
    EXPECT_EQ(DestinationKindRule(2, "/data", "/home/u/Documents").folder, "/data");
    EXPECT_TRUE(DestinationKindRule(2, "", "/home/u/Documents").editable);
    EXPECT_EQ(DestinationKindRule(2, "", "/home/u/Documents").folder, "/home/u/Documents");
    EXPECT_EQ(DestinationKindRule(0, "/data", "").folder, "");
    EXPECT_EQ(InitialVolumeKind(1 | 2 | 4), 2);
    EXPECT_EQ(InitialVolumeKind(1 | 4), 4);
    EXPECT_EQ(InitialVolumeKind(0), 1);
}

}  // namespace
}  // namespace lumast::qt::test
