// UiServices on Qt widgets: message boxes, the dialogs, the worker thread behind the progress dialog and the
// desktop shell. Calls made on the worker are carried to the GUI thread; questions wait for their answer.
#pragma once

#include <QObject>
#include <atomic>
#include <string>

#include "ui_services.h"

class QWidget;

namespace lumast::qt {

class CMainFrame;
class ProgressDialog;

// Loads Qt's own Japanese translation (qtbase_ja.qm) into the application; false when it is not installed.
bool InstallQtTranslation();

class QtUi : public QObject, public UiServices {
    Q_OBJECT
public:
    QtUi();

    void SetFrame(CMainFrame *frame) { frame_ = frame; }
    void SetFontFace(const std::string &face) { face_ = face; }
    const std::string &FontFace() const { return face_; }
    ProgressDialog *Progress() const { return progress_; }
    const std::string &Summary() const { return summary_; }

    void ShowMessage(const std::string &text, Beep beep, BoxIcon icon) override;
    int AskOverwrite(const std::string &path) override;
    bool AskKeepDamaged(const std::string &question) override;
    void RunOperation(const std::function<void()> &body) override;
    void ProgressBeginFile(const std::string &description, uint64_t file_size, uint64_t total) override;
    int ProgressAdvance(uint64_t bytes) override;
    void ProgressClose() override;
    bool ChooseFolder(const std::string &title, const std::string &initial, std::string *chosen) override;
    bool ChooseTrackFile(const TrackSaveRequest &request, std::string *chosen) override;
    ShellResult ShellExecute(const std::string &path, const std::string &verb) override;
    ShellResult ShellOpenWith(const std::string &path) override;
    FileTypeVerbs VerbsOfFileType(const std::string &extension) override;
    std::string DocumentsFolder() override;
    bool ScreenSaverActive() override;
    void SetScreenSaverActive(bool active) override;
    std::string InterfaceFontFace() override;
    void SetWaitCursor(bool on) override;
    void FileListPublished(const FileListModel &model) override;
    void TrackListFilled(const std::vector<TrackInfo> &tracks, int select) override;
    void SummaryChanged(const std::string &text) override;

private:
    QWidget *Parent() const;

    CMainFrame *frame_ = nullptr;
    std::string face_;
    std::string summary_;
    std::atomic<ProgressDialog *> progress_{nullptr};
    int wait_cursors_ = 0;
};

}  // namespace lumast::qt
