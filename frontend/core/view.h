// The file list view's decisions: commands, enabling rules, context menu, shell verbs and the operation runner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_list_model.h"
#include "ui_services.h"

namespace lumast {

class CLumastDoc;

enum ViewCommand : int {
    ID_EXTRACT_SELECTED = 32771,
    ID_EXTRACT_ALL = 32772,
    ID_EXTRACT_THIS = 32773,
    ID_OPEN_THIS = 32774,
    ID_OPEN_WITH = 32775,
    ID_EXTRACT_TRACK = 32796,
    ID_SELECT_ALL = 57642,
    ID_SHELL_VERB_FIRST = 57872,  // + n, n = 0..15
    ID_SHELL_VERB_LAST = 57887,
};

enum OperationKind : int {
    OP_NONE = 0,
    OP_EXTRACT_ALL = 1,
    OP_EXTRACT_SELECTED = 2,
    OP_EXTRACT_THIS = 3,
    OP_OPEN = 4,
    OP_OPEN_VERB = 5,
    OP_OPEN_WITH = 6,
    OP_TRACK = 7,
    OP_AUDIO_TRACK = 8,
    OP_DRAG = 9,  // the selected rows into a private folder, for dragging them out
};

struct ShellVerb {
    std::string verb;
    std::string text;  // menu text
};

// Verbs offered for an entry name (version suffix cut first); none for executables or names without extension.
std::vector<ShellVerb> CollectShellVerbs(UiServices &ui, const std::string &name);

struct ContextMenu {
    int menu = 0;                  // 130 file menu, 131 track menu, 0 none
    std::vector<ShellVerb> verbs;  // inserted after position 3 with ids 57872 + index
};

class CLumastView {
public:
    CLumastView(CLumastDoc &doc, UiServices &ui);
    ~CLumastView();

    FileListModel &Model() { return model_; }
    const FileListModel &Model() const { return model_; }

    // Commands 32771..32775, 32796, 57642, 57872 + n.
    void OnCommand(int id);
    bool IsEnabled(int id) const;

    // Double-click / Enter: the row becomes current and is opened.
    void OnDoubleClick(int row);
    void OnEnterKey();
    // Right-click: the row (or -1 for empty space) becomes current; returns the menu to show.
    ContextMenu OnRightClick(int row);
    int CurrentRow() const { return current_row_; }
    void SetCurrentRow(int row) { current_row_ = row; }

    // The document's proposal, never empty while an image is open; `fixed`: extract there without asking.
    std::string ProposedDestination(bool *fixed) const;

    int Operation() const { return operation_; }
    const std::string &Destination() const { return destination_; }

    // Dragging rows out of the list: extracts the selected rows into a fresh private folder inside the
    // temporary folder (kept until the program ends) and returns what it then holds, for the drag's URLs.
    // Empty when nothing could be extracted; a failure has been reported.
    std::vector<std::string> ExtractForDrag();

    // The worker's body of the stored operation.
    void OperationBody();

    // Relays used by the document during an operation.
    void BeginFile(const std::string &description, uint64_t file_size, uint64_t total);
    int Advance(uint64_t bytes);
    void CloseProgress();
    bool ProgressOpen() const { return progress_open_; }

    // Called by the document after it refilled the rows.
    void Publish();

private:
    void StartOperation(int kind);
    bool SettleDestination();
    void StartTrackExtraction();
    int32_t RunDocumentOperation();

    CLumastDoc &doc_;
    UiServices &ui_;
    FileListModel model_;
    int operation_ = OP_NONE;
    std::string destination_;
    int current_row_ = -1;
    std::vector<ShellVerb> verbs_;
    int verb_index_ = -1;
    bool progress_open_ = false;
    int32_t last_result_ = 0;
    int drag_folders_ = 0;
};

}  // namespace lumast
