#include <dlfcn.h>

#include <gtest/gtest.h>
#include <iterator>

#include "document.h"
#include "engine_binding.h"
#include "result.h"
#include "support/harness/scripted_ui.h"
#include "support/temp_dir.h"
#include "view.h"

namespace lumast::test {
namespace {

TEST(EngineBinding, AcceptsTheRealEngineAndVersionFortyRejectsOthers) {
    struct Case {
        const char *path;
        bool accepted;
    } cases[] = {
        {nullptr, true},                       // the built engine
        {STUB_VERSION40, true},                // the lowest version accepted
        {STUB_VERSION39, false},               // too old
        {STUB_NO_QORVEX, false},               // the bare export is required although never called
        {STUB_NO_TRACK_INFO, false},           // any of the sixteen names missing
        {STUB_NO_EXTRACT_CURRENT_FILE, true},  // not part of the table
        {"/nonexistent/libqorvex.so", false},
    };
    for (const Case &c : cases) {
        EngineBinding binding;
        const std::string path = c.path ? c.path : EngineLibrary();
        EXPECT_EQ(binding.Load(path), c.accepted) << path;
        EXPECT_EQ(binding.Loaded(), c.accepted) << path;
        EXPECT_EQ(binding.Table().GetTrackInfo != nullptr, c.accepted) << path;
    }
}

TEST(ReportResult, InformationForTheEndsOfAnOperationAWarningForEverythingElse) {
    struct Case {
        int32_t code;
        const char *text;
        bool information;
    } cases[] = {
        {RESULT_FINISHED, "解凍が終了しました。", true},
        {ENGINE_ABORTED, "中止します。", true},  // "中止" in the progress dialog: no error
        {ENGINE_NO_CURRENT_ENTRY, "イメージファイルの走査に失敗しました。", false},
        {ENGINE_BAD_TRACK, "不明なエラーです", false},  // a code the table does not know
    };
    ScriptedUi ui;
    for (const Case &c : cases) ReportResult(ui, c.code);
    ASSERT_EQ(ui.Boxes().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &box = ui.Boxes()[i];
        EXPECT_EQ(box.text, cases[i].text) << std::hex << cases[i].code;
        EXPECT_EQ(box.beep, cases[i].information ? Beep::Default : Beep::Exclamation) << std::hex << cases[i].code;
        EXPECT_EQ(box.icon, cases[i].information ? BoxIcon::Information : BoxIcon::None) << std::hex << cases[i].code;
    }
}

// The options word the engine is opened with: the stored word, plus the extended formats while they are on.
TEST(EngineBinding, ExtendedFormatsAreAddedToTheStoredOptionsWhileSwitchedOn) {
    void *stub = dlopen(STUB_RECORD_OPTIONS, RTLD_NOW);
    ASSERT_NE(stub, nullptr);
    const auto *last_options = static_cast<const uint32_t *>(dlsym(stub, "stub_last_options"));
    ASSERT_NE(last_options, nullptr);
    qorvex::test::TempDir dir;
    ScriptedUi ui;
    IniProfile ini(dir / "lumast.INI");
    ini.WriteInt("Option", "options", OPEN_CHECK_EDC);
    DocumentOptions options;
    options.library_path = STUB_RECORD_OPTIONS;
    options.temp_root = dir.path();
    {
        CLumastDoc doc(ui, &ini, options);
        EXPECT_TRUE(doc.IsChecked(ID_EXTENSIONS)) << "on by default";
        doc.OpenImage(dir / "image.iso");
        EXPECT_EQ(*last_options, OPEN_CHECK_EDC | OPEN_EXTENSIONS);
        doc.OnCommand(ID_EXTENSIONS);
        EXPECT_FALSE(doc.IsEnabled(ID_SHOW_ROCKRIDGE_FILES));
        doc.OpenImage(dir / "image.iso");
        EXPECT_EQ(*last_options, uint32_t(OPEN_CHECK_EDC));
    }
    EXPECT_EQ(ini.GetInt("Option", "Extensions", -1), 0);
    EXPECT_EQ(ini.GetInt("Option", "options", -1), OPEN_CHECK_EDC) << "the stored word never holds them";
    dlclose(stub);
}

TEST(EngineBinding, WithoutAnEngineEveryOperationReportsItsAbsence) {
    Desk d(false, STUB_VERSION39);
    CLumastDoc &doc = *d.doc;
    const qorvex::test::TempDir &dir = d.dir;
    EXPECT_FALSE(doc.EngineLoaded());

    EXPECT_FALSE(doc.OnOpenDocument(dir / "image.iso"));
    ASSERT_EQ(d.ui.messages.size(), 1u);
    EXPECT_EQ(d.ui.messages[0], "qorvex.dllが見つかりません。");
    EXPECT_TRUE(doc.ImagePath().empty());
    EXPECT_EQ(d.ui.summary, " イメージが選択されていません。");

    FileRow row;
    row.name = "\\A.TXT;1";
    EXPECT_EQ(doc.OpenImage(dir / "image.iso"), RESULT_NO_ENGINE);
    EXPECT_EQ(doc.ExtractAll(dir.path()), RESULT_NO_ENGINE);
    EXPECT_EQ(doc.ExtractRows(dir.path() + "/", {row}), RESULT_NO_ENGINE);
    EXPECT_EQ(doc.ExtractWholeFile(dir.path() + "/", row), RESULT_NO_ENGINE);
    EXPECT_EQ(doc.ExtractCurrentTrack(dir / "t.bin", 0), RESULT_NO_ENGINE);
    EXPECT_EQ(doc.OpenFromImage(row, {}, false), RESULT_NO_ENGINE);
    EXPECT_TRUE(doc.FillVolumeInfo(KIND_ISO9660).empty());
    EXPECT_EQ(doc.GetPresentFileSystems(), 0);
}

}  // namespace
}  // namespace lumast::test
