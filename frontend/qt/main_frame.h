// The main window: menus, tool bar, status bar, the three bars as dock widgets and the file list as client.
// It dispatches every command to the document, the view or itself, and keeps placement and layout.
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "dialog_rules.h"

class QAction;
class QDockWidget;
class QFileDialog;
class QLabel;
class QMenu;
class QPushButton;
class QToolBar;

namespace lumast::qt {

class BrowsePane;
class FileListView;
class QtUi;
class TrackListBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CLumastApp &app, QtUi &ui);
    ~CMainFrame() override;

    // Restores Settings/WindowPos; true when the stored show state asks for a maximised window.
    bool RestorePlacement();
    // Shows the window as the stored placement says.
    void ShowInitially();

    // Opens an image as the open dialog, the recent-file list, the command line or a drop does.
    bool OpenDocument(const QString &path);
    // Title, recent-file list and command states after the document opened an image (or failed to).
    void AfterOpen(bool ok);
    // Runs a command by its id, as a menu item, button or accelerator does.
    void OnCommand(int id);
    // Brings every command's enabled and checked state up to date.
    void UpdateCommandUi();
    QAction *Action(int id) const;
    QMenu *MenuNamed(const QString &title) const;
    // The open dialog as command 57601 shows it (not yet shown).
    std::unique_ptr<QFileDialog> MakeOpenDialog();
    // The size of a first start: the menu bar and every list column fit, within the screen.
    QSize FirstRunSize() const;

    // Sinks of the core.
    void OnFileListPublished();
    void OnTrackListFilled(const std::vector<TrackInfo> &tracks, int select);
    void OnSummaryChanged(const std::string &text);

    // Floats the track list bar centred in the client area.
    void FloatTrackBarCentred();
    void ShowIdlePrompt();

    FileListView *FileList() const { return file_list_; }
    BrowsePane *Browse() const { return browse_; }
    // Extracts every row under `folder` ("" for the root), as extract-selected would.
    void ExtractFolder(const QString &folder);
    TrackListBar *TrackBar() const { return track_bar_; }
    QDockWidget *ExtractBar() const { return extract_bar_; }
    QDockWidget *InfoBar() const { return info_bar_; }
    QLabel *InfoText() const { return info_text_; }
    QToolBar *ToolBar() const { return tool_bar_; }
    QPushButton *ExtractButton(int id) const;
    const RecentFileList &Recent() const { return recent_; }
    CLumastApp &App() { return app_; }

    // Stores the layout, placement and column widths (done when the window closes).
    void SaveState();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void CreateMenus();
    void CreateStatusBar();
    void CreateBars();
    void YieldMnemonicsToMenuBar(QWidget *bar);
    void RestoreLayout();
    void RebuildRecentMenu();
    void UpdateTitle();
    void UpdateIndicators();
    void CyclePane(bool forward);
    void OpenFromDialog();
    void ShowVolumeInfo();
    void ShowDestinationSettings();

    CLumastApp &app_;
    QtUi &ui_;
    CLumastDoc &doc_;
    CLumastView &view_;
    IniProfile &ini_;
    std::map<int, QAction *> actions_;
    std::vector<QMenu *> menus_;
    QMenu *file_menu_ = nullptr;
    QAction *recent_anchor_ = nullptr;
    std::vector<QAction *> recent_actions_;
    QToolBar *tool_bar_ = nullptr;
    QDockWidget *extract_bar_ = nullptr;
    QDockWidget *info_bar_ = nullptr;
    QLabel *info_text_ = nullptr;
    TrackListBar *track_bar_ = nullptr;
    FileListView *file_list_ = nullptr;
    BrowsePane *browse_ = nullptr;
    std::vector<QLabel *> indicators_;
    RecentFileList recent_;
    bool maximise_ = false;
    bool placed_ = false;  // a stored placement was applied
};

}  // namespace lumast::qt
