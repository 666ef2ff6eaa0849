// The dialogs and the track list bar as real widgets.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <filesystem>
#include <tuple>

#include "qorvex_version.h"
#include "support/harness/qt_harness.h"
#include "support/iso_builder.h"
#include "track_list_bar.h"

namespace lumast::qt::test {
namespace {

namespace fs = std::filesystem;

TEST(ProgressDialogTest, RefreshesEvery512CallsOrAtTheEndAndOnlyTheWorkerCloses) {
    ProgressDialog dialog({}, "Sans", nullptr);
    dialog.show();
    const int width = dialog.BarWidth();
    ASSERT_GT(width, 0);
    EXPECT_EQ(dialog.Bar(1008)->maximum(), width);
    // The file's name, its bytes, its percentage and the whole's, and the file's bar, once the events are through.
    using Shown = std::tuple<std::string, std::string, std::string, std::string, int>;
    auto shown = [&] {
        QApplication::processEvents();
        auto text = [&](int id) { return dialog.Label(id)->text().toStdString(); };
        return Shown(text(1009), text(1011), text(1013), text(1014), dialog.Bar(1008)->value());
    };
    EXPECT_EQ(shown(), Shown("", "", "", "", 0));  // empty until the first file begins

    dialog.BeginFile("DOCS/GUIDE.TXT", 1000000, 4000000);
    EXPECT_EQ(shown(), Shown("DOCS/GUIDE.TXT", "0 / 1,000,000 BYTE", "0%", "0%", 0));
    for (int i = 0; i < 511; ++i) dialog.Advance(1000);
    EXPECT_EQ(shown(), Shown("DOCS/GUIDE.TXT", "0 / 1,000,000 BYTE", "0%", "0%", 0));
    dialog.Advance(1000);
    EXPECT_EQ(shown(), Shown("DOCS/GUIDE.TXT", "512,000 / 1,000,000 BYTE", "51%", "12%",
                             static_cast<int>(int64_t(width) * 512000 / 1000000)));

    // The file's last bytes refresh at once; the overall bar runs on across files.
    dialog.Advance(488000);
    EXPECT_EQ(shown(), Shown("DOCS/GUIDE.TXT", "1,000,000 / 1,000,000 BYTE", "100%", "25%", width));
    dialog.BeginFile("EMPTY.TXT", 0, 4000000);
    EXPECT_EQ(shown(), Shown("EMPTY.TXT", "0 / 0 BYTE", "0%", "25%", 0));
    // A zero-byte file is complete at its first refresh.
    dialog.Advance(0);
    EXPECT_EQ(shown(), Shown("EMPTY.TXT", "0 / 0 BYTE", "100%", "25%", width));

    // 中止 only raises the flag, which the next advance returns; only the worker closes the dialog.
    EXPECT_EQ(dialog.Advance(1), 0);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.AbortFlag(), 0);
    dialog.AbortButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Advance(1), 1);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    dialog.CloseFromWorker();
    QApplication::processEvents();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(ProgressDialogTest, WorkerRunsBehindTheModalDialogUntilItClosesIt) {
    QtUi ui;
    std::atomic<int> seen_abort{-1};
    bool worker_on_gui = true;
    ui.RunOperation([&] {
        worker_on_gui = QThread::currentThread() == qApp->thread();
        ui.ProgressBeginFile("X", 10, 10);
        seen_abort = ui.ProgressAdvance(10);
        ui.ProgressClose();
    });
    EXPECT_FALSE(worker_on_gui);
    EXPECT_EQ(seen_abort, 0);
    EXPECT_EQ(ui.Progress(), nullptr);
    // Outside an operation the relays do nothing.
    EXPECT_EQ(ui.ProgressAdvance(5), 0);
}

TEST(OverwriteDialogTest, MessageButtonsDefaultAndEscape) {
    OverwriteDialog dialog("/tmp/out/README.TXT", "Sans", nullptr);
    EXPECT_EQ(dialog.Message().toStdString(),
              "ファイル\n\n\"/tmp/out/README.TXT\"\n\nは既に存在します。上書きしますか？");
    EXPECT_TRUE(dialog.Button(OVERWRITE_SKIP)->isDefault());
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), OVERWRITE_ABORT);
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), OVERWRITE_SKIP);
}

TEST(VolumeInfoDialogTest, RadioButtonsFollowThePresentFileSystems) {
    Program p;
    DialogWatcher watcher;
    // ISO 9660 only.
    qorvex::test::WriteFile(p.dir / "iso.iso", qorvex::test::BuildIso({qorvex::test::File("A.TXT;1", "a")}).bytes);
    ASSERT_TRUE(p.frame->OpenDocument(QString::fromStdString(p.dir / "iso.iso")));
    {
        VolumeInfoDialog dialog(&p.Doc(), p.app->FontFace(), nullptr);
        EXPECT_TRUE(dialog.Radio(1)->isChecked());
        for (int kind : {1, 2, 4}) EXPECT_EQ(dialog.Radio(kind)->isEnabled(), kind == 1) << kind;
        EXPECT_GT(dialog.List()->topLevelItemCount(), 0);
    }
    if (!qorvex::test::HaveProgram("genisoimage")) GTEST_SKIP() << "genisoimage missing";
    ASSERT_TRUE(p.frame->OpenDocument(QString::fromStdString(MakeImage(p.dir, "b.iso", true))));
    VolumeInfoDialog dialog(&p.Doc(), p.app->FontFace(), nullptr);
    dialog.show();
    EXPECT_TRUE(dialog.Radio(2)->isChecked());
    for (int kind : {1, 2, 4}) EXPECT_TRUE(dialog.Radio(kind)->isEnabled());
    auto data_of = [&](const std::string &name) {
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
            if (dialog.List()->topLevelItem(i)->text(0).toStdString() == name)
                return dialog.List()->topLevelItem(i)->text(1).toStdString();
        return std::string("<none>");
    };
    EXPECT_EQ(data_of("作成システム名："), "<none>");
    QTest::mouseClick(dialog.Radio(4), Qt::LeftButton);
    EXPECT_EQ(dialog.Shown(), 4);
    EXPECT_EQ(data_of("作成システム名："), "*genisoimage") << "padded with NUL, shown without";

    // Without a document nothing is offered.
    VolumeInfoDialog empty(nullptr, p.app->FontFace(), nullptr);
    EXPECT_EQ(empty.List()->topLevelItemCount(), 0);
    for (int kind : {1, 2, 4}) EXPECT_FALSE(empty.Radio(kind)->isEnabled());
}

TEST(DestinationDialogTest, KindRuleBrowseAndStoredValues) {
    Program p;
    DialogWatcher watcher;
    const std::string documents = p.ui.DocumentsFolder();
    DestinationDialog dialog({2, "/data/out", 0, 1}, p.ui, p.app->FontFace(), nullptr);
    dialog.show();
    EXPECT_EQ(dialog.Folder()->text().toStdString(), "/data/out");
    EXPECT_TRUE(dialog.Folder()->isEnabled());
    EXPECT_TRUE(dialog.VolumeFolder()->isChecked());

    // Up to "イメージファイルと同じ場所": emptied and disabled.
    QTest::keyClick(dialog.Combo(), Qt::Key_Up);
    EXPECT_EQ(dialog.Combo()->currentData().toInt(), 1);
    EXPECT_EQ(dialog.Folder()->text().toStdString(), "");
    EXPECT_FALSE(dialog.Folder()->isEnabled());
    EXPECT_FALSE(dialog.Browse()->isEnabled());
    // Back to "下に指定したフォルダ": the documents folder fills the empty field.
    QTest::keyClick(dialog.Combo(), Qt::Key_Down);
    EXPECT_EQ(dialog.Folder()->text().toStdString(), documents);
    EXPECT_TRUE(dialog.Browse()->isEnabled());

    // Browse puts the chosen folder in the field.
    watcher.folder = p.dir.path();
    dialog.Browse()->click();
    EXPECT_EQ(fs::path(dialog.Folder()->text().toStdString()), fs::path(p.dir.path()));
    dialog.Always()->setChecked(true);
    const DestinationSettings v = dialog.Values();
    EXPECT_EQ(std::make_tuple(v.initial_path_type, fs::path(v.appoint_path), v.no_select_dialog, v.add_volume_label),
              std::make_tuple(2, fs::path(p.dir.path()), 1, 1));
}

TEST(TrackListBarTest, SignedTimesSelectionAndEmptyClicks) {
    Program p;
    // A MODE1/2048 track with a held pregap, then an audio track: format, first held, start, end held, user size,
    // session, track.
    const TrackInfo data{9, -150, 0, 4500 * 75 + 1, 0, 1, 1, {}, {}};
    const TrackInfo audio{0, 10, 160, 4500 * 75 + 1, 0, 1, 2, {}, {}};
    TrackListBar &bar = *p.frame->TrackBar();
    bar.Fill({data, audio}, 1);
    QTreeWidget *list = bar.List();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(6).toStdString(), "75:00:01");
    EXPECT_EQ(list->topLevelItem(1)->text(3).toStdString(), "AUDIO");
    EXPECT_EQ(list->topLevelItem(1)->text(1).toStdString(), "01");
    EXPECT_TRUE(list->topLevelItem(1)->isSelected());
    // Filling does not move the document's track.
    EXPECT_EQ(p.Doc().CurrentTrack(), -1);
    bar.Fill({data, audio}, -1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(bar.BuildContextMenu(-1), nullptr);
    std::unique_ptr<QMenu> menu(bar.BuildContextMenu(0));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->data().toInt(), ID_EXTRACT_TRACK);
}

TEST(QtTranslationTest, QtsOwnDialogsSpeakJapanese) {
    if (!InstallQtTranslation()) GTEST_SKIP() << "qtbase_ja.qm is not installed (qt6-translations-l10n)";
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto *look_in = dialog.findChild<QLabel *>("lookInLabel");
    ASSERT_NE(look_in, nullptr);
    EXPECT_NE(look_in->text(), "Look in:");
    EXPECT_EQ(QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(), "キャンセル");
}

TEST(AboutDialogTest, NameAndVersion) {
    AboutDialog dialog("Sans", nullptr);
    std::vector<std::string> texts;
    for (QLabel *label : dialog.findChildren<QLabel *>()) texts.push_back(label->text().toStdString());
    for (const std::string want : {"ぽてりこ", "Version 0.100", "lumast " QORVEX_VERSION_STRING})
        EXPECT_NE(std::find(texts.begin(), texts.end(), want), texts.end()) << want;
    EXPECT_EQ(dialog.font().family().toStdString(), "Sans");
}

}  // namespace
}  // namespace lumast::qt::test
