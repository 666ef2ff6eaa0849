#include "qt_ui.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>
#include <QTranslator>
#include <QVBoxLayout>

#include "desktop_shell.h"
#include "dialogs.h"
#include "main_frame.h"
#include "string_table.h"

namespace lumast::qt {
namespace {

bool OnGuiThread() {
    return QThread::currentThread() == qApp->thread();
}

// Runs `f` on the GUI thread and waits for it.
template <typename F>
void RunOnGui(F f) {
    if (OnGuiThread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
}

QString Q(const std::string &text) {
    return QString::fromStdString(text);
}

// The desktop's chooser: the applications for the file's type first, then every other one.
class OpenWithDialog : public QDialog {
public:
    OpenWithDialog(const QString &file, const std::string &face, QWidget *parent) : QDialog(parent) {
        setWindowTitle(QString::fromUtf8(kProgramName));
        setObjectName("openWith");
        list_ = new QListWidget(this);
        QStringList ids;
        auto add = [&](const DesktopApp &app) {
            if (ids.contains(app.id)) return;
            ids << app.id;
            auto *item = new QListWidgetItem(app.name, list_);
            item->setData(Qt::UserRole, app.id);
            apps_.push_back(app);
        };
        for (const DesktopApp &app : DesktopShell::AppsForMimeType(DesktopShell::MimeTypeOfName(file))) add(app);
        for (const DesktopApp &app : DesktopShell::AllApps()) add(app);
        if (list_->count() > 0) list_->setCurrentRow(0);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(QFileInfo(file).fileName(), this));
        layout->addWidget(list_);
        layout->addWidget(buttons);
        ApplyInterfaceFont(this, face);
    }
    DesktopApp Chosen() const {
        const int row = list_->currentRow();
        return row >= 0 && static_cast<size_t>(row) < apps_.size() ? apps_[static_cast<size_t>(row)] : DesktopApp{};
    }

private:
    QListWidget *list_;
    std::vector<DesktopApp> apps_;
};

}  // namespace

bool InstallQtTranslation() {
    static QTranslator translator;
    if (!translator.isEmpty()) return true;
    // Qt's own dialogs and buttons in Japanese; without the translation they stay as Qt ships them.
    for (const QString &folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath), QStringLiteral("/usr/share/qt6/translations")})
        if (translator.load(QStringLiteral("qtbase_ja"), folder))
            return QCoreApplication::installTranslator(&translator);
    return false;
}

QtUi::QtUi() = default;

QWidget *QtUi::Parent() const {
    if (ProgressDialog *p = progress_.load(); p && p->isVisible()) return p;
    return static_cast<QWidget *>(frame_);
}

void QtUi::ShowMessage(const std::string &text, Beep beep, BoxIcon icon) {
    RunOnGui([&] {
        // The theme's information and warning sounds where the desktop has them, else the one plain beep.
        if (!DesktopShell::PlayThemeSound(beep == Beep::Exclamation ? "dialog-warning" : "dialog-information"))
            QApplication::beep();
        QMessageBox box(icon == BoxIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                        QString::fromUtf8(kProgramName), Q(text), QMessageBox::Ok, Parent());
        ApplyInterfaceFont(&box, face_);
        box.exec();
    });
}

int QtUi::AskOverwrite(const std::string &path) {
    int answer = OVERWRITE_ABORT;
    RunOnGui([&] {
        OverwriteDialog dialog(path, face_, Parent());
        answer = dialog.exec();
    });
    return answer;
}

bool QtUi::AskKeepDamaged(const std::string &question) {
    bool yes = false;
    RunOnGui([&] {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(kProgramName), Q(question),
                        QMessageBox::Yes | QMessageBox::No, Parent());
        box.setDefaultButton(QMessageBox::No);
        ApplyInterfaceFont(&box, face_);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

void QtUi::RunOperation(const std::function<void()> &body) {
    ProgressDialog dialog(body, face_, static_cast<QWidget *>(frame_));
    progress_ = &dialog;
    dialog.exec();
    // After an open, the worker still launches the application once the dialog has gone.
    dialog.WaitForWorker();
    progress_ = nullptr;
}

void QtUi::ProgressBeginFile(const std::string &description, uint64_t file_size, uint64_t total) {
    if (ProgressDialog *p = progress_.load()) p->BeginFile(description, file_size, total);
}

int QtUi::ProgressAdvance(uint64_t bytes) {
    ProgressDialog *p = progress_.load();
    return p ? p->Advance(bytes) : 0;
}

void QtUi::ProgressClose() {
    if (ProgressDialog *p = progress_.load()) p->CloseFromWorker();
}

bool QtUi::ChooseFolder(const std::string &title, const std::string &initial, std::string *chosen) {
    bool ok = false;
    RunOnGui([&] {
        QFileDialog dialog(Parent(), Q(title), Q(initial));
        dialog.setObjectName("folderChooser");
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        if (!initial.empty()) dialog.setDirectory(Q(initial));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            *chosen = dialog.selectedFiles().front().toStdString();
            ok = true;
        }
    });
    return ok;
}

bool QtUi::ChooseTrackFile(const TrackSaveRequest &request, std::string *chosen) {
    bool ok = false;
    RunOnGui([&] {
        const QStringList filters = NameFiltersOf(request.filter);
        QFileDialog dialog(Parent(), Q(request.title));
        dialog.setObjectName("trackSaveDialog");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(filters);
        if (request.filter_index >= 1 && request.filter_index <= filters.size())
            dialog.selectNameFilter(filters[request.filter_index - 1]);
        dialog.setDefaultSuffix(Q(request.default_ext));
        if (!request.initial_folder.empty()) dialog.setDirectory(Q(request.initial_folder));
        dialog.selectFile(Q(request.default_name));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            *chosen = dialog.selectedFiles().front().toStdString();
            ok = true;
        }
    });
    return ok;
}

ShellResult QtUi::ShellExecute(const std::string &path, const std::string &verb) {
    const QString file = Q(path);
    DesktopApp app;
    if (verb.empty() || verb == "open" || verb == "play") {
        app = DesktopShell::DefaultApp(DesktopShell::MimeTypeOfName(file));
    } else if (verb == "edit") {
        // Editing is the text editor's job when the desktop names one.
        app = DesktopShell::DefaultApp("text/plain");
        if (app.id.isEmpty()) app = DesktopShell::DefaultApp(DesktopShell::MimeTypeOfName(file));
    } else {
        app = DesktopShell::FindApp(Q(verb));
    }
    if (app.id.isEmpty()) return ShellResult::NoAssociation;
    return DesktopShell::Launch(app, file) ? ShellResult::Ok : ShellResult::Failed;
}

ShellResult QtUi::ShellOpenWith(const std::string &path) {
    DesktopApp app;
    RunOnGui([&] {
        OpenWithDialog dialog(Q(path), face_, Parent());
        if (dialog.exec() == QDialog::Accepted) app = dialog.Chosen();
    });
    if (app.id.isEmpty()) return ShellResult::Failed;
    return DesktopShell::Launch(app, Q(path)) ? ShellResult::Ok : ShellResult::Failed;
}

FileTypeVerbs QtUi::VerbsOfFileType(const std::string &extension) {
    FileTypeVerbs verbs;
    const std::vector<DesktopApp> apps =
        DesktopShell::AppsForMimeType(DesktopShell::MimeTypeOfName("x" + Q(extension)));
    if (apps.empty()) return verbs;
    // "open" runs the default application; the others are offered by name.
    verbs.default_verb = "open";
    for (size_t i = 1; i < apps.size(); ++i)
        verbs.verbs.push_back({apps[i].id.toStdString(), apps[i].name.toStdString()});
    return verbs;
}

std::string QtUi::DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

bool QtUi::ScreenSaverActive() {
    return DesktopShell::ScreenSaverPresent();
}

void QtUi::SetScreenSaverActive(bool active) {
    DesktopShell::Inhibit(!active);
}

std::string QtUi::InterfaceFontFace() {
    const QString family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    return family.isEmpty() ? std::string("System") : family.toStdString();
}

void QtUi::SetWaitCursor(bool on) {
    auto apply = [this, on] {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++wait_cursors_;
        } else if (wait_cursors_ > 0) {
            QApplication::restoreOverrideCursor();
            --wait_cursors_;
        }
    };
    if (OnGuiThread())
        apply();
    else
        QMetaObject::invokeMethod(qApp, apply, Qt::QueuedConnection);
}

void QtUi::FileListPublished(const FileListModel &) {
    RunOnGui([this] {
        if (frame_) frame_->OnFileListPublished();
    });
}

void QtUi::TrackListFilled(const std::vector<TrackInfo> &tracks, int select) {
    RunOnGui([&] {
        if (frame_) frame_->OnTrackListFilled(tracks, select);
    });
}

void QtUi::SummaryChanged(const std::string &text) {
    RunOnGui([&] {
        summary_ = text;
        if (frame_) frame_->OnSummaryChanged(text);
    });
}

}  // namespace lumast::qt
