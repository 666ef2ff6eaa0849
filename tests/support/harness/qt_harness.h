// Real windows for the widget tests: the program's application, frame and Qt services over a fresh settings
// file, and a watcher that answers the modal dialogs the program opens, as a user would.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "dialogs.h"
#include "file_list_view.h"
#include "main_frame.h"
#include "qt_ui.h"
#include "support/temp_dir.h"

namespace lumast::qt::test {

inline std::string EngineLibrary() {
    const char *path = std::getenv("QORVEX_LIBRARY");
    return path ? path : "";
}

// Answers every modal dialog that comes up: message boxes are read and closed, overwrite questions get the
// scripted answers (then "はい(&Y)"), folder choosers get `folder`.
class DialogWatcher : public QObject {
public:
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<int> overwrite_answers;
    std::string folder;  // empty: folder choosers are cancelled
    int progress_dialogs = 0;
    int file_dialogs = 0;

    DialogWatcher() {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(5);
        // Progress dialogs are counted as they are shown: a quick job closes its dialog before a poll sees it.
        qApp->installEventFilter(this);
    }
    ~DialogWatcher() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject *object, QEvent *event) override {
        if (event->type() == QEvent::Show && dynamic_cast<ProgressDialog *>(object) &&
            !shown_.contains(static_cast<QWidget *>(object))) {
            shown_ << static_cast<QWidget *>(object);
            ++progress_dialogs;
        }
        return false;
    }

private:
    void Poll() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || handled_.contains(modal)) return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            handled_ << modal;
            messages.push_back(box->text().toStdString());
            box->accept();
        } else if (auto *question = dynamic_cast<OverwriteDialog *>(modal)) {
            handled_ << modal;
            questions.push_back(question->Message().toStdString());
            int answer = OVERWRITE_YES;
            if (!overwrite_answers.empty()) {
                answer = overwrite_answers.front();
                overwrite_answers.pop_front();
            }
            question->Button(answer)->click();
        } else if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
            handled_ << modal;
            ++file_dialogs;
            if (folder.empty()) {
                chooser->reject();
            } else {
                chooser->setDirectory(QString::fromStdString(folder));
                chooser->selectFile(QString::fromStdString(folder));
                static_cast<QDialog *>(chooser)->accept();
            }
        }
    }

    QTimer timer_;
    QList<QPointer<QWidget>> handled_, shown_;
};

// The program's objects as main() makes them, over a private folder.
struct Program {
    qorvex::test::TempDir dir;
    QtUi ui;
    std::unique_ptr<CLumastApp> app;
    std::unique_ptr<CMainFrame> frame;
    std::string library = EngineLibrary();
    bool fixed_size = true;  // false: the window keeps the size it chose itself

    explicit Program(bool fixed = true) : fixed_size(fixed) {
        std::filesystem::create_directories(dir / "tmp");
        Start();
    }
    ~Program() { Stop(); }

    void Start() {
        app = std::make_unique<CLumastApp>(ui, dir / "lumast.INI");
        ui.SetFontFace(app->FontFace());
        DocumentOptions options;
        options.library_path = library;
        options.temp_root = dir / "tmp";
        app->InitInstance(options);
        frame = std::make_unique<CMainFrame>(*app, ui);
        if (fixed_size) frame->resize(900, 640);
        frame->ShowInitially();
        QApplication::processEvents();
    }
    void Stop() {
        if (frame) frame->close();
        frame.reset();
        if (app) app->ExitInstance();
        app.reset();
    }
    void Restart() {
        Stop();
        Start();
    }
    CLumastDoc &Doc() { return *app->Document(); }
    CLumastView &View() { return *app->View(); }
    // Texts of one column of the file list as the widget shows them.
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> texts;
        QAbstractItemModel *model = frame->FileList()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            texts.push_back(model->index(r, column).data().toString().toStdString());
        return texts;
    }
    // The row showing `name` in the first column, or -1.
    int RowOf(const std::string &name) const {
        const auto names = Column(0);
        const auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<int>(it - names.begin());
    }
    std::string Title() const { return frame->windowTitle().toStdString(); }
};

// Source files of the test image, relative path -> contents.
inline const std::vector<std::pair<std::string, std::string>> &SourceFiles() {
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"README.TXT", "read me\n"}, {"Docs/Guide.txt", std::string(5000, 'g')}, {"Docs/notes.txt", "notes\n"},
        {"SETUP.EXE", "MZ"},         {"big.bin", std::string(600000, 'b')},      {"日本語のなまえ.txt", "j"},
    };
    return files;
}

// An ISO 9660 + Joliet (+ UDF with `udf`) image made by genisoimage from SourceFiles(); empty when genisoimage
// failed.
inline std::string MakeImage(const qorvex::test::TempDir &dir, const std::string &name, bool udf = false) {
    const std::string source = dir / ("src-" + name);
    for (const auto &[path, text] : SourceFiles()) {
        std::filesystem::create_directories(std::filesystem::path(source + "/" + path).parent_path());
        qorvex::test::WriteFile(source + "/" + path, text);
    }
    const std::string image = dir / name;
    const std::string command = std::string("genisoimage -quiet -J -input-charset utf-8 ") + (udf ? "-udf " : "") +
                                "-V QTEST -o '" + image + "' '" + source + "'";
    return qorvex::test::RunCommand(command) == 0 ? image : std::string();
}

}  // namespace lumast::qt::test
