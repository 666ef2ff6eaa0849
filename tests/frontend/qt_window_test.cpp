// The main window with real widgets: opening, the list, sorting, context menus, extraction and settings.
#include <gtest/gtest.h>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "browse_pane.h"
#include "file_list_view.h"
#include "resources.h"
#include "string_table.h"
#include "support/harness/qt_harness.h"
#include "support/iso_builder.h"
#include "track_list_bar.h"
#include "verify_summary.h"

namespace lumast::qt::test {

namespace {

namespace fs = std::filesystem;
using qorvex::test::ReadFile;
using qorvex::test::ReadText;
using qorvex::test::WriteFile;

void Drop(CMainFrame &frame, const QStringList &paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths) urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
    QApplication::processEvents();
}

// The program with its dialogs answered; the sample image is made by genisoimage.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qorvex::test::HaveProgram("genisoimage")) GTEST_SKIP() << "genisoimage missing";
    }
    bool OpenSample() { return p.frame->OpenDocument(QString::fromStdString(MakeImage(p.dir, "sample.iso"))); }

    Program p;
    DialogWatcher watcher;
};

TEST_F(Window, CommandLineAndDropsOpenImagesWithFilesTracksSummaryAndRecentList) {
    const std::string image = MakeImage(p.dir, "sample.iso");
    EXPECT_EQ(p.Title(), "無題 - ぽてりこ");
    EXPECT_EQ(p.frame->InfoText()->text().toStdString(), " イメージが選択されていません。");
    EXPECT_FALSE(p.frame->Action(ID_EXTRACT_ALL)->isEnabled());

    ASSERT_TRUE(p.app->ProcessCommandLine({image}));
    p.frame->AfterOpen(true);
    EXPECT_EQ(p.Title(), "sample.iso - ぽてりこ");

    std::set<std::string> expected;
    for (auto [path, text] : SourceFiles()) {
        std::replace(path.begin(), path.end(), '/', '\\');  // as the Joliet list names it
        expected.insert("\\" + path);
    }
    const auto names = p.Column(0);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);

    QTreeWidget *tracks = p.frame->TrackBar()->List();
    ASSERT_EQ(tracks->topLevelItemCount(), 1);
    EXPECT_TRUE(tracks->topLevelItem(0)->isSelected());
    EXPECT_NE(p.frame->InfoText()->text().toStdString().find("ボリュームラベル：QTEST"), std::string::npos);

    EXPECT_TRUE(p.frame->Action(ID_EXTRACT_ALL)->isEnabled());
    EXPECT_FALSE(p.frame->Action(ID_EXTRACT_SELECTED)->isEnabled());
    ASSERT_FALSE(p.frame->Recent().Paths().empty());
    EXPECT_EQ(p.frame->Recent().Paths()[0], image);

    // Showing the ISO 9660 files beside them adds their rows and the check mark.
    p.frame->Action(ID_SHOW_ISO_FILES)->trigger();
    EXPECT_TRUE(p.frame->Action(ID_SHOW_ISO_FILES)->isChecked());
    EXPECT_EQ(p.Column(0).size(), 2 * SourceFiles().size());

    // A drop of several files opens only the first.
    const std::string second = MakeImage(p.dir, "second.iso");
    Drop(*p.frame, {QString::fromStdString(second), QString::fromStdString(image)});
    EXPECT_EQ(p.Title(), "second.iso - ぽてりこ");
    EXPECT_TRUE(watcher.messages.empty());

    // A folder and a file that is no image: each says what happened; the window goes on untitled.
    Drop(*p.frame, {QString::fromStdString(p.dir.path())});
    WriteFile(p.dir / "notes.txt", std::string(70000, 'x'));
    Drop(*p.frame, {QString::fromStdString(p.dir / "notes.txt")});
    ASSERT_EQ(watcher.messages.size(), 2u);
    EXPECT_EQ(watcher.messages[1], "読み取れない形式のファイルです。");
    EXPECT_FALSE(watcher.messages[0].empty());
    EXPECT_EQ(p.Title(), "無題 - ぽてりこ");
    EXPECT_EQ(p.Column(0).size(), 0u);
    EXPECT_EQ(tracks->topLevelItemCount(), 0);

    // The window still works afterwards.
    Drop(*p.frame, {QString::fromStdString(image)});
    EXPECT_EQ(p.Title(), "sample.iso - ぽてりこ");
}

// Two rows picked in the list: Alt+S, header sorts (the sample's Japanese name sorts after the others: the rows
// keep one height whichever comes first) and dragging them out.
TEST_F(Window, PickedRowsSurviveHeaderSortsAndAltSAndAreDraggedOutAsPrivateCopies) {
    ASSERT_TRUE(OpenSample());
    FileListView *list = p.frame->FileList();
    list->setFocus();
    // The user picks two rows with Ctrl+click.
    const std::set<std::string> picked{"\\README.TXT", "\\big.bin"};
    for (const std::string &name : picked) {
        const QModelIndex index = list->model()->index(p.RowOf(name), 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, list->visualRect(index).center());
    }
    ASSERT_TRUE(p.frame->ExtractButton(ID_EXTRACT_SELECTED)->isEnabled());

    p.frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(p.frame.get()));
    QTest::keyClick(p.frame.get(), Qt::Key_S, Qt::AltModifier);
    QApplication::processEvents();
    // The first Alt+S: not the button's (an ambiguous mnemonic would have given it the focus) but the menu's.
    EXPECT_FALSE(p.frame->ExtractButton(ID_EXTRACT_SELECTED)->hasFocus());
    QMenu *menu = p.frame->MenuNamed("一覧(&S)");
    EXPECT_TRUE(menu->isVisible());
    menu->close();
    QApplication::processEvents();
    EXPECT_EQ(watcher.file_dialogs, 0) << "the extract button was not pressed";
    // Alt+A, which no menu title has, stays the other button's.
    EXPECT_EQ(p.frame->ExtractButton(ID_EXTRACT_ALL)->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));

    auto click_header = [&](int column) {
        QHeaderView *header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    auto selected = [&] {
        std::set<std::string> names;
        for (const QModelIndex &index : list->selectionModel()->selectedRows())
            names.insert(index.data().toString().toStdString());
        for (size_t row : p.View().Model().SelectedRows())
            EXPECT_TRUE(names.count(p.View().Model().Row(row).name)) << p.View().Model().Row(row).name;
        return names;
    };
    auto heights = [&] {
        std::set<int> h;
        for (int r = 0; r < list->model()->rowCount(); ++r)
            h.insert(list->visualRect(list->model()->index(r, 0)).height());
        return h;
    };

    click_header(0);
    auto ascending = p.Column(0);
    EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
    EXPECT_EQ(ascending.back(), "\\日本語のなまえ.txt");
    EXPECT_EQ(selected(), picked);
    EXPECT_FALSE(list->currentIndex().isValid());
    const std::set<int> ascii_first = heights();
    EXPECT_EQ(ascii_first.size(), 1u);

    click_header(0);
    auto descending = p.Column(0);
    std::reverse(ascending.begin(), ascending.end());
    EXPECT_EQ(descending, ascending);
    EXPECT_EQ(selected(), picked);
    EXPECT_EQ(heights(), ascii_first);

    // The header's sections are the model's columns: by size the largest file comes last.
    click_header(5);
    EXPECT_EQ(p.Column(0).back(), "\\big.bin");
    EXPECT_EQ(selected(), picked);

    // Pressing on a selected row and moving starts a drag: the copies are made before it is handed over.
    const QPoint from = list->visualRect(list->model()->index(p.RowOf("\\README.TXT"), 0)).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, from);
    // The drag ends when the button is let go (over this window, which takes no drop from itself).
    bool released = false;
    QTimer::singleShot(300, list, [&] {
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, from);
        released = true;
    });
    for (const QPoint to : {from + QPoint(0, 2), from + QPoint(0, 40)}) {
        QMouseEvent move(QEvent::MouseMove, to, list->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(list->viewport(), &move);
    }
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return released && fs::exists(p.Doc().TempFolder() + "/drag1/README.TXT"); }, 5000));
    std::unique_ptr<QMimeData> data(list->MakeDragData());
    ASSERT_TRUE(data);
    std::vector<std::string> copies;
    for (const QUrl &url : data->urls()) copies.push_back(url.toLocalFile().toStdString());
    ASSERT_EQ(copies.size(), 2u);
    std::sort(copies.begin(), copies.end());
    EXPECT_EQ(fs::path(copies[1]).filename(), "big.bin");
    EXPECT_EQ(ReadText(copies[1]), std::string(600000, 'b'));
    EXPECT_EQ(ReadText(copies[0]), "read me\n");
    EXPECT_EQ(copies[1].rfind(p.Doc().TempFolder() + "/", 0), 0u);
    EXPECT_TRUE(watcher.messages.empty()) << "a drag goes on without a message";
    // A second drag gets a folder of its own: the first copies may still be on their way.
    std::unique_ptr<QMimeData> again(list->MakeDragData());
    ASSERT_TRUE(again);
    EXPECT_NE(again->urls().front().toLocalFile().toStdString(), copies[0]);
    EXPECT_TRUE(fs::exists(copies[0]));
}

// Desktop entries of two applications for text/plain in private XDG folders.
struct FakeDesktop {
    qorvex::test::TempDir dir;
    QByteArray old_data, old_config;

    FakeDesktop() {
        old_data = qgetenv("XDG_DATA_HOME");
        old_config = qgetenv("XDG_CONFIG_HOME");
        fs::create_directories(dir / "data/applications");
        fs::create_directories(dir / "config");
        WriteFile(dir / "record.sh", "#!/bin/sh\nprintf '%s\\n%s\\n' \"$1\" \"$2\" > '" + (dir / "launched.tmp") +
                                         "'\nmv '" + (dir / "launched.tmp") + "' '" + (dir / "launched") + "'\n");
        fs::permissions(dir / "record.sh", fs::perms::owner_all);
        for (const char *app : {"viewer", "editor"}) {
            WriteFile(dir / "data/applications/lumast-test-" + app + ".desktop",
                      std::string("[Desktop Entry]\nType=Application\nName=Test ") +
                          (app[0] == 'v' ? "Viewer" : "Editor") + "\nExec=" + (dir / "record.sh") + " " + app +
                          " %f\nMimeType=text/plain;\n");
        }
        WriteFile(dir / "config/mimeapps.list", "[Default Applications]\ntext/plain=lumast-test-viewer.desktop;\n");
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir / "data"));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir / "config"));
    }
    ~FakeDesktop() {
        qputenv("XDG_DATA_HOME", old_data);
        qputenv("XDG_CONFIG_HOME", old_config);
    }
};

// The sample extracted through the real chooser, progress dialog and overwrite questions; then the file list's
// context menu with the applications of a private desktop.
TEST_F(Window, ExtractAllThroughTheChooserAndOverwriteQuestionsThenTheContextMenusVerbs) {
    FakeDesktop desktop;
    const std::string out = p.dir / "out";
    fs::create_directories(out);
    watcher.folder = out;
    ASSERT_TRUE(OpenSample());
    p.frame->ExtractButton(ID_EXTRACT_ALL)->click();
    ASSERT_EQ(watcher.messages.size(), 1u);
    EXPECT_EQ(watcher.messages[0], "解凍が終了しました。");
    EXPECT_EQ(watcher.progress_dialogs, 1);
    EXPECT_TRUE(watcher.questions.empty());
    for (const auto &[path, text] : SourceFiles()) EXPECT_EQ(ReadText(out + "/" + path), text) << path;

    // The question comes from the worker to the real dialog; "全て上書き" answers once for every later file.
    WriteFile(out + "/README.TXT", "changed");
    watcher.overwrite_answers = {OVERWRITE_ALL};
    p.frame->OnCommand(ID_EXTRACT_ALL);
    ASSERT_EQ(watcher.questions.size(), 1u);
    EXPECT_EQ(ReadText(out + "/README.TXT"), "read me\n");

    watcher.messages.clear();
    FileListView *list = p.frame->FileList();
    const int readme = p.RowOf("\\README.TXT");
    std::unique_ptr<QMenu> menu(list->BuildContextMenu(readme));
    ASSERT_TRUE(menu);
    const std::vector<std::pair<std::string, int>> expected = {{"このファイルを解凍(&E)", 32773},
                                                               {"選択されたファイルを解凍(&S)", 32771},
                                                               {"", 0},
                                                               {"開く(&O)", 57872},
                                                               {"編集(&E)", 57873},
                                                               {"Test Editor", 57874}};
    // Applications the machine itself registers for text files follow the test's own.
    std::vector<std::pair<std::string, int>> items;
    for (QAction *a : menu->actions()) items.push_back({a->text().toStdString(), a->data().toInt()});
    ASSERT_GE(items.size(), expected.size() + 1);
    EXPECT_EQ(items.back(), std::make_pair(std::string("アプリケーションから開く(&H)..."), 32775));
    items.resize(expected.size());
    EXPECT_EQ(items, expected);

    // The third verb starts that application on a temporary copy of the file.
    p.frame->OnCommand(57874);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(desktop.dir / "launched"); }, 20000));
    const std::string launched = ReadText(desktop.dir / "launched");
    const size_t newline = launched.find('\n');
    EXPECT_EQ(launched.substr(0, newline), "editor");
    const std::string copy = launched.substr(newline + 1, launched.size() - newline - 2);
    EXPECT_EQ(fs::path(copy).filename(), "README.TXT");
    EXPECT_EQ(copy.rfind(p.Doc().TempFolder(), 0), 0u);
    EXPECT_EQ(ReadText(copy), "read me\n");
    EXPECT_TRUE(watcher.messages.empty());

    // A double click on an executable never opens it.
    const int setup = p.RowOf("\\SETUP.EXE");
    const QModelIndex index = list->model()->index(setup, 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    ASSERT_EQ(watcher.messages.size(), 1u);
    EXPECT_EQ(watcher.messages[0], "念のため、拡張子が\n.com .exe. lnk .msi .msp .pif\nのファイルは実行しません。");

    // Empty space: no menu, no current row; "extract this file" then finds nothing.
    EXPECT_EQ(list->BuildContextMenu(-1), nullptr);
    EXPECT_EQ(p.View().CurrentRow(), -1);
    p.frame->OnCommand(ID_EXTRACT_THIS);
    ASSERT_EQ(watcher.messages.size(), 2u);
    EXPECT_EQ(watcher.messages[1], "イメージ内に指定のファイルが見つかりません。");

    // Cancelling the chooser abandons the operation without a word.
    watcher.folder.clear();
    p.frame->ExtractButton(ID_EXTRACT_ALL)->click();
    EXPECT_EQ(watcher.messages.size(), 2u);
}

TEST_F(Window, SettingsLayoutAndWidthsSurviveARestart) {
    const std::string image = MakeImage(p.dir, "sample.iso");
    ASSERT_TRUE(p.frame->OpenDocument(QString::fromStdString(image)));
    p.frame->OnCommand(ID_VIEW_TRACK_BAR);
    p.frame->OnCommand(ID_VIEW_STATUS_BAR);
    p.frame->FileList()->setColumnWidth(0, 260);
    p.frame->TrackBar()->List()->setColumnWidth(3, 130);
    p.frame->OnCommand(ID_SHOW_UDF_SYSTEM);
    p.frame->move(40, 50);
    p.Restart();

    EXPECT_TRUE(p.frame->TrackBar()->isHidden());
    EXPECT_FALSE(p.frame->Action(ID_VIEW_TRACK_BAR)->isChecked());
    EXPECT_TRUE(p.frame->statusBar()->isHidden());
    EXPECT_FALSE(p.frame->ExtractBar()->isHidden());
    EXPECT_EQ(p.frame->FileList()->columnWidth(0), 260);
    EXPECT_EQ(p.frame->TrackBar()->List()->columnWidth(3), 130);
    EXPECT_TRUE(p.frame->Action(ID_SHOW_UDF_SYSTEM)->isChecked());
    ASSERT_FALSE(p.frame->Recent().Paths().empty());
    EXPECT_EQ(p.frame->Recent().Paths()[0], image);

    IniProfile ini(p.dir / "lumast.INI");
    WindowPlacement placement;
    ASSERT_TRUE(ParseWindowPos(ini.GetString("Settings", "WindowPos"), &placement));
    EXPECT_EQ(placement.show, 1u);
    EXPECT_EQ(placement.right - placement.left, 900);
    EXPECT_EQ(placement.bottom - placement.top, 640);

    // Toggling the bar back shows it; a stored show state of 3 starts maximised.
    p.frame->OnCommand(ID_VIEW_TRACK_BAR);
    EXPECT_FALSE(p.frame->TrackBar()->isHidden());
    p.Stop();
    placement.show = 3;
    ini.WriteString("Settings", "WindowPos", FormatWindowPos(placement));
    p.Start();
    EXPECT_TRUE(p.frame->isMaximized());
    EXPECT_FALSE(p.frame->TrackBar()->isHidden());
    // A malformed placement is ignored.
    p.Stop();
    ini.WriteString("Settings", "WindowPos", "1,2,3");
    p.Start();
    EXPECT_FALSE(p.frame->isMaximized());
}

// Beyond the described window: the folder tree and the find box, off until switched on under 設定, each
// remembered under a key of its own.
TEST_F(Window, FolderTreeAndFindBoxFilterTheListExtractAFolderAndAreRemembered) {
    const std::string out = p.dir / "out";
    fs::create_directories(out);
    watcher.folder = out;
    ASSERT_TRUE(OpenSample());
    BrowsePane *pane = p.frame->Browse();
    EXPECT_TRUE(pane->Tree()->isHidden() && pane->FindBox()->isHidden());
    const auto shown = [&] {
        std::set<std::string> names;
        for (size_t r = 0; r < p.Column(0).size(); ++r)
            if (!p.frame->FileList()->isRowHidden(static_cast<int>(r), {})) names.insert(p.Column(0)[r]);
        return names;
    };
    for (int id : {ID_VIEW_FOLDER_TREE, ID_VIEW_FIND_BOX}) {
        EXPECT_TRUE(p.frame->MenuNamed("設定(&O)")->actions().contains(p.frame->Action(id)));
        p.frame->Action(id)->trigger();
    }

    QTreeWidgetItem *root = pane->Tree()->topLevelItem(0);
    ASSERT_TRUE(root && root->childCount() == 1);
    EXPECT_EQ(root->child(0)->text(0).toStdString(), "Docs");
    pane->Tree()->setCurrentItem(root->child(0));
    EXPECT_EQ(shown(), (std::set<std::string>{"\\Docs\\Guide.txt", "\\Docs\\notes.txt"}));
    QTest::keyClicks(pane->FindBox(), "NOTES");
    EXPECT_EQ(shown(), (std::set<std::string>{"\\Docs\\notes.txt"}));
    // Select-all takes only what is shown.
    p.frame->OnCommand(ID_SELECT_ALL);
    EXPECT_EQ(p.View().Model().SelectedRows().size(), 1u);
    QTest::keyClick(pane->FindBox(), Qt::Key_Escape);
    EXPECT_TRUE(pane->FindBox()->text().isEmpty());
    pane->Tree()->setCurrentItem(root);
    EXPECT_EQ(shown().size(), SourceFiles().size() - 2) << "the files in the root";

    // A folder's contents, extracted from the tree.
    p.frame->ExtractFolder("\\Docs");
    ASSERT_EQ(watcher.messages.size(), 1u);
    std::set<std::string> written;
    for (const auto &e : fs::directory_iterator(out)) written.insert(e.path().filename());
    EXPECT_EQ(written, (std::set<std::string>{"Guide.txt", "notes.txt"}));

    p.Restart();
    EXPECT_FALSE(p.frame->Browse()->Tree()->isHidden() || p.frame->Browse()->FindBox()->isHidden());
}

std::vector<std::string> ListedNames(QFileDialog &dialog, size_t expected) {
    auto *list = dialog.findChild<QListView *>("listView");
    EXPECT_NE(list, nullptr);
    if (!list) return {};
    // The folder is read on a thread of the dialog's model.
    (void)QTest::qWaitFor([&] { return static_cast<size_t>(list->model()->rowCount(list->rootIndex())) >= expected; },
                          5000);
    QTest::qWait(50);
    std::vector<std::string> names;
    for (int r = 0; r < list->model()->rowCount(list->rootIndex()); ++r)
        names.push_back(list->model()->index(r, 0, list->rootIndex()).data().toString().toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

// A first start without settings: the window's own size fits the screen, the menu bar and every column.
TEST(WindowFirstStart, FitsTheScreenMenusCarryTheirPromptsAndTheOpenDialogListsEveryImage) {
    Program p(false);
    QApplication::processEvents();
    QMenuBar *bar = p.frame->menuBar();
    EXPECT_GE(bar->width(), bar->sizeHint().width()) << "no menu folded behind »";
    int columns = 0;
    for (int c = 0; c < kFileColumns; ++c) columns += p.frame->FileList()->columnWidth(c);
    EXPECT_GE(p.frame->FileList()->viewport()->width(), columns);
    const QRect screen = p.frame->screen()->availableGeometry();
    EXPECT_LE(p.frame->width(), screen.width());
    EXPECT_LE(p.frame->height(), screen.height());

    // Stored with a backslash: all of it is the prompt.
    EXPECT_EQ(p.frame->Action(ID_INCLUDE_PATH)->statusTip().toStdString(),
              "選択解凍時にフォルダ構造を含める\\パス付解凍");
    // Flipping CRC without an image changes only the check mark.
    p.frame->Action(ID_CHECK_CRC)->trigger();
    EXPECT_TRUE(p.frame->Action(ID_CHECK_CRC)->isChecked());
    EXPECT_EQ(p.Title(), "無題 - ぽてりこ");

    // The extended formats under 設定; the Rock Ridge list only while they are on.
    QAction *extensions = p.frame->Action(ID_EXTENSIONS);
    EXPECT_TRUE(p.frame->MenuNamed("設定(&O)")->actions().contains(extensions));
    QAction *rockridge = p.frame->Action(ID_SHOW_ROCKRIDGE_FILES);
    EXPECT_TRUE(p.frame->MenuNamed("一覧(&S)")->actions().contains(rockridge));
    EXPECT_TRUE(rockridge->isEnabled());
    extensions->trigger();
    EXPECT_FALSE(rockridge->isEnabled());

    // 検証: the last item of 解凍, with an accelerator no other action has; nothing to verify without an image.
    QAction *verify = p.frame->Action(ID_VERIFY);
    EXPECT_EQ(p.frame->MenuNamed("解凍(&E)")->actions().back(), verify);
    EXPECT_FALSE(verify->isEnabled());
    int sharing = 0;
    for (const QAction *a : p.frame->findChildren<QAction *>()) sharing += a->shortcut() == verify->shortcut();
    EXPECT_EQ(sharing, 1);

    // The open dialog lists every image under its default filter, the disc sheets only with the extended formats.
    const std::string folder = p.dir / "images";
    fs::create_directories(folder);
    for (const char *name : {"a.iso", "b.img", "c.bin", "d.cue", "e.toc", "f.ccd", "g.txt", "h.nrg", "README", "I.BIN"})
        WriteFile(folder + "/" + name, std::string(976896, 'x'));
    struct Case {
        bool extensions;
        std::vector<std::string> listed;
    } cases[] = {
        {true, {"I.BIN", "a.iso", "b.img", "c.bin", "d.cue", "e.toc", "f.ccd", "h.nrg"}},
        {false, {"I.BIN", "a.iso", "b.img", "c.bin"}},
    };
    for (const Case &c : cases) {
        if (p.Doc().GetSettings().extensions != c.extensions) p.frame->OnCommand(ID_EXTENSIONS);
        const std::unique_ptr<QFileDialog> dialog = p.frame->MakeOpenDialog();
        dialog->setDirectory(QString::fromStdString(folder));
        dialog->show();
        EXPECT_EQ(ListedNames(*dialog, c.listed.size()), c.listed) << c.extensions;
        EXPECT_TRUE(dialog->selectedNameFilter().startsWith("イメージファイル ("));
        dialog->selectNameFilter(dialog->nameFilters().back());
        EXPECT_EQ(ListedNames(*dialog, 10).size(), 10u) << "全てのファイル, also without an extension";
        // In the detail view no size, type or date is cut.
        dialog->setViewMode(QFileDialog::Detail);
        auto *details = dialog->findChild<QTreeView *>("treeView");
        ASSERT_NE(details, nullptr);
        QApplication::processEvents();
        for (int column = 1; column <= 3; ++column)
            EXPECT_GE(details->columnWidth(column),
                      static_cast<QAbstractItemView *>(details)->sizeHintForColumn(column))
                << column;
        dialog->reject();
    }
}

}  // namespace
}  // namespace lumast::qt::test
