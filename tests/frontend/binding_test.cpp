#include <gtest/gtest.h>

#include "document.h"
#include "engine_binding.h"
#include "result.h"
#include "scripted_ui.h"
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

TEST(ReportResult, EveryCodeHasItsMessageSoundAndIcon) {
    struct Case {
        int32_t code;
        int id;
    } cases[] = {
        {RESULT_FINISHED, 10041},
        {ENGINE_ABORTED, 10042},
        {RESULT_CANCELLED, 10042},
        {RESULT_SKIPPED, 10042},
        {RESULT_NO_ENGINE, 10044},
        {RESULT_NOT_FOUND, 10046},
        {RESULT_PART_NOT_FOUND, 10047},
        {ENGINE_IMAGE_OPEN_FAILED, 10048},
        {ENGINE_IMAGE_CLOSE_FAILED, 10049},
        {ENGINE_SEEK_FAILED, 10050},
        {ENGINE_NO_CURRENT_ENTRY, 10050},
        {ENGINE_BAD_KIND, 10050},
        {ENGINE_READ_FAILED, 10051},
        {ENGINE_OUTPUT_OPEN_FAILED, 10052},
        {ENGINE_OUTPUT_CLOSE_FAILED, 10053},
        {ENGINE_WRITE_FAILED, 10054},
        {ENGINE_UNKNOWN_FORMAT, 10056},
        {RESULT_BAD_KIND, 10056},
        {RESULT_REFUSED_EXECUTABLE, 10058},
        {ENGINE_NO_DATA_TRACK, 10059},
        {ENGINE_EDC_MISMATCH, 10060},
        {ENGINE_BAD_TRACK, 10055},
        {0, 10055},
        {0x1234, 10055},
    };
    for (const Case &c : cases) {
        const ResultMessage m = MessageForResult(c.code);
        EXPECT_EQ(m.id, c.id) << std::hex << c.code;
        const bool information = c.id == 10041 || c.id == 10042;
        EXPECT_EQ(m.beep, information ? Beep::Default : Beep::Exclamation) << std::hex << c.code;
        EXPECT_EQ(m.icon, information ? BoxIcon::Information : BoxIcon::None) << std::hex << c.code;
    }
    ScriptedUi ui;
    ReportResult(ui, ENGINE_ABORTED);
    ReportResult(ui, RESULT_REFUSED_EXECUTABLE);
    ReportResult(ui, RESULT_NO_ENGINE);
    ReportResult(ui, ENGINE_UNKNOWN_FORMAT);
    ASSERT_EQ(ui.messages.size(), 4u);
    EXPECT_EQ(ui.messages[0], "中止します。");
    EXPECT_EQ(ui.messages[1], "念のため、拡張子が\n.com .exe. lnk .msi .msp .pif\nのファイルは実行しません。");
    EXPECT_EQ(ui.messages[2], "qorvex.dllが見つかりません。");
    EXPECT_EQ(ui.messages[3], "読み取れない形式のファイルです。");
}

TEST(EngineBinding, WithoutAnEngineEveryOperationReportsItsAbsence) {
    qorvex::test::TempDir dir;
    ScriptedUi ui;
    DocumentOptions options;
    options.library_path = STUB_VERSION39;
    options.temp_root = dir.path();
    CLumastDoc doc(ui, nullptr, options);
    CLumastView view(doc, ui);
    EXPECT_FALSE(doc.EngineLoaded());

    EXPECT_FALSE(doc.OnOpenDocument(dir / "image.iso"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "qorvex.dllが見つかりません。");
    EXPECT_TRUE(doc.ImagePath().empty());
    EXPECT_EQ(ui.summary, " イメージが選択されていません。");

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
