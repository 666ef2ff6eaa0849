// Everything the core asks of windows, dialogs and the desktop shell. The window layer implements it;
// tests implement it with a script. Unless noted, calls come from the user-interface thread; the ones
// marked "worker" are made by a running operation on its worker thread and must be marshalled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "qorvex.h"

namespace lumast {

class FileListModel;

enum class Beep { Default, Exclamation };  // plain message beep / warning sound
enum class BoxIcon { None, Information };

// Overwrite question answers (button ids).
enum OverwriteAnswer : int {
    OVERWRITE_YES = 6,      // "はい(&Y)"
    OVERWRITE_SKIP = 1002,  // "スキップ(&S)", the default button
    OVERWRITE_ALL = 1007,   // "全て上書き(&A)"
    OVERWRITE_ABORT = 2,    // "全中止(&E)", also Escape
};

enum class ShellResult { Ok, NoAssociation, Failed };

// The save dialog for a track.
struct TrackSaveRequest {
    std::string title;           // string 3428
    std::string filter;          // string 3431, "text|patterns|..." pairs
    int filter_index = 1;        // 1-based: 1 wave, 2 binary image
    std::string default_name;    // "Track01"
    std::string default_ext;     // "WAV" or "bin"
    std::string initial_folder;  // may be empty
};

// What the desktop knows about a file type: its default action and its other actions, each with a display text
// (empty when the desktop gives none). On Linux the actions are the applications registered for the MIME type.
struct FileTypeVerbs {
    std::string default_verb;
    std::vector<std::pair<std::string, std::string>> verbs;  // verb, display text
};

class UiServices {
public:
    virtual ~UiServices() = default;

    // Beeps and shows a modal message box titled with the program's name. (worker)
    virtual void ShowMessage(const std::string &text, Beep beep, BoxIcon icon) = 0;

    // Asks whether `path` may be replaced; returns an OverwriteAnswer. (worker; blocks for the answer)
    virtual int AskOverwrite(const std::string &path) = 0;
    // Asks a yes/no `question` (whether the damaged files of a cut image are to be written with zeros where
    // data is missing); true for yes. (worker; blocks for the answer)
    virtual bool AskKeepDamaged(const std::string &question) = 0;

    // Runs `body` on a worker thread behind the modal progress dialog and returns when the dialog has been
    // closed by ProgressClose. The body always ends with ProgressClose.
    virtual void RunOperation(const std::function<void()> &body) = 0;
    // Progress relays to the open dialog (see ProgressState). (worker)
    virtual void ProgressBeginFile(const std::string &description, uint64_t file_size, uint64_t total) = 0;
    // Adds `bytes`; returns the abort flag (non-zero once "中止" was pressed; 0 when no dialog is open).
    virtual int ProgressAdvance(uint64_t bytes) = 0;
    // Sets the closing flag and ends the dialog. (worker)
    virtual void ProgressClose() = 0;

    // Folder chooser (title, file-system folders only, starting at `initial`). False when cancelled.
    virtual bool ChooseFolder(const std::string &title, const std::string &initial, std::string *chosen) = 0;
    // Save dialog for a track. False when cancelled.
    virtual bool ChooseTrackFile(const TrackSaveRequest &request, std::string *chosen) = 0;

    // Shell. An empty verb is the default action. (worker)
    virtual ShellResult ShellExecute(const std::string &path, const std::string &verb) = 0;
    // The desktop's chooser of an application for `path`. (worker)
    virtual ShellResult ShellOpenWith(const std::string &path) = 0;
    // The actions registered for files with this extension (with its dot, e.g. ".txt").
    virtual FileTypeVerbs VerbsOfFileType(const std::string &extension) = 0;
    // The user's documents folder, empty when unknown.
    virtual std::string DocumentsFolder() = 0;

    // Screen saver switch. (worker)
    virtual bool ScreenSaverActive() = 0;
    virtual void SetScreenSaverActive(bool active) = 0;

    // Face name of the interface font ("System" when the platform cannot say).
    virtual std::string InterfaceFontFace() = 0;

    virtual void SetWaitCursor(bool on) = 0;

    // Sinks. The file list was refilled: set the item count, clear every selection and focus, show the idle
    // prompt (string 57345).
    virtual void FileListPublished(const FileListModel &model) = 0;
    // Fill the track list with `tracks` and select row `select` (clear the selection when negative). The core
    // itself calls CLumastDoc::SelectTrack for the initial row; selection changes made while filling must not be
    // forwarded.
    virtual void TrackListFilled(const std::vector<TrackInfo> &tracks, int select) = 0;
    // New text of the image-information bar.
    virtual void SummaryChanged(const std::string &text) = 0;
};

}  // namespace lumast
