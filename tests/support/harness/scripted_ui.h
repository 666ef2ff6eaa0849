// A UiServices that records every call and answers from a script.
#pragma once

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "document.h"
#include "file_list_model.h"
#include "support/temp_dir.h"
#include "ui_services.h"
#include "view.h"

namespace lumast::test {

class ScriptedUi : public UiServices {
public:
    // Script.
    std::deque<int> overwrite_answers;  // empty: "はい(&Y)"
    bool keep_damaged = false;          // the answer to the question about a cut image's damaged files
    bool folder_ok = true;
    std::string folder_answer;  // empty: the proposed folder
    std::string track_file_answer;
    int abort_after_advances = -1;  // abort flag raised once this many advances were made
    ShellResult shell_result = ShellResult::Ok;
    FileTypeVerbs verbs;
    std::string documents = "/home/user/Documents";
    bool saver_active = true;

    // Records.
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::vector<std::string> asked;  // overwrite prompts
    std::vector<std::string> begun;  // progress begin-file descriptions
    std::vector<std::string> folder_initials;
    std::vector<TrackSaveRequest> track_requests;
    std::vector<std::pair<std::string, std::string>> shell;  // path, verb ("<open with>" for the chooser)
    std::string summary;
    std::vector<TrackInfo> tracks;
    int track_select = -2;
    int publishes = 0;
    int advances = 0;
    uint64_t advanced_bytes = 0;
    int closes = 0;

    struct ResultBox {
        std::string text;
        Beep beep;
        BoxIcon icon;
    };

    void ShowMessage(const std::string &text, Beep beep, BoxIcon icon) override {
        messages.push_back(text);
        boxes_.push_back({text, beep, icon});
        log.push_back("message " + text);
    }
    bool AskKeepDamaged(const std::string &question) override {
        log.push_back("ask " + question);
        return keep_damaged;
    }
    int AskOverwrite(const std::string &path) override {
        asked.push_back(path);
        if (overwrite_answers.empty()) return OVERWRITE_YES;
        const int a = overwrite_answers.front();
        overwrite_answers.pop_front();
        return a;
    }
    void RunOperation(const std::function<void()> &body) override {
        log.push_back("run");
        body();
    }
    void ProgressBeginFile(const std::string &d, uint64_t, uint64_t) override { begun.push_back(d); }
    int ProgressAdvance(uint64_t bytes) override {
        ++advances;
        advanced_bytes += bytes;
        return abort_after_advances >= 0 && advances >= abort_after_advances ? 1 : 0;
    }
    void ProgressClose() override { ++closes; }
    bool ChooseFolder(const std::string &title, const std::string &initial, std::string *chosen) override {
        log.push_back("choose-folder " + title);
        folder_initials.push_back(initial);
        if (!folder_ok) return false;
        *chosen = folder_answer.empty() ? initial : folder_answer;
        return true;
    }
    bool ChooseTrackFile(const TrackSaveRequest &r, std::string *chosen) override {
        track_requests.push_back(r);
        if (track_file_answer.empty()) return false;
        *chosen = track_file_answer;
        return true;
    }
    ShellResult ShellExecute(const std::string &path, const std::string &verb) override {
        shell.emplace_back(path, verb);
        return shell_result;
    }
    ShellResult ShellOpenWith(const std::string &path) override {
        shell.emplace_back(path, "<open with>");
        return ShellResult::Ok;
    }
    FileTypeVerbs VerbsOfFileType(const std::string &) override { return verbs; }
    std::string DocumentsFolder() override { return documents; }
    bool ScreenSaverActive() override { return saver_active; }
    void SetScreenSaverActive(bool active) override {
        log.push_back(active ? "saver on" : "saver off");
        saver_active = active;
    }
    std::string InterfaceFontFace() override { return "Noto Sans CJK JP"; }
    void SetWaitCursor(bool) override {}
    void FileListPublished(const FileListModel &) override { ++publishes; }
    void TrackListFilled(const std::vector<TrackInfo> &t, int select) override {
        tracks = t;
        track_select = select;
    }
    void SummaryChanged(const std::string &text) override { summary = text; }

    const std::vector<ResultBox> &Boxes() const { return boxes_; }

private:
    std::vector<ResultBox> boxes_;
};

inline std::string EngineLibrary() {
    const char *path = std::getenv("QORVEX_LIBRARY");
    return path ? path : "";
}

// An image made by genisoimage with `options` from `files` (relative path -> contents), written below
// `dir`/src-NAME; its path, or empty when genisoimage failed.
inline std::string GenisoImage(const qorvex::test::TempDir &dir, const std::string &name, const std::string &options,
                               const std::vector<std::pair<std::string, std::string>> &files) {
    const std::string source = dir / ("src-" + name);
    for (const auto &[path, text] : files) {
        std::filesystem::create_directories(std::filesystem::path(source + "/" + path).parent_path());
        qorvex::test::WriteFile(source + "/" + path, text);
    }
    const std::string image = dir / name;
    const std::string command = "genisoimage -quiet " + options + " -o '" + image + "' '" + source + "'";
    return qorvex::test::RunCommand(command) == 0 ? image : std::string();
}

// A document and its view over the scripted UI, a fresh settings file (none with `settings` false), temporary
// root and image folder; the engine is the built one unless `library` names another.
struct Desk {
    qorvex::test::TempDir dir;
    ScriptedUi ui;
    IniProfile ini{dir / "lumast.INI"};
    std::unique_ptr<CLumastDoc> doc;
    std::unique_ptr<CLumastView> view;
    bool settings = true;
    std::string library;

    explicit Desk(bool with_settings = true, const std::string &engine = EngineLibrary())
        : settings(with_settings), library(engine) {
        std::filesystem::create_directories(dir / "tmp");
        Start();
    }
    void Start() {
        DocumentOptions options;
        options.library_path = library;
        options.temp_root = dir / "tmp";
        doc = std::make_unique<CLumastDoc>(ui, settings ? &ini : nullptr, options);
        view = std::make_unique<CLumastView>(*doc, ui);
    }
    void Restart() {
        view.reset();
        doc.reset();
        Start();
    }
    // Writes an image into the folder and returns its path.
    std::string Image(const std::string &name, const std::vector<uint8_t> &bytes) {
        qorvex::test::WriteFile(dir / name, bytes);
        return dir / name;
    }
    bool Open(const std::vector<uint8_t> &bytes) { return doc->OnOpenDocument(Image("image.iso", bytes)); }
    // Extract all through the view, as the menu command does, into `folder`; returns the end message.
    std::string ExtractAllFromMenu(const std::string &folder) {
        ui.folder_answer = folder;
        view->OnCommand(ID_EXTRACT_ALL);
        return ui.messages.empty() ? std::string() : ui.messages.back();
    }
};

}  // namespace lumast::test
