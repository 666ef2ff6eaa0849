// The modal dialogs: progress, overwrite question, volume information, default destination and about box.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "document.h"
#include "progress_state.h"

class QComboBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;
class QTreeWidget;

namespace lumast {
class UiServices;
}

namespace lumast::qt {

// Keeps the dialog's own font and replaces only its face name (children inherit it).
void ApplyInterfaceFont(QWidget *widget, const std::string &face);
// The program's icon, drawn once.
QIcon ProgramIcon();
// Name filters of a filter resource ("text|patterns|...||") for a file dialog: each display text followed by
// its own patterns, which the dialog reads from the last brackets and hides (HideNameFilterDetails).
QStringList NameFiltersOf(const std::string &resource);

// Dialog 102. Runs `body` on its own worker thread once it is shown; the worker reaches it through BeginFile,
// Advance and CloseFromWorker, which may be called from any thread.
class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    ProgressDialog(std::function<void()> body, const std::string &face, QWidget *parent = nullptr);
    ~ProgressDialog() override;

    void BeginFile(const std::string &description, uint64_t file_size, uint64_t total);
    int Advance(uint64_t bytes);
    // Sets the closing flag and posts the OK that ends the dialog.
    void CloseFromWorker();
    // Runs the event loop until the worker has finished (it may still ask questions after the dialog closed).
    void WaitForWorker();

    int AbortFlag() const { return state_ ? state_->AbortFlag() : 0; }
    int BarWidth() const { return state_ ? state_->BarWidth() : 0; }
    QLabel *Label(int id) const;
    QProgressBar *Bar(int id) const;
    QPushButton *AbortButton() const { return abort_button_; }

    void done(int result) override;
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Show(const ProgressDisplay &display);

    std::function<void()> body_;
    std::unique_ptr<ProgressState> state_;
    QThread *thread_ = nullptr;
    std::atomic<bool> worker_done_{false};
    QLabel *description_, *bytes_, *file_percent_, *total_percent_;
    QProgressBar *file_bar_, *total_bar_;
    QPushButton *abort_button_;
};

// Dialog 104: returns the id of the button pressed (OverwriteAnswer).
class OverwriteDialog : public QDialog {
    Q_OBJECT
public:
    OverwriteDialog(const std::string &path, const std::string &face, QWidget *parent = nullptr);
    QPushButton *Button(int id) const;
    QString Message() const;
    void reject() override;  // Escape and the close box: "全中止(&E)"

private:
    QLabel *message_;
};

// Dialog 132.
class VolumeInfoDialog : public QDialog {
    Q_OBJECT
public:
    VolumeInfoDialog(CLumastDoc *doc, const std::string &face, QWidget *parent = nullptr);
    QRadioButton *Radio(int kind) const;  // 1, 2, 4
    QTreeWidget *List() const { return list_; }
    int Shown() const { return shown_; }
    void ShowKind(int kind);

private:
    CLumastDoc *doc_;
    QRadioButton *iso_, *joliet_, *udf_;
    QTreeWidget *list_;
    int shown_ = 0;
};

// Dialog 134.
class DestinationDialog : public QDialog {
    Q_OBJECT
public:
    DestinationDialog(const DestinationSettings &values, UiServices &ui, const std::string &face,
                      QWidget *parent = nullptr);
    DestinationSettings Values() const;
    QComboBox *Combo() const { return combo_; }
    QLineEdit *Folder() const { return folder_; }
    QPushButton *Browse() const { return browse_; }
    QCheckBox *Always() const { return always_; }
    QCheckBox *VolumeFolder() const { return volume_; }
    // The kind rule, run on opening and for every chosen entry.
    void ApplyKind(int kind);

private:
    void OnBrowse();

    UiServices &ui_;
    QComboBox *combo_;
    QLineEdit *folder_;
    QPushButton *browse_;
    QCheckBox *always_, *volume_;
};

// Dialog 100.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const std::string &face, QWidget *parent = nullptr);
};

}  // namespace lumast::qt
