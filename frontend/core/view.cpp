#include "view.h"

#include <algorithm>
#include <filesystem>

#include "document.h"
#include "name_shaping.h"
#include "platform.h"
#include "result.h"
#include "string_table.h"
#include "text_format.h"
#include "track_list.h"

namespace lumast {

std::vector<ShellVerb> CollectShellVerbs(UiServices &ui, const std::string &name) {
    std::vector<ShellVerb> verbs;
    const std::string cut = CutVersion(name);
    const std::string extension = ExtensionOf(cut);
    if (extension.empty() || IsExecutableName(cut)) return verbs;
    const FileTypeVerbs type = ui.VerbsOfFileType(extension);
    auto text_of = [&type](const std::string &verb) {
        for (const auto &[v, text] : type.verbs)
            if (v == verb && !text.empty()) return text;
        if (verb == "open") return std::string(LoadString(IDS_VERB_OPEN));
        if (verb == "edit") return std::string(LoadString(IDS_VERB_EDIT));
        if (verb == "play") return std::string(LoadString(IDS_VERB_PLAY));
        return std::string();
    };
    auto add = [&](const std::string &verb) {
        if (verbs.size() >= 16) return;
        for (const ShellVerb &v : verbs)
            if (v.verb == verb) return;
        const std::string text = text_of(verb);
        if (!text.empty()) verbs.push_back({verb, text});
    };
    const std::string &def = type.default_verb;
    if (!def.empty()) add(def);
    if (def != "open" && def != "play" && !OpensForEdit(cut)) add("open");
    if (def != "edit") add("edit");
    // The desktop's further actions for the type (on Linux: the other applications for its MIME type).
    for (const auto &[verb, text] : type.verbs) add(verb);
    return verbs;
}

CLumastView::CLumastView(CLumastDoc &doc, UiServices &ui) : doc_(doc), ui_(ui) {
    doc_.AttachView(this);
}

CLumastView::~CLumastView() {
    doc_.AttachView(nullptr);
}

void CLumastView::Publish() {
    model_.Publish();
    ui_.FileListPublished(model_);
}

bool CLumastView::IsEnabled(int id) const {
    switch (id) {
        case ID_EXTRACT_ALL: return doc_.DataTrack() && model_.RowCount() > 0;
        case ID_EXTRACT_SELECTED: return !model_.SelectedRows().empty();
        case ID_EXTRACT_TRACK: return doc_.CurrentTrack() >= 0;
        default: return true;
    }
}

void CLumastView::OnCommand(int id) {
    const bool any_selected = !model_.SelectedRows().empty();
    switch (id) {
        case ID_EXTRACT_ALL: StartOperation(OP_EXTRACT_ALL); break;
        case ID_EXTRACT_SELECTED:
            if (any_selected) StartOperation(OP_EXTRACT_SELECTED);
            break;
        case ID_EXTRACT_THIS:
            if (any_selected) StartOperation(OP_EXTRACT_THIS);
            break;
        case ID_OPEN_THIS:
            if (any_selected) StartOperation(OP_OPEN);
            break;
        case ID_OPEN_WITH:
            if (any_selected) StartOperation(OP_OPEN_WITH);
            break;
        case ID_EXTRACT_TRACK: StartTrackExtraction(); break;
        case ID_SELECT_ALL: model_.SelectAll(); break;
        default:
            if (id >= ID_SHELL_VERB_FIRST && id <= ID_SHELL_VERB_LAST) {
                const size_t n = static_cast<size_t>(id - ID_SHELL_VERB_FIRST);
                if (n < verbs_.size()) {
                    verb_index_ = static_cast<int>(n);
                    StartOperation(OP_OPEN_VERB);
                }
            }
            break;
    }
}

void CLumastView::OnDoubleClick(int row) {
    current_row_ = row;
    StartOperation(OP_OPEN);
}

void CLumastView::OnEnterKey() {
    current_row_ = model_.Focused();
    StartOperation(OP_OPEN);
}

ContextMenu CLumastView::OnRightClick(int row) {
    ContextMenu menu;
    if (row < 0 || static_cast<size_t>(row) >= model_.RowCount()) {
        current_row_ = -1;
        return menu;
    }
    current_row_ = row;
    verbs_.clear();
    if (doc_.DataTrack()) {
        menu.menu = 130;
        verbs_ = CollectShellVerbs(ui_, model_.Row(static_cast<size_t>(row)).name);
        menu.verbs = verbs_;
    } else {
        menu.menu = 131;
    }
    return menu;
}

std::string CLumastView::ProposedDestination(bool *fixed) const {
    std::string proposed;
    *fixed = doc_.GetProposedDestination(&proposed);
    // An empty folder (no documents folder, an empty fixed folder) would mean the file-system root: the
    // image's own folder stands in for it.
    if (proposed.empty()) {
        const std::string &image = doc_.ImagePath();
        const size_t slash = image.rfind(platform::kSeparator);
        if (slash != std::string::npos) proposed = image.substr(0, slash + 1);
    }
    // Still nothing: ask.
    if (proposed.empty()) *fixed = false;
    return proposed;
}

bool CLumastView::SettleDestination() {
    bool fixed = false;
    const std::string proposed = ProposedDestination(&fixed);
    if (fixed) {
        destination_ = proposed;
        return true;
    }
    std::string chosen;
    if (!ui_.ChooseFolder(LoadString(IDS_CHOOSE_FOLDER), proposed, &chosen)) return false;
    destination_ = chosen;
    doc_.RememberDestination(chosen);
    return true;
}

void CLumastView::StartOperation(int kind) {
    // Without the catalogues of a data track, every file command extracts the track instead.
    if (kind <= OP_OPEN && !doc_.DataTrack()) {
        StartTrackExtraction();
        return;
    }
    if (kind == OP_OPEN) {
        const bool valid = current_row_ >= 0 && static_cast<size_t>(current_row_) < model_.RowCount();
        if (valid && IsExecutableName(model_.Row(static_cast<size_t>(current_row_)).name)) {
            ReportResult(ui_, RESULT_REFUSED_EXECUTABLE);
            return;
        }
    }
    if (kind == OP_EXTRACT_ALL || kind == OP_EXTRACT_SELECTED || kind == OP_EXTRACT_THIS) {
        if (!SettleDestination()) return;
    }
    operation_ = kind;
    progress_open_ = true;
    ui_.RunOperation([this] { OperationBody(); });
    progress_open_ = false;
}

void CLumastView::StartTrackExtraction() {
    const TrackInfo *track = doc_.CurrentTrackInfo();
    if (model_.RowCount() == 0 || !track) return;
    const bool audio = IsAudioTrackType(track->format);
    TrackSaveRequest request;
    request.title = LoadString(IDS_SAVE_TRACK_TITLE);
    request.filter = LoadString(IDS_TRACK_FILTER);
    request.filter_index = audio ? 1 : 2;
    request.default_name = Format(LoadString(IDS_TRACK_NAME), track->track);
    request.default_ext = LoadString(audio ? IDS_EXT_WAV : IDS_EXT_BIN);
    bool fixed = false;
    request.initial_folder = ProposedDestination(&fixed);
    std::string chosen;
    if (!ui_.ChooseTrackFile(request, &chosen)) return;
    destination_ = chosen;
    operation_ = audio ? OP_AUDIO_TRACK : OP_TRACK;
    progress_open_ = true;
    ui_.RunOperation([this] { OperationBody(); });
    progress_open_ = false;
}

std::vector<std::string> CLumastView::ExtractForDrag() {
    std::vector<std::string> paths;
    if (!doc_.DataTrack() || model_.SelectedRows().empty() || doc_.TempFolder().empty()) return paths;
    std::string folder;
    bool made = false;
    for (int tries = 0; tries < 1000 && !made; ++tries) {
        folder = doc_.TempFolder() + Format("/drag%d", ++drag_folders_);
        made = platform::CreatePrivateFolder(folder);
    }
    if (!made) return paths;
    destination_ = folder;
    operation_ = OP_DRAG;
    progress_open_ = true;
    ui_.RunOperation([this] { OperationBody(); });
    progress_open_ = false;
    if (last_result_ != RESULT_FINISHED) return paths;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

int32_t CLumastView::RunDocumentOperation() {
    const bool valid = current_row_ >= 0 && static_cast<size_t>(current_row_) < model_.RowCount();
    const std::string folder = WithSeparator(destination_);
    switch (operation_) {
        case OP_EXTRACT_ALL: return doc_.ExtractAll(destination_);
        case OP_EXTRACT_SELECTED: {
            std::vector<FileRow> rows;
            for (size_t i : model_.SelectedRows()) rows.push_back(model_.Row(i));
            return doc_.ExtractRows(folder, rows);
        }
        case OP_EXTRACT_THIS: {
            if (!valid) return RESULT_NOT_FOUND;
            const FileRow row = model_.Row(static_cast<size_t>(current_row_));
            return row.extent_count > 1 ? doc_.ExtractWholeFile(folder, row) : doc_.ExtractRows(folder, {row});
        }
        case OP_OPEN:
        case OP_OPEN_WITH:
            if (!valid) return RESULT_NOT_FOUND;
            return doc_.OpenFromImage(model_.Row(static_cast<size_t>(current_row_)), {}, operation_ == OP_OPEN_WITH);
        case OP_OPEN_VERB:
            if (!valid || verb_index_ < 0 || static_cast<size_t>(verb_index_) >= verbs_.size()) return RESULT_NOT_FOUND;
            return doc_.OpenFromImage(model_.Row(static_cast<size_t>(current_row_)),
                                      verbs_[static_cast<size_t>(verb_index_)].verb, false);
        case OP_TRACK: return doc_.ExtractCurrentTrack(destination_, 0);
        case OP_AUDIO_TRACK: return doc_.ExtractCurrentTrack(destination_, TRACK_RAW | TRACK_WAV);
        case OP_DRAG: {
            std::vector<FileRow> rows;
            for (size_t i : model_.SelectedRows()) rows.push_back(model_.Row(i));
            return doc_.ExtractRows(folder, rows);
        }
        default: return RESULT_BAD_KIND;
    }
}

void CLumastView::OperationBody() {
    const bool saver = ui_.ScreenSaverActive();
    if (saver) ui_.SetScreenSaverActive(false);
    const int32_t result = RunDocumentOperation();
    last_result_ = result;
    const bool opening = operation_ == OP_OPEN || operation_ == OP_OPEN_VERB || operation_ == OP_OPEN_WITH;
    // A drag goes on once the files are there: only a failure is worth a message.
    if (result != RESULT_FINISHED || (!opening && operation_ != OP_DRAG))
        ReportResult(ui_, result, doc_.TakeExtractionReport());
    if (!opening || result != RESULT_FINISHED) CloseProgress();
    if (saver) ui_.SetScreenSaverActive(true);
}

void CLumastView::BeginFile(const std::string &description, uint64_t file_size, uint64_t total) {
    if (progress_open_) ui_.ProgressBeginFile(description, file_size, total);
}

int CLumastView::Advance(uint64_t bytes) {
    return progress_open_ ? ui_.ProgressAdvance(bytes) : 0;
}

void CLumastView::CloseProgress() {
    if (!progress_open_) return;
    ui_.ProgressClose();
}

}  // namespace lumast
