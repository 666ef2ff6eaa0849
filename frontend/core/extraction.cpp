// The document's operations that write parts of the image to disk or open them. Every file is made through the
// safe output tree and filled from the engine's callback: the engine is never handed a target path, so nothing
// planted in a destination can lead the data elsewhere.
#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "copy_queue.h"
#include "disc.h"
#include "document.h"
#include "extent_groups.h"
#include "extract_job.h"
#include "file_system_choice.h"
#include "name_shaping.h"
#include "platform.h"
#include "result.h"
#include "string_table.h"
#include "text_format.h"
#include "view.h"

namespace lumast {
namespace {

// Lines of the end message beyond which the rest is only counted.
constexpr size_t kListedNotes = 20;

uint64_t SizeOf(const EntryInfo &entry) {
    return (uint64_t(entry.size_high) << 32) | entry.size_low;
}

std::string NameOf(EntryInfo &entry) {
    entry.name[sizeof entry.name - 1] = '\0';
    return entry.name;
}

int CatalogueKind(int32_t list_kind) {
    switch (list_kind) {
        case LIST_ISO_FILES:
        case LIST_ISO_SYSTEM: return KIND_ISO9660;
        case LIST_JOLIET_FILES:
        case LIST_JOLIET_SYSTEM: return KIND_JOLIET;
        case LIST_UDF_FILES:
        case LIST_UDF_SYSTEM: return KIND_UDF;
        case LIST_ROCKRIDGE_FILES: return KIND_ROCKRIDGE;
        default: return 0;
    }
}

// The target path as the user sees it in the progress window and the overwrite question.
std::string Shown(const std::string &folder, const std::vector<std::string> &components) {
    return WithSeparator(folder) + host::JoinComponents(components);
}

// The folder part of an image path, "\" for the root.
std::string FolderOf(const std::string &name) {
    const size_t slash = name.rfind('\\');
    return slash == std::string::npos ? std::string("\\") : name.substr(0, slash + 1);
}

// NAME[n].EXT for the n-th try of a free name in the temporary folder.
std::string NumberedName(const std::string &file, int n) {
    const size_t dot = file.rfind('.');
    const std::string base = dot == std::string::npos ? file : file.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
    return base + "[" + std::to_string(n) + "]" + ext;
}

}  // namespace

int32_t CLumastDoc::OpenOnDemand() {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    if (handle_) return 0;
    int32_t error = 0;
    handle_ = binding_.Table().Open(image_path_.c_str(), settings_.OpenOptions(), &error);
    if (handle_) return 0;
    return error != 0 ? error : ENGINE_UNKNOWN_FORMAT;
}

// Progress relays; nothing is reported when there is no view.
void CLumastDoc::BeginFile(const std::string &target, uint64_t size, uint64_t total) {
    if (view_) view_->BeginFile(target, size, total);
}
void CLumastDoc::AdvanceProgress(uint64_t bytes) {
    if (view_) view_->Advance(bytes);
}
void CLumastDoc::CloseProgress() {
    if (view_) view_->CloseProgress();
}

int32_t QORVEX_CALL CLumastDoc::EngineProgressCallback(int32_t, void *user, const void *, int32_t length) {
    if (!user) return 1;
    CLumastDoc *doc = static_cast<CLumastDoc *>(user);
    if (doc->view_ && doc->view_->ProgressOpen() && length > 0 &&
        doc->view_->Advance(static_cast<uint64_t>(length)) != 0)
        return 0;
    return 1;
}

int32_t QORVEX_CALL CLumastDoc::EngineOutputCallback(int32_t kind, void *user, const void *data, int32_t length) {
    if (!user) return 1;
    CLumastDoc *doc = static_cast<CLumastDoc *>(user);
    if (length < 0) return 0;
    if (doc->output_.IsOpen() && length > 0 && !doc->output_.Append(data, static_cast<size_t>(length))) return 0;
    return EngineProgressCallback(kind, user, data, length);
}

// ---- The end message

void CLumastDoc::ResetReport() {
    notes_.clear();
    failure_.clear();
}

void CLumastDoc::Note(const std::string &line) {
    // Names cut in one folder come one after another and say the same.
    if (notes_.empty() || notes_.back() != line) notes_.push_back(line);
}

std::string CLumastDoc::TakeExtractionReport() {
    std::string report = failure_;
    if (!notes_.empty()) {
        if (!report.empty()) report += "\n\n";
        report += LoadString(IDS_NOT_EXTRACTED);
        for (size_t i = 0; i < notes_.size() && i < kListedNotes; ++i) report += "\n" + notes_[i];
        if (notes_.size() > kListedNotes)
            report += "\n" + Format(LoadString(IDS_MORE_NOT_EXTRACTED), static_cast<int>(notes_.size() - kListedNotes));
    }
    ResetReport();
    return report;
}

void CLumastDoc::NoteSkippedFolders(int kind) {
    const EngineTable &e = binding_.Table();
    if (!e.ExGetSkippedFolders) return;
    const int32_t skipped = e.ExGetSkippedFolders(handle_, current_track_, kind);
    if (skipped > 0) Note(Format(LoadString(IDS_FOLDERS_TOO_DEEP), static_cast<int>(skipped)));
}

uint32_t CLumastDoc::CurrentEntryFlags() const {
    const EngineTable &e = binding_.Table();
    if (!e.ExGetCurrentFile) return 0;
    QorvexExEntry details{};
    details.struct_size = sizeof details;
    return e.ExGetCurrentFile(handle_, &details) == 0 ? details.flags : 0;
}

// A name cut by the record's limit, or one that leaves nothing to create, is not extracted; true when refused.
bool CLumastDoc::RefusedName(const std::string &image_name, bool cut, bool nothing_left) {
    if (cut)
        Note(Format(LoadString(IDS_NAME_CUT), FolderOf(image_name).c_str()));
    else if (nothing_left)
        Note(Format(LoadString(IDS_UNSAFE_NAME), image_name.c_str()));
    return cut || nothing_left;
}

// ---- One target: overwrite check, creation, data, end

int CLumastDoc::Overwrite(const std::vector<std::string> &components, const std::string &shown) {
    if (overwrite_ == OVERWRITE_ALL) return overwrite_;
    // A folder in the way is no question to ask: the creation refuses it.
    overwrite_ = tree_.Probe(components, nullptr) == host::OutputTree::Presence::kSomething ? ui_.AskOverwrite(shown)
                                                                                            : OVERWRITE_YES;
    return overwrite_;
}

int32_t CLumastDoc::OpenTree(const std::string &folder) {
    host::OutputProblem problem;
    if (tree_.Open(folder, &problem)) return 0;
    failure_ = Format(LoadString(IDS_FAILED_FILE), folder.c_str()) + "\n" + std::strerror(problem.error);
    return ENGINE_OUTPUT_OPEN_FAILED;
}

// 0 when the file was made; RESULT_SKIPPED when something is in the way (noted, the operation goes on); else the
// code that ends the operation.
int32_t CLumastDoc::CreateTarget(const std::vector<std::string> &components, const std::string &shown,
                                 const std::string &image_name, mode_t mode, host::OutputFile *into) {
    host::OutputProblem problem;
    // Only reached after the overwrite check allowed replacing whatever is there.
    if (tree_.Create(components, true, into ? into : &output_, &problem, mode)) return 0;
    if (problem.refusal == host::Refusal::kInTheWay || problem.refusal == host::Refusal::kExists) {
        Note(Format(LoadString(IDS_IN_THE_WAY), image_name.c_str(), problem.where.c_str()));
        return RESULT_SKIPPED;
    }
    failure_ = Format(LoadString(IDS_FAILED_FILE), shown.c_str());
    if (problem.error) failure_ += std::string("\n") + std::strerror(problem.error);
    return ENGINE_OUTPUT_OPEN_FAILED;
}

// The result of an engine extraction into the open file: on failure the file is removed and the code says why
// (a failed write stops the engine as an abort would, so it is told apart here).
int32_t CLumastDoc::Deliver(const std::string &shown, int32_t result) {
    if (result == 0) return 0;
    const int error = output_.WriteError();
    output_.Discard();
    if (result == ENGINE_ABORTED && error == 0) return result;
    failure_ = Format(LoadString(IDS_FAILED_FILE), shown.c_str());
    if (error) {
        failure_ += std::string("\n") + std::strerror(error);
        return ENGINE_WRITE_FAILED;
    }
    return result;
}

int32_t CLumastDoc::FinishTarget(const std::string &shown, int64_t modified) {
    host::OutputProblem problem;
    if (output_.Finish(modified, &problem)) return 0;
    failure_ = Format(LoadString(IDS_FAILED_FILE), shown.c_str()) + "\n" + std::strerror(problem.error);
    return ENGINE_WRITE_FAILED;
}

// ---- Operations

bool CLumastDoc::GetProposedDestination(std::string *folder) const {
    if (!remembered_destination_.empty() && !settings_.no_select_dialog) {
        *folder = remembered_destination_;
    } else if (settings_.initial_path_type == 0) {
        *folder = ui_.DocumentsFolder();
    } else if (settings_.initial_path_type == 2) {
        *folder = settings_.appoint_path;
    } else {
        const size_t slash = image_path_.rfind(platform::kSeparator);
        *folder = slash == std::string::npos ? std::string() : image_path_.substr(0, slash + 1);
    }
    return settings_.no_select_dialog != 0;
}

std::string CLumastDoc::VolumeLabelFolder(int kind) {
    if (!handle_ || !data_track_ || !settings_.add_volume_label) return {};
    char label[34] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    if (binding_.Table().GetImageInformation(handle_, current_track_, kind, label, &sectors, &bytes) <= 0) return {};
    return host::SafeComponent(label);
}

namespace {

// The desktop's answers to the shared extraction job: the overwrite prompt, the progress window, and what the
// end message tells.
class DesktopDecisions : public host::Decisions {
public:
    std::function<int(const std::string &)> ask;
    std::function<void(const std::string &, uint64_t)> begin;
    std::function<bool(uint64_t)> advance;
    std::function<void(const host::ExtractItem &, const host::Outcome &)> finished;

    Answer AtTarget(const host::ExtractItem &, const std::string &shown) override {
        switch (ask(shown)) {
            case OVERWRITE_ALL: return Answer::kReplaceAll;
            case OVERWRITE_SKIP: return Answer::kSkip;
            case OVERWRITE_ABORT: return Answer::kAbort;
            default: return Answer::kReplace;
        }
    }
    void Begin(const host::ExtractItem &item, const std::string &shown) override { begin(shown, item.size); }
    bool Advance(uint64_t bytes) override { return advance(bytes); }
    void Finished(const host::ExtractItem &item, const std::string &, const host::Outcome &outcome) override {
        finished(item, outcome);
    }
};

}  // namespace

void CLumastDoc::NotePlan(const host::ExtractPlan &plan) {
    for (const host::PlanNote &note : plan.notes) {
        switch (note.what) {
            case host::PlanNote::What::kNameCut: RefusedName(note.image_name, true, false); break;
            case host::PlanNote::What::kUnsafeName: RefusedName(note.image_name, false, true); break;
            case host::PlanNote::What::kLinkLeavesFolder:
            case host::PlanNote::What::kNoLinks:
                Note(Format(LoadString(IDS_LINK_LEAVES), note.image_name.c_str()));
                break;
            case host::PlanNote::What::kSpecialFile:
                Note(Format(LoadString(IDS_SPECIAL_FILE), note.image_name.c_str()));
                break;
            case host::PlanNote::What::kDamaged:
                Note(Format(LoadString(IDS_DAMAGED_NOT_EXTRACTED), note.image_name.c_str()));
                break;
        }
    }
    int damaged = 0;
    for (const host::ExtractItem &item : plan.items)
        if (item.damaged) {
            Note(Format(LoadString(IDS_DAMAGED_KEPT), item.image_name.c_str()));
            ++damaged;
        }
    damaged += static_cast<int>(std::count_if(plan.notes.begin(), plan.notes.end(), [](const host::PlanNote &n) {
        return n.what == host::PlanNote::What::kDamaged;
    }));
    if (damaged > 0) Note(Format(LoadString(IDS_DAMAGED_COUNT), damaged));
    if (plan.skipped_folders > 0)
        Note(Format(LoadString(IDS_FOLDERS_TOO_DEEP), static_cast<int>(plan.skipped_folders)));
}

int32_t CLumastDoc::RunJob(const host::Disc &disc, const host::ExtractPlan &plan, const std::string &destination,
                           bool *last_skipped) {
    DesktopDecisions decisions;
    decisions.ask = [this](const std::string &shown) {
        overwrite_ = ui_.AskOverwrite(shown);
        return overwrite_;
    };
    decisions.begin = [this](const std::string &shown, uint64_t size) { BeginFile(shown, size, byte_total_); };
    decisions.advance = [this](uint64_t n) { return !(view_ && view_->ProgressOpen() && view_->Advance(n) != 0); };
    const host::ExtractItem *skipped = nullptr;
    decisions.finished = [&](const host::ExtractItem &item, const host::Outcome &outcome) {
        if (outcome.kind != host::Outcome::Kind::kSkipped) return;
        skipped = &item;
        if (outcome.problem.refusal == host::Refusal::kInTheWay)
            Note(Format(LoadString(IDS_IN_THE_WAY), item.image_name.c_str(), outcome.problem.where.c_str()));
    };
    host::JobOptions options;
    options.shown_root = WithSeparator(destination);
    options.stop_at_failure = true;  // the first failure ends the operation
    const host::JobSummary summary = host::RunExtraction(disc, plan, tree_, decisions, options);
    if (last_skipped) *last_skipped = !plan.items.empty() && skipped == &plan.items.back();
    if (summary.aborted) return RESULT_CANCELLED;
    if (summary.stopped) return ENGINE_ABORTED;
    if (summary.failed == 0) return RESULT_FINISHED;
    const host::Outcome &f = summary.first_failure;
    failure_ = Format(LoadString(IDS_FAILED_FILE), summary.first_failed_shown.c_str());
    if (f.problem.error) failure_ += std::string("\n") + std::strerror(f.problem.error);
    if (f.result == ENGINE_ABORTED) failure_.clear();
    if (f.result != 0) return f.result;
    return f.problem.refusal == host::Refusal::kWriteFailed ? ENGINE_WRITE_FAILED : ENGINE_OUTPUT_OPEN_FAILED;
}

int32_t CLumastDoc::ExtractAll(const std::string &destination) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    overwrite_ = OVERWRITE_YES;
    ResetReport();
    if (const int32_t r = OpenOnDemand()) return r;
    const host::Disc disc(binding_.Table(), handle_, settings_.OpenOptions());

    // With the extensions read, the command line's choice (Rock Ridge first); else the one of the base window.
    int kind =
        host::PreferredKind(disc.FileCount(current_track_, KIND_ISO9660), disc.FileCount(current_track_, KIND_JOLIET),
                            disc.FileCount(current_track_, KIND_UDF), settings_.prefer_udf != 0);
    if (settings_.extensions && kind != 0) kind = disc.ChooseKind(current_track_, KIND_AUTO, settings_.prefer_udf != 0);
    if (kind == 0 || disc.FileCount(current_track_, kind) == 0) return RESULT_NOT_FOUND;

    host::PathSelection everything;
    host::PlanOptions options;
    if (const std::string label = VolumeLabelFolder(kind == KIND_ROCKRIDGE ? KIND_ISO9660 : kind); !label.empty())
        options.prefix = {label};
    host::ExtractPlan plan = host::PlanTree(disc, current_track_, kind, everything, options);
    // Files of a cut image that lack data: asked once whether they are wanted with zeros where data is missing.
    const auto damaged = std::count_if(plan.notes.begin(), plan.notes.end(), [](const host::PlanNote &n) {
        return n.what == host::PlanNote::What::kDamaged;
    });
    if (damaged > 0 && ui_.AskKeepDamaged(Format(LoadString(IDS_KEEP_DAMAGED_QUESTION), static_cast<int>(damaged)))) {
        options.keep_damaged = true;
        everything = host::PathSelection();
        plan = host::PlanTree(disc, current_track_, kind, everything, options);
    }
    byte_total_ = plan.total;
    NotePlan(plan);
    if (const int32_t r = OpenTree(destination)) return r;
    return RunJob(disc, plan, destination);
}

int32_t CLumastDoc::ExtractRows(const std::string &destination, const std::vector<FileRow> &rows) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    ResetReport();
    if (const int32_t r = OpenOnDemand()) return r;
    overwrite_ = OVERWRITE_SKIP;
    byte_total_ = 0;
    for (const FileRow &row : rows) byte_total_ += row.size;
    const host::Disc disc(binding_.Table(), handle_, settings_.OpenOptions());
    // Rows of a cut image that lack data: asked once whether they are wanted with zeros where data is missing.
    const int damaged =
        static_cast<int>(std::count_if(rows.begin(), rows.end(), [](const FileRow &r) { return r.damaged; }));
    const bool keep_damaged = damaged > 0 && ui_.AskKeepDamaged(Format(LoadString(IDS_KEEP_DAMAGED_QUESTION), damaged));

    // Each row becomes one item, named by the row rules; a row that is not found ends the list there.
    host::ExtractPlan plan;
    plan.track = current_track_;
    int32_t ended = 0;
    bool parts_plan = false;
    std::vector<host::Entry> entries;  // of the catalogue of the row in hand, listed once
    std::unordered_map<std::string, size_t> first_of;
    int listed_kind = -1;
    bool listed_part = false;
    for (const FileRow &row : rows) {
        const bool part = row.list_kind >= LIST_ISO_SYSTEM && row.list_kind <= LIST_UDF_SYSTEM;
        if (!IsFileListKind(row.list_kind) && !part) {
            ended = RESULT_BAD_KIND;
            break;
        }
        const int kind = CatalogueKind(row.list_kind);
        // One plan walks one catalogue: a row of another ends this plan, which runs before the next begins.
        if (!plan.items.empty() && (plan.kind != kind || parts_plan != part)) {
            const int32_t r = RunJob(disc, plan, destination);
            if (r != RESULT_FINISHED && r != RESULT_SKIPPED) return r;
            plan.items.clear();
        }
        if (plan.items.empty() && OpenTree(destination) != 0) return ENGINE_OUTPUT_OPEN_FAILED;
        plan.kind = kind;
        parts_plan = part;
        if (listed_kind != kind || listed_part != part) {
            entries = disc.List(current_track_, kind, part);
            first_of.clear();
            for (size_t i = entries.size(); i-- > 0;)  // the first entry of a name (and extent) is the one taken
                first_of[entries[i].name + (part ? "" : "\n" + std::to_string(entries[i].extent_index))] = i;
            listed_kind = kind;
            listed_part = part;
        }
        const auto found = first_of.find(row.name + (part ? "" : "\n" + std::to_string(row.extent_index)));
        if (found == first_of.end()) {
            ended = part ? RESULT_PART_NOT_FOUND : RESULT_NOT_FOUND;
            break;
        }
        const size_t index = found->second;
        const host::Entry &e = entries[index];
        host::ExtractItem item;
        item.image_name = e.name;
        if (part) {
            // The shaped part name is one file name: no "\\" is left to split on.
            if (std::string one = host::SafeComponent(ShapePartName(e.name)); !one.empty()) item.target = {one};
        } else {
            item.target = host::TargetComponents(
                ShapeFileName(e.name, settings_.include_path != 0, e.extent_count, e.extent_index, true), false);
        }
        if (RefusedName(e.name, !part && e.name_cut, item.target.empty())) {
            AdvanceProgress(e.size);
            continue;
        }
        item.has_date = e.has_date;
        item.date = e.date;
        if (e.IsPosix()) item.has_mode = true, item.mode = e.mode & 0777u;
        if (e.type == QORVEX_EX_TYPE_SYMLINK && (e.ex_flags & QORVEX_EX_SYMLINK)) {
            const std::vector<std::string> folder(item.target.begin(), item.target.end() - 1);
            if (!host::LinkStaysInside(folder, e.link_target)) {
                Note(Format(LoadString(IDS_LINK_LEAVES), e.name.c_str()));
                continue;
            }
            item.type = host::ItemType::kSymlink;
            item.link_target = e.link_target;
        } else if (e.type == QORVEX_EX_TYPE_SPECIAL) {
            Note(Format(LoadString(IDS_SPECIAL_FILE), e.name.c_str()));
            continue;
        } else if (e.damaged && !part && !keep_damaged) {
            Note(Format(LoadString(IDS_DAMAGED_NOT_EXTRACTED), e.name.c_str()));
            AdvanceProgress(e.size);
            continue;
        } else {
            item.entries = {static_cast<int32_t>(index)};
            item.sizes = {e.size};
            item.size = e.size;
            item.from_parts = part;
            item.damaged = e.damaged && !part;
            item.missing = e.missing;
            if (item.damaged) Note(Format(LoadString(IDS_DAMAGED_KEPT), e.name.c_str()));
        }
        plan.items.push_back(std::move(item));
    }
    if (damaged > 0) Note(Format(LoadString(IDS_DAMAGED_COUNT), damaged));
    int32_t result = RESULT_FINISHED;
    if (!plan.items.empty()) {
        bool last_skipped = false;
        result = RunJob(disc, plan, destination, &last_skipped);
        if (result == RESULT_FINISHED && last_skipped) result = RESULT_SKIPPED;
    }
    if (ended && (result == RESULT_FINISHED || result == RESULT_SKIPPED)) return ended;
    return result;
}

int32_t CLumastDoc::ExtractWholeFile(const std::string &destination, const FileRow &row) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    ResetReport();
    if (const int32_t r = OpenOnDemand()) return r;
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineOutputCallback, this);
    overwrite_ = OVERWRITE_SKIP;
    byte_total_ = 0;
    if (e.GetFileStart(handle_, current_track_, KIND_UDF) == 0) return RESULT_NOT_FOUND;
    int32_t more;
    bool cut = false;
    do {
        EntryInfo entry{};
        more = e.GetNextFile(handle_, &entry);
        if (NameOf(entry) == row.name) {
            byte_total_ += SizeOf(entry);
            cut = cut || (CurrentEntryFlags() & QORVEX_EX_NAME_CUT) != 0;
        }
    } while (more != 0);
    if (byte_total_ == 0 || e.GetFileStart(handle_, current_track_, KIND_UDF) == 0) return RESULT_NOT_FOUND;
    EntryInfo entry{};
    bool found = false;
    do {
        more = e.GetNextFile(handle_, &entry);
        if (NameOf(entry) == row.name && entry.extent_index == 0) {
            found = true;
            break;
        }
    } while (more != 0);
    if (!found) return RESULT_NOT_FOUND;
    const std::string name = NameOf(entry);
    const std::vector<std::string> components =
        host::TargetComponents(ShapeFileName(name, settings_.include_path != 0, 0, 0, false), false);
    if (RefusedName(name, cut, components.empty())) return RESULT_SKIPPED;
    if (const int32_t r = OpenTree(destination)) return r;
    const std::string shown = Shown(destination, components);
    const int decision = Overwrite(components, shown);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    BeginFile(shown, byte_total_, byte_total_);
    if (const int32_t r = CreateTarget(components, shown, name)) return r;
    if (const int32_t r = Deliver(shown, e.ExtractCurrentFile2(handle_, nullptr, 0))) return r;
    if (const int32_t r = FinishTarget(shown, entry.time ? entry.time : host::kKeepTime)) return r;
    return RESULT_FINISHED;
}

uint64_t CLumastDoc::TrackByteSize(const TrackInfo &track, uint32_t flags) {
    const int64_t first = (flags & TRACK_PREGAP) ? track.first_held : track.start;
    const int64_t sectors = std::max<int64_t>(0, int64_t(track.end_held) - first);
    uint64_t bytes = uint64_t(sectors) * static_cast<uint32_t>(std::max(track.user_size, 0));
    if (flags & TRACK_WAV) bytes += 44;
    return bytes;
}

int32_t CLumastDoc::ExtractCurrentTrack(const std::string &target, uint32_t flags) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    overwrite_ = OVERWRITE_YES;
    ResetReport();
    // The save dialog's choice: its folder is the destination, its name the one file made there.
    const size_t slash = target.rfind(platform::kSeparator);
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    const std::string file = host::SafeComponent(slash == std::string::npos ? target : target.substr(slash + 1));
    if (RefusedName(target, false, file.empty())) return RESULT_SKIPPED;
    const std::vector<std::string> components = {file};
    if (const int32_t r = OpenTree(folder)) return r;
    const int decision = Overwrite(components, target);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    const TrackInfo *track = CurrentTrackInfo();
    if (!track) return RESULT_FINISHED;
    const TrackInfo record = *track;
    if (const int32_t r = OpenOnDemand()) return r;
    if (settings_.add_pregap) flags |= TRACK_PREGAP;
    byte_total_ = TrackByteSize(record, flags);
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineOutputCallback, this);
    BeginFile(target, byte_total_, byte_total_);
    if (const int32_t r = CreateTarget(components, target, target)) return r;
    if (const int32_t r = Deliver(target, e.ExtractTrack(handle_, current_track_, nullptr, flags))) return r;
    if (const int32_t r = FinishTarget(target, host::kKeepTime)) return r;
    return RESULT_FINISHED;
}

int32_t CLumastDoc::OpenFromImage(const FileRow &row, const std::string &verb, bool open_with) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    // Earlier copies stay until the program ends: the application that got one may still be reading it.
    ResetReport();
    if (const int32_t r = OpenOnDemand()) return r;
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineOutputCallback, this);
    overwrite_ = OVERWRITE_YES;
    byte_total_ = 0;

    const int kind = CatalogueKind(row.list_kind);
    const bool part = row.list_kind >= LIST_ISO_SYSTEM && row.list_kind <= LIST_UDF_SYSTEM;
    if (kind == 0) return RESULT_NOT_FOUND;
    const int32_t start =
        part ? e.GetModuleStart(handle_, current_track_, kind) : e.GetFileStart(handle_, current_track_, kind);
    if (start == 0) return RESULT_NOT_FOUND;
    EntryInfo entry{};
    bool found = false;
    int32_t more;
    do {
        more = part ? e.GetNextModule(handle_, &entry) : e.GetNextFile(handle_, &entry);
        if (NameOf(entry) == row.name && (part || entry.extent_index == row.extent_index)) {
            found = true;
            break;
        }
    } while (more != 0);
    if (!found) return RESULT_NOT_FOUND;
    byte_total_ += SizeOf(entry);

    if (temp_folder_.empty()) return RESULT_BAD_KIND;
    const std::string name = NameOf(entry);
    std::vector<std::string> components;
    if (part) {
        if (std::string one = host::SafeComponent(ShapePartName(name)); !one.empty()) components.push_back(one);
    } else {
        components = host::TargetComponents(CutVersion(name), false);
    }
    const bool cut = !part && (CurrentEntryFlags() & QORVEX_EX_NAME_CUT) != 0;
    if (RefusedName(name, cut, components.empty())) return RESULT_SKIPPED;
    if (OpenTree(temp_folder_) != 0) return RESULT_BAD_KIND;
    // A copy still there from before (in use when it was to be deleted) keeps its name; this one gets NAME[n].EXT.
    const std::string file = components.back();
    for (int n = 1; tree_.Probe(components, nullptr) != host::OutputTree::Presence::kNothing; ++n) {
        if (n > 65535) return RESULT_BAD_KIND;
        components.back() = NumberedName(file, n);
    }
    host::OutputProblem problem;
    if (!tree_.Create(components, false, &output_, &problem, 0600)) return RESULT_BAD_KIND;
    const std::string target = Shown(temp_folder_, components);

    BeginFile(target, SizeOf(entry), byte_total_);
    const int32_t result = part ? e.ExtractCurrentModule(handle_, nullptr) : e.ExtractCurrentFile2(handle_, nullptr, 1);
    if (const int32_t r = Deliver(target, result)) return r;
    CloseProgress();
    if (const int32_t r = FinishTarget(target, host::kKeepTime)) return r;
    LaunchFile(target, verb, open_with);
    last_temp_file_ = target;
    return RESULT_FINISHED;
}

void CLumastDoc::LaunchFile(const std::string &path, const std::string &verb, bool open_with) {
    if (open_with) {
        ui_.ShellOpenWith(path);
    } else if (!verb.empty()) {
        ui_.ShellExecute(path, verb);
    } else if (ui_.ShellExecute(path, OpensForEdit(path) ? "edit" : "") == ShellResult::NoAssociation) {
        ui_.ShellOpenWith(path);
    }
}

}  // namespace lumast
