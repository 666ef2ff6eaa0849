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
    struct Case {
        int kind;
        const char *folder, *documents;
        bool editable;
        const char *shown;
    } cases[] = {
        {0, "/data", "/home/u/Documents", false, "/home/u/Documents"},
        {0, "/data", "", false, ""},                   // no documents folder known
        {1, "/data", "/home/u/Documents", false, ""},  // the image's folder, taken when extracting
        {2, "/data", "/home/u/Documents", true, "/data"},
        {2, "", "/home/u/Documents", true, "/home/u/Documents"},
    };
    for (const Case &c : cases) {
        const DestinationField field = DestinationKindRule(c.kind, c.folder, c.documents);
        EXPECT_EQ(field.editable, c.editable) << c.kind << " " << c.folder;
        EXPECT_EQ(field.folder, c.shown) << c.kind << " " << c.folder;
    }
    EXPECT_EQ(InitialVolumeKind(1 | 2 | 4), 2);
    EXPECT_EQ(InitialVolumeKind(1 | 4), 4);
    EXPECT_EQ(InitialVolumeKind(0), 1);
}

TEST(FilterResourceTest, EveryChoiceKeepsItsTextAndItsOwnPatterns) {
    const std::vector<NameFilter> filters = ParseFilterResource(
        "イメージファイル (*.img, *.iso)|*.iso;*.img;*.bin;|全てのファイル (*.*)|*.*||ignored|*.x|");
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].text, "イメージファイル (*.img, *.iso)");
    EXPECT_EQ(filters[0].patterns, "*.iso *.img *.bin");
    EXPECT_EQ(filters[1].patterns, "*") << "*.* means every file, with or without an extension";

    const std::vector<NameFilter> extended = ParseFilterResource(OpenFilterResource(true));
    ASSERT_EQ(extended.size(), 2u);
    EXPECT_EQ(extended[0].text,
              "イメージファイル (*.iso, *.img, *.bin, *.cue, *.toc, *.ccd, *.nrg, *.mds, *.mdf, *.cdi, *.ecm, *.isz, *.chd)");
    EXPECT_EQ(extended[0].patterns, "*.iso *.img *.bin *.cue *.toc *.ccd *.nrg *.mds *.mdf *.cdi *.ecm *.isz *.chd");
    EXPECT_EQ(extended[1].text, "全てのファイル (*)");
}

}  // namespace
}  // namespace lumast::qt::test
