#include "main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>

#include "browse_pane.h"
#include "dialog_rules.h"
#include "dialogs.h"
#include "file_list_view.h"
#include "qt_ui.h"
#include "resources.h"
#include "string_table.h"
#include "track_list_bar.h"
#include "verify_summary.h"

namespace lumast::qt {
namespace {

QString Text(const char *text) {
    return QString::fromUtf8(text);
}

// A command's status-bar prompt and tool tip: "prompt\ntip" (a string without a line break has no tip).
std::pair<QString, QString> PromptAndTip(int id) {
    const QString all = Text(LoadString(id));
    const qsizetype newline = all.indexOf('\n');
    if (newline < 0) return {all, QString()};
    return {all.left(newline), all.mid(newline + 1)};
}

bool IsViewCommand(int id) {
    return (id >= ID_EXTRACT_SELECTED && id <= ID_OPEN_WITH) || id == ID_EXTRACT_TRACK || id == ID_SELECT_ALL ||
           (id >= ID_SHELL_VERB_FIRST && id <= ID_SHELL_VERB_LAST);
}

bool IsDocumentCommand(int id) {
    return (id >= ID_SHOW_ISO_FILES && id <= ID_SHOW_UDF_SYSTEM) || id == ID_CHECK_CRC || id == ID_CHECK_POSITION ||
           id == ID_INCLUDE_PATH || id == ID_ADD_PREGAP || id == ID_PREFER_UDF || id == ID_EXTENSIONS ||
           id == ID_SHOW_ROCKRIDGE_FILES;
}

// The lock indicators as far as the kernel's keyboard LEDs tell them.
bool LedOn(const char *function) {
    const QDir leds("/sys/class/leds");
    for (const QString &name : leds.entryList({QString("*::") + function}, QDir::Dirs | QDir::System)) {
        QFile file(leds.filePath(name) + "/brightness");
        if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed() != "0") return true;
    }
    return false;
}

constexpr const char *kLayoutSection = "General";
// The folder tree and the find box, each with a key of its own (0 or 1, off when absent).
constexpr const char *kBrowseSection = "Browse";
constexpr const char *kFolderTreeKey = "FolderTree";
constexpr const char *kFindBoxKey = "FindBox";

}  // namespace

CMainFrame::CMainFrame(CLumastApp &app, QtUi &ui)
    : app_(app), ui_(ui), doc_(*app.Document()), view_(*app.View()), ini_(app.Profile()) {
    setObjectName("mainFrame");
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);
    RestorePlacement();
    file_list_ = new FileListView(view_, ini_, this);
    browse_ = new BrowsePane(file_list_, this);
    browse_->SetTreeShown(ini_.GetInt(kBrowseSection, kFolderTreeKey, 0) != 0);
    browse_->SetFindShown(ini_.GetInt(kBrowseSection, kFindBoxKey, 0) != 0);
    setCentralWidget(browse_);
    CreateStatusBar();
    CreateMenus();
    CreateBars();
    RestoreLayout();
    if (!placed_) resize(FirstRunSize());
    recent_.Read(ini_);
    RebuildRecentMenu();

    connect(file_list_, &FileListView::commandRequested, this, &CMainFrame::OnCommand);
    connect(browse_, &BrowsePane::extractFolderRequested, this, &CMainFrame::ExtractFolder);
    connect(file_list_, &FileListView::stateChanged, this, [this] {
        ShowIdlePrompt();
        UpdateCommandUi();
    });
    ui_.SetFrame(this);
    // The core filled its lists before the window existed.
    OnTrackListFilled(doc_.Tracks(), doc_.CurrentTrack());
    OnFileListPublished();
    OnSummaryChanged(ui_.Summary().empty() ? LoadString(IDS_SUMMARY_NONE) : ui_.Summary());
    UpdateTitle();
    UpdateCommandUi();
}

CMainFrame::~CMainFrame() {
    ui_.SetFrame(nullptr);
}

QAction *CMainFrame::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QMenu *CMainFrame::MenuNamed(const QString &title) const {
    for (QMenu *menu : menus_)
        if (menu->title() == title) return menu;
    return nullptr;
}

QPushButton *CMainFrame::ExtractButton(int id) const {
    return extract_bar_->findChild<QPushButton *>(QString("button%1").arg(id));
}

void CMainFrame::CreateMenus() {
    auto make = [this](int id, const QString &text) {
        auto *action = new QAction(text, this);
        const auto [prompt, tip] = PromptAndTip(id);
        action->setStatusTip(prompt);
        action->setToolTip(tip.isEmpty() ? QString(text).remove('&') : tip);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        actions_[id] = action;
        return action;
    };
    for (const Menu &menu : MainMenu()) {
        QMenu *m = menuBar()->addMenu(Text(menu.title));
        menus_.push_back(m);
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
        bool after_recent = false;
        for (const MenuItem &item : menu.items) {
            if (item.id == 0) {
                QAction *separator = m->addSeparator();
                if (after_recent) recent_anchor_ = separator;
                after_recent = false;
                continue;
            }
            if (item.id == -1) {
                file_menu_ = m;
                after_recent = true;
                continue;
            }
            QAction *action = make(item.id, Text(item.text));
            if (item.shortcut) action->setShortcut(QKeySequence(Text(item.shortcut)));
            m->addAction(action);
        }
    }
    const int checkable[] = {ID_SHOW_ISO_FILES,     ID_SHOW_JOLIET_FILES,    ID_SHOW_UDF_FILES,   ID_SHOW_ISO_SYSTEM,
                             ID_SHOW_JOLIET_SYSTEM, ID_SHOW_UDF_SYSTEM,      ID_CHECK_CRC,        ID_CHECK_POSITION,
                             ID_INCLUDE_PATH,       ID_ADD_PREGAP,           ID_PREFER_UDF,       ID_VIEW_EXTRACT_BAR,
                             ID_VIEW_INFO_BAR,      ID_VIEW_TRACK_BAR,       ID_VIEW_TOOLBAR,     ID_VIEW_STATUS_BAR,
                             ID_EXTENSIONS,         ID_SHOW_ROCKRIDGE_FILES, ID_VIEW_FOLDER_TREE, ID_VIEW_FIND_BOX};
    for (int id : checkable) actions_[id]->setCheckable(true);

    // Accelerators without a menu item.
    QAction *select_all = make(ID_SELECT_ALL, {});
    select_all->setShortcut(QKeySequence("Ctrl+A"));
    addAction(select_all);
    QAction *next = make(ID_NEXT_PANE, {});
    next->setShortcut(QKeySequence(Qt::Key_F6));
    addAction(next);
    QAction *previous = make(ID_PREV_PANE, {});
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(previous);
}

void CMainFrame::RebuildRecentMenu() {
    if (!file_menu_) return;
    for (QAction *a : recent_actions_) {
        file_menu_->removeAction(a);
        actions_.erase(a->data().toInt());
        a->deleteLater();
    }
    recent_actions_.clear();
    const auto &paths = recent_.Paths();
    const QString prompt = Text(LoadString(ID_FILE_MRU_FIRST));
    if (paths.empty()) {
        auto *placeholder = new QAction(Text(kRecentFilePlaceholder), this);
        placeholder->setEnabled(false);
        placeholder->setStatusTip(prompt);
        placeholder->setData(ID_FILE_MRU_FIRST);
        recent_actions_.push_back(placeholder);
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        const int id = ID_FILE_MRU_FIRST + static_cast<int>(i);
        QString shown = QString::fromStdString(paths[i]);
        shown.replace('&', "&&");
        auto *action = new QAction(QString("&%1 %2").arg(i + 1).arg(shown), this);
        action->setStatusTip(prompt);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        actions_[id] = action;
        recent_actions_.push_back(action);
    }
    for (QAction *a : recent_actions_) file_menu_->insertAction(recent_anchor_, a);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar *bar = statusBar();
    bar->setObjectName("statusBar");
    for (const char *text : {kKanaIndicator, "CAP", "NUM", "SCRL"}) {
        auto *label = new QLabel(bar);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(Text(text)) + 10);
        label->setProperty("indicator", Text(text));
        bar->addPermanentWidget(label);
        indicators_.push_back(label);
    }
    UpdateIndicators();
    if (QDir("/sys/class/leds").exists()) {
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
        timer->start(1000);
    }
    ShowIdlePrompt();
}

void CMainFrame::UpdateIndicators() {
    const char *functions[] = {"kana", "capslock", "numlock", "scrolllock"};
    for (size_t i = 0; i < indicators_.size(); ++i)
        indicators_[i]->setText(LedOn(functions[i]) ? indicators_[i]->property("indicator").toString() : QString());
}

void CMainFrame::CreateBars() {
    const std::string &face = app_.FontFace();

    tool_bar_ = new QToolBar(this);
    tool_bar_->setObjectName("bar128");
    tool_bar_->setIconSize(QSize(16, 16));
    tool_bar_->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    tool_bar_->setMovable(true);
    QAction *open = Action(ID_FILE_OPEN);
    open->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    tool_bar_->addAction(open);
    addToolBar(Qt::TopToolBarArea, tool_bar_);

    auto dock = [this](int bar, Qt::DockWidgetAreas areas) {
        auto *d = new QDockWidget(Text(BarCaption(bar)), this);
        d->setObjectName(QString("bar%1").arg(bar));
        d->setAllowedAreas(areas);
        return d;
    };

    extract_bar_ = dock(IDD_EXTRACT_BAR, Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    auto *buttons = new QWidget(extract_bar_);
    auto *row = new QHBoxLayout(buttons);
    row->setContentsMargins(4, 2, 4, 2);
    const std::pair<int, const char *> button_texts[] = {{ID_EXTRACT_SELECTED, kExtractSelectedButton},
                                                         {ID_EXTRACT_ALL, kExtractAllButton}};
    for (const auto &[id, text] : button_texts) {
        auto *button = new QPushButton(Text(text), buttons);
        button->setObjectName(QString("button%1").arg(id));
        ApplyInterfaceFont(button, face);
        const auto [prompt, tip] = PromptAndTip(id);
        button->setStatusTip(prompt);
        button->setToolTip(tip);
        const int command = id;
        connect(button, &QPushButton::clicked, this, [this, command] { OnCommand(command); });
        row->addWidget(button);
    }
    row->addStretch();
    YieldMnemonicsToMenuBar(buttons);
    extract_bar_->setWidget(buttons);
    addDockWidget(Qt::TopDockWidgetArea, extract_bar_, Qt::Vertical);

    info_bar_ = dock(IDD_INFO_BAR, Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    info_text_ = new QLabel(Text(kInfoInitialText), info_bar_);
    info_text_->setObjectName("label1000");
    info_text_->setContentsMargins(3, 3, 3, 3);
    info_text_->setTextFormat(Qt::PlainText);
    info_text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ApplyInterfaceFont(info_text_, face);
    info_bar_->setWidget(info_text_);
    addDockWidget(Qt::TopDockWidgetArea, info_bar_, Qt::Vertical);

    track_bar_ = new TrackListBar(doc_, ini_, face, this);
    connect(track_bar_, &TrackListBar::commandRequested, this, &CMainFrame::OnCommand);
    connect(track_bar_, &TrackListBar::floatCentredRequested, this, &CMainFrame::FloatTrackBarCentred);
    addDockWidget(Qt::TopDockWidgetArea, track_bar_, Qt::Vertical);
}

QSize CMainFrame::FirstRunSize() const {
    int columns = 0;
    for (int c = 0; c < file_list_->model()->columnCount(); ++c) columns += file_list_->columnWidth(c);
    const int frame = 2 * file_list_->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    QSize size(std::max(menuBar()->sizeHint().width(), columns + frame), 0);
    // Room for the bars above the list and some twenty rows of it.
    size.setHeight(std::max(sizeHint().height(), size.width() * 3 / 4));
    if (const QScreen *screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        size = size.boundedTo(QSize(available.width() * 95 / 100, available.height() * 90 / 100));
    }
    return size;
}

void CMainFrame::YieldMnemonicsToMenuBar(QWidget *bar) {
    // As on the described platform, Alt+letter opens the menu of that letter even when a button of a bar
    // carries the same mnemonic; the button keeps its underlined letter.
    QSet<QKeySequence> menu_keys;
    for (const QMenu *menu : menus_) menu_keys.insert(QKeySequence::mnemonic(menu->title()));
    for (QPushButton *button : bar->findChildren<QPushButton *>())
        if (menu_keys.contains(QKeySequence::mnemonic(button->text()))) button->setShortcut(QKeySequence());
}

void CMainFrame::RestoreLayout() {
    const QByteArray state = QByteArray::fromHex(QByteArray::fromStdString(ini_.GetString(kLayoutSection, "Layout")));
    // The first layout gives the track list a few rows and leaves the rest to the file list.
    if (state.isEmpty() || !restoreState(state))
        resizeDocks({track_bar_}, {track_bar_->fontMetrics().height() * 7}, Qt::Vertical);
    statusBar()->setVisible(ini_.GetInt(kLayoutSection, "StatusBar", 1) != 0);
}

bool CMainFrame::RestorePlacement() {
    WindowPlacement p;
    maximise_ = false;
    if (!ParseWindowPos(ini_.GetString("Settings", "WindowPos"), &p)) return false;
    const QRect rect(p.left, p.top, p.right - p.left, p.bottom - p.top);
    if (rect.width() > 0 && rect.height() > 0) {
        setGeometry(rect);
        placed_ = true;
    }
    maximise_ = p.show == 3;
    return maximise_;
}

void CMainFrame::ShowInitially() {
    if (maximise_)
        showMaximized();
    else
        show();
}

void CMainFrame::SaveState() {
    ini_.WriteString(kLayoutSection, "Layout", saveState().toHex().toStdString());
    ini_.WriteInt(kLayoutSection, "StatusBar", statusBar()->isHidden() ? 0 : 1);
    WindowPlacement p;
    p.show = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    QRect normal = normalGeometry();
    if (!normal.isValid() || normal.isEmpty()) normal = geometry();
    p.left = normal.x();
    p.top = normal.y();
    p.right = normal.x() + normal.width();
    p.bottom = normal.y() + normal.height();
    ini_.WriteString("Settings", "WindowPos", FormatWindowPos(p));
    file_list_->SaveColumnWidths();
    track_bar_->SaveColumnWidths();
    recent_.Write(ini_);
}

void CMainFrame::closeEvent(QCloseEvent *event) {
    SaveState();
    QMainWindow::closeEvent(event);
}

bool CMainFrame::event(QEvent *event) {
    if (event->type() == QEvent::StatusTip) {
        // Nothing under the cursor has a prompt: the idle prompt comes back.
        const QString tip = static_cast<QStatusTipEvent *>(event)->tip();
        if (statusBar()) statusBar()->showMessage(tip.isEmpty() ? Text(LoadString(IDS_IDLE_PROMPT)) : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::ShowIdlePrompt() {
    statusBar()->showMessage(Text(LoadString(IDS_IDLE_PROMPT)));
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event) {
    // Rows dragged out of our own list are no images to open.
    if (event->mimeData()->hasUrls() && !event->source()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent *event) {
    if (event->source()) return;
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    // Only the first dropped file is opened.
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    activateWindow();
    const QString path = urls.front().toLocalFile();
    QTimer::singleShot(0, this, [this, path] { OpenDocument(path); });
}

bool CMainFrame::OpenDocument(const QString &path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const bool ok = doc_.OnOpenDocument(absolute.toStdString());
    AfterOpen(ok);
    return ok;
}

void CMainFrame::AfterOpen(bool ok) {
    if (ok && doc_.HandleHeld()) {
        recent_.Add(doc_.ImagePath());
        recent_.Write(ini_);
        RebuildRecentMenu();
    }
    UpdateTitle();
    UpdateCommandUi();
}

std::unique_ptr<QFileDialog> CMainFrame::MakeOpenDialog() {
    auto dialog = std::make_unique<QFileDialog>(this, Text(LoadString(IDS_OPEN_TITLE)));
    dialog->setObjectName("openDialog");
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setNameFilters(NameFiltersOf(OpenFilterResource(doc_.GetSettings().extensions)));
    // Size, type and date take the width of their texts; the name column gets the rest.
    if (auto *details = dialog->findChild<QTreeView *>("treeView")) {
        details->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        details->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (!doc_.ImagePath().empty()) dialog->setDirectory(QFileInfo(QString::fromStdString(doc_.ImagePath())).path());
    return dialog;
}

void CMainFrame::OpenFromDialog() {
    const std::unique_ptr<QFileDialog> dialog = MakeOpenDialog();
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        OpenDocument(dialog->selectedFiles().front());
}

void CMainFrame::UpdateTitle() {
    const std::string title = doc_.Title();
    setWindowTitle((title.empty() ? Text(kUntitled) : QString::fromStdString(title)) + " - " + Text(kProgramName));
}

void CMainFrame::OnCommand(int id) {
    if (id >= ID_FILE_MRU_FIRST && id < ID_FILE_MRU_FIRST + RecentFileList::kSize) {
        const size_t index = static_cast<size_t>(id - ID_FILE_MRU_FIRST);
        if (index < recent_.Paths().size()) {
            const QString path = QString::fromStdString(recent_.Paths()[index]);
            if (!QFileInfo::exists(path)) {
                // A vanished file leaves the list, as it can no longer be opened.
                recent_.Remove(index);
                recent_.Write(ini_);
                RebuildRecentMenu();
            }
            OpenDocument(path);
        }
    } else if (IsViewCommand(id)) {
        view_.OnCommand(id);
        if (id == ID_SELECT_ALL) file_list_->SyncSelectionFromCore();
    } else if (IsDocumentCommand(id)) {
        doc_.OnCommand(id);
    } else {
        switch (id) {
            case ID_FILE_OPEN: OpenFromDialog(); break;
            case ID_APP_EXIT: close(); break;
            case ID_APP_ABOUT: AboutDialog(app_.FontFace(), this).exec(); break;
            case ID_VOLUME_INFO: ShowVolumeInfo(); break;
            case ID_DESTINATION_SETTINGS: ShowDestinationSettings(); break;
            case ID_VIEW_EXTRACT_BAR: extract_bar_->setVisible(extract_bar_->isHidden()); break;
            case ID_VIEW_INFO_BAR: info_bar_->setVisible(info_bar_->isHidden()); break;
            case ID_VIEW_TRACK_BAR: track_bar_->setVisible(track_bar_->isHidden()); break;
            case ID_VIEW_TOOLBAR: tool_bar_->setVisible(tool_bar_->isHidden()); break;
            case ID_VIEW_STATUS_BAR: statusBar()->setVisible(statusBar()->isHidden()); break;
            case ID_VIEW_FOLDER_TREE:
                browse_->SetTreeShown(!browse_->TreeShown());
                ini_.WriteInt(kBrowseSection, kFolderTreeKey, browse_->TreeShown() ? 1 : 0);
                break;
            case ID_VIEW_FIND_BOX:
                browse_->SetFindShown(!browse_->FindShown());
                ini_.WriteInt(kBrowseSection, kFindBoxKey, browse_->FindShown() ? 1 : 0);
                if (browse_->FindShown()) browse_->FindBox()->setFocus();
                break;
            case ID_NEXT_PANE: CyclePane(true); break;
            case ID_PREV_PANE: CyclePane(false); break;
            case ID_VERIFY: RunVerify(ui_, {}, doc_.ImagePath(), doc_.GetSettings().OpenOptions()); break;
            default: break;
        }
    }
    UpdateCommandUi();
}

void CMainFrame::UpdateCommandUi() {
    for (auto &[id, action] : actions_) {
        if (IsViewCommand(id))
            action->setEnabled(view_.IsEnabled(id));
        else if (id == ID_VOLUME_INFO || id == ID_SHOW_ROCKRIDGE_FILES)
            action->setEnabled(doc_.IsEnabled(id));
        else if (id == ID_VERIFY)
            action->setEnabled(!doc_.ImagePath().empty());
        if (IsDocumentCommand(id)) action->setChecked(doc_.IsChecked(id));
    }
    actions_[ID_VIEW_EXTRACT_BAR]->setChecked(!extract_bar_->isHidden());
    actions_[ID_VIEW_INFO_BAR]->setChecked(!info_bar_->isHidden());
    actions_[ID_VIEW_TRACK_BAR]->setChecked(!track_bar_->isHidden());
    actions_[ID_VIEW_TOOLBAR]->setChecked(!tool_bar_->isHidden());
    actions_[ID_VIEW_STATUS_BAR]->setChecked(!statusBar()->isHidden());
    actions_[ID_VIEW_FOLDER_TREE]->setChecked(browse_->TreeShown());
    actions_[ID_VIEW_FIND_BOX]->setChecked(browse_->FindShown());
    for (int id : {ID_EXTRACT_SELECTED, ID_EXTRACT_ALL})
        if (QPushButton *button = ExtractButton(id)) button->setEnabled(view_.IsEnabled(id));
}

void CMainFrame::OnFileListPublished() {
    file_list_->Published();
    browse_->Refill(view_.Model());
    ShowIdlePrompt();
    UpdateCommandUi();
}

void CMainFrame::ExtractFolder(const QString &folder) {
    FileListModel &rows = view_.Model();
    rows.ClearSelection();
    for (size_t i = 0; i < rows.RowCount(); ++i)
        if (RowUnderFolder(rows.Row(i).name, folder)) rows.SetSelected(i, true);
    OnCommand(ID_EXTRACT_SELECTED);
    file_list_->SyncSelectionFromCore();
}

void CMainFrame::OnTrackListFilled(const std::vector<TrackInfo> &tracks, int select) {
    track_bar_->Fill(tracks, select);
}

void CMainFrame::OnSummaryChanged(const std::string &text) {
    info_text_->setText(QString::fromStdString(text));
}

void CMainFrame::FloatTrackBarCentred() {
    const QSize size = track_bar_->size();
    track_bar_->setFloating(true);
    const QPoint corner(width() / 2 - size.width() / 2, height() / 2 - size.height() / 2);
    track_bar_->move(mapToGlobal(corner));
}

void CMainFrame::CyclePane(bool forward) {
    std::vector<QWidget *> panes{file_list_};
    if (browse_->TreeShown()) panes.insert(panes.begin(), browse_->Tree());
    if (browse_->FindShown()) panes.insert(panes.begin(), browse_->FindBox());
    if (!track_bar_->isHidden()) panes.push_back(track_bar_->List());
    if (!extract_bar_->isHidden()) panes.push_back(ExtractButton(ID_EXTRACT_SELECTED));
    size_t at = 0;
    for (size_t i = 0; i < panes.size(); ++i)
        if (panes[i]->hasFocus() || panes[i]->isAncestorOf(QApplication::focusWidget())) at = i;
    const size_t n = panes.size();
    panes[forward ? (at + 1) % n : (at + n - 1) % n]->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::ShowVolumeInfo() {
    VolumeInfoDialog dialog(doc_.HandleHeld() ? &doc_ : nullptr, app_.FontFace(), this);
    dialog.exec();
}

void CMainFrame::ShowDestinationSettings() {
    DestinationDialog dialog(doc_.GetDestinationSettings(), ui_, app_.FontFace(), this);
    if (dialog.exec() == QDialog::Accepted) doc_.ApplyDestinationSettings(dialog.Values());
}

}  // namespace lumast::qt
