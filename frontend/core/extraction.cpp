// The document's operations that write parts of the image to disk or open them. Every file is made through the
// safe output tree and filled from the engine's callback: the engine is never handed a target path, so nothing
// planted in a destination can lead the data elsewhere.
#include <cstring>

#include "copy_queue.h"
#include "document.h"
#include "extent_groups.h"
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

// The overwrite check and the creation in one: where nothing is at the name the file is made at once (an
// exclusive create, no look beforehand); else the question decides as in Overwrite. 0 when the file was made,
// RESULT_SKIPPED or RESULT_CANCELLED by the answer, else what CreateTarget gives.
int32_t CLumastDoc::MakeTarget(const std::vector<std::string> &components, const std::string &shown,
                               const std::string &image_name, mode_t mode, host::OutputFile *into) {
    if (overwrite_ != OVERWRITE_ALL) {
        if (tree_.Create(components, false, into ? into : &output_, nullptr, mode)) {
            overwrite_ = OVERWRITE_YES;
            return 0;
        }
        const int decision = Overwrite(components, shown);
        if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
        if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    }
    return CreateTarget(components, shown, image_name, mode, into);
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

int32_t CLumastDoc::ExtractAll(const std::string &destination) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    overwrite_ = OVERWRITE_YES;
    ResetReport();
    if (const int32_t r = OpenOnDemand()) return r;
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineOutputCallback, this);

    int kind = host::PreferredKind(e.GetFileCount(handle_, current_track_, KIND_ISO9660),
                                   e.GetFileCount(handle_, current_track_, KIND_JOLIET),
                                   e.GetFileCount(handle_, current_track_, KIND_UDF), settings_.prefer_udf != 0);
    // Rock Ridge names are shown (and extracted) in place of the ISO 9660 ones.
    const int32_t rockridge = settings_.extensions ? e.GetFileCount(handle_, current_track_, KIND_ROCKRIDGE) : 0;
    if ((kind == KIND_ISO9660 || kind == 0) && rockridge > 0) kind = KIND_ROCKRIDGE;
    if (kind == 0) return RESULT_NOT_FOUND;

    const std::string label = VolumeLabelFolder(kind == KIND_ROCKRIDGE ? KIND_ISO9660 : kind);

    // Listing pass: sizes, and which entries make one file (extents of one file are summed).
    byte_total_ = 0;
    std::vector<host::ListedEntry> listed;
    std::vector<int32_t> times;
    std::vector<bool> cut;
    if (e.GetFileStart(handle_, current_track_, kind) == 0) return RESULT_NOT_FOUND;
    int32_t more;
    do {
        EntryInfo entry{};
        more = e.GetNextFile(handle_, &entry);
        const uint32_t flags = CurrentEntryFlags();
        listed.push_back({NameOf(entry), SizeOf(entry), entry.extent_count, entry.extent_index,
                          (flags & QORVEX_EX_MULTI_EXTENT) != 0});
        times.push_back(entry.time);
        cut.push_back((flags & QORVEX_EX_NAME_CUT) != 0);
        byte_total_ += SizeOf(entry);
    } while (more != 0);
    const std::vector<host::OutputGroup> groups = host::GroupExtents(listed, kind == KIND_UDF);
    const std::vector<size_t> group_of = host::GroupOfEntries(groups, listed.size());
    if (const int32_t r = OpenTree(destination)) return r;

    if (e.GetFileStart(handle_, current_track_, kind) == 0) return RESULT_NOT_FOUND;
    // With the engine's copy export, files are filled through the kernel, the large ones by the queue's workers
    // while this thread makes the next files (the progress window hears of every run on this thread and can stop
    // the copies part way); the first failure ends the operation as it would without it.
    std::unique_ptr<host::CopyQueue> queue;
    if (e.ExCopyFile)
        queue = std::make_unique<host::CopyQueue>(
            e.ExCopyFile, handle_, current_track_, kind, host::CopyQueue::DefaultWorkers(),
            [this](uint64_t n) { return !(view_ && view_->ProgressOpen() && view_->Advance(n) != 0); });
    std::vector<std::string> shown_of(queue ? groups.size() : 0);
    auto settle = [&]() -> int32_t {
        const std::vector<host::CopyFailure> failures = queue->TakeFailures();
        if (failures.empty()) return queue->Cancelled() ? ENGINE_ABORTED : 0;
        queue->Cancel();
        const host::CopyFailure &f = failures.front();
        if (f.result == ENGINE_ABORTED) return f.result;
        failure_ = Format(LoadString(IDS_FAILED_FILE), shown_of[f.tag].c_str());
        if (f.result != 0) return f.result;
        failure_ += std::string("\n") + std::strerror(f.problem.error);
        return ENGINE_WRITE_FAILED;
    };
    auto end_queue = [&](int32_t result) {
        if (!queue) return result;
        if (result != 0) queue->Cancel();
        int32_t settled = 0;
        queue->Finish([&] {
            if (const int32_t r = settle(); r && !settled) settled = r;
        });
        if (e.ExCloseImageFiles) e.ExCloseImageFiles(handle_);
        return result ? result : settled;
    };
    bool writing = false;  // the file of the current group is open
    std::string shown;
    size_t index = 0;
    do {
        EntryInfo entry{};
        more = e.GetNextFile(handle_, &entry);
        const size_t i = index++;
        if (i >= group_of.size()) break;
        const host::OutputGroup &group = groups[group_of[i]];
        const host::ListedEntry &first = listed[group.entries.front()];
        if (i == group.entries.front()) {
            writing = false;
            if (queue)
                if (const int32_t r = settle()) return end_queue(r);
            std::vector<std::string> components = host::TargetComponents(CutVersion(first.name), false);
            bool any_cut = false;
            for (size_t k : group.entries) any_cut = any_cut || cut[k];
            if (RefusedName(first.name, any_cut, components.empty())) {
                AdvanceProgress(group.size);
                continue;
            }
            if (!label.empty()) components.insert(components.begin(), label);
            shown = Shown(destination, components);
            BeginFile(shown, group.size, byte_total_);
            host::CopyJob job;
            if (queue) job.file = std::make_unique<host::OutputFile>();
            host::OutputFile &made = queue ? *job.file : output_;
            const int32_t created = MakeTarget(components, shown, first.name, 0666, &made);
            if (created == RESULT_CANCELLED) return end_queue(RESULT_CANCELLED);
            if (created == RESULT_SKIPPED) {
                AdvanceProgress(group.size);
                continue;
            }
            if (created) return end_queue(created);
            if (queue) {
                job.joined = group.engine_joins;
                for (size_t k : group.entries) {
                    job.indexes.push_back(static_cast<int32_t>(k));
                    job.sizes.push_back(listed[k].size);
                    if (job.joined) break;
                }
                job.modified = times[group.entries.front()];
                job.size = group.size;
                job.tag = group_of[i];
                shown_of[job.tag] = shown;
                queue->Submit(std::move(job));
                continue;
            }
            writing = true;
        }
        if (!writing || (group.engine_joins && i != group.entries.front())) continue;
        if (const int32_t r = Deliver(shown, e.ExtractCurrentFile2(handle_, nullptr, group.engine_joins ? 0 : 1)))
            return r;
        if (group.engine_joins || i == group.entries.back()) {
            writing = false;
            if (const int32_t r = FinishTarget(shown, times[group.entries.front()])) return r;
        }
    } while (more != 0);
    if (const int32_t r = end_queue(0)) return r;
    output_.Discard();  // a run of extents that the catalogue ended early
    NoteSkippedFolders(kind);
    return RESULT_FINISHED;
}

int32_t CLumastDoc::ExtractRows(const std::string &destination, const std::vector<FileRow> &rows) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    ResetReport();
    if (const int32_t r = OpenOnDemand()) return r;
    binding_.Table().SetCallback(handle_, &CLumastDoc::EngineOutputCallback, this);
    overwrite_ = OVERWRITE_SKIP;
    byte_total_ = 0;
    for (const FileRow &row : rows) byte_total_ += row.size;
    if (const int32_t r = OpenTree(destination)) return r;
    int32_t result = RESULT_FINISHED;
    for (const FileRow &row : rows) {
        if (IsFileListKind(row.list_kind))
            result = ExtractFileRow(destination, row);
        else if (row.list_kind >= LIST_ISO_SYSTEM && row.list_kind <= LIST_UDF_SYSTEM)
            result = ExtractPartRow(destination, row);
        else
            return RESULT_BAD_KIND;
        if (result != RESULT_FINISHED && result != RESULT_SKIPPED) return result;
    }
    return result;
}

int32_t CLumastDoc::ExtractFileRow(const std::string &destination, const FileRow &row) {
    const EngineTable &e = binding_.Table();
    const int kind = CatalogueKind(row.list_kind);
    if (e.GetFileStart(handle_, current_track_, kind) == 0) return RESULT_NOT_FOUND;
    EntryInfo entry{};
    bool found = false;
    int32_t more;
    do {
        more = e.GetNextFile(handle_, &entry);
        if (NameOf(entry) == row.name && entry.extent_index == row.extent_index) {
            found = true;
            break;
        }
    } while (more != 0);
    if (!found) return RESULT_NOT_FOUND;
    const std::string name = NameOf(entry);
    const std::string shaped =
        ShapeFileName(name, settings_.include_path != 0, entry.extent_count, entry.extent_index, true);
    const std::vector<std::string> components = host::TargetComponents(shaped, false);
    if (RefusedName(name, (CurrentEntryFlags() & QORVEX_EX_NAME_CUT) != 0, components.empty())) {
        AdvanceProgress(SizeOf(entry));
        return RESULT_SKIPPED;
    }
    const std::string shown = Shown(destination, components);
    BeginFile(shown, SizeOf(entry), byte_total_);
    const int32_t created = MakeTarget(components, shown, name);
    if (created == RESULT_CANCELLED) return RESULT_CANCELLED;
    if (created == RESULT_SKIPPED) {
        AdvanceProgress(SizeOf(entry));
        return RESULT_SKIPPED;
    }
    if (created) return created;
    if (const int32_t r = Deliver(shown, e.ExtractCurrentFile2(handle_, nullptr, 1))) return r;
    if (const int32_t r = FinishTarget(shown, entry.time)) return r;
    return RESULT_FINISHED;
}

int32_t CLumastDoc::ExtractPartRow(const std::string &destination, const FileRow &row) {
    const EngineTable &e = binding_.Table();
    const int kind = CatalogueKind(row.list_kind);
    if (kind == 0) return RESULT_BAD_KIND;
    if (e.GetModuleStart(handle_, current_track_, kind) == 0) return RESULT_PART_NOT_FOUND;
    EntryInfo entry{};
    bool found = false;
    int32_t more;
    do {
        more = e.GetNextModule(handle_, &entry);
        if (NameOf(entry) == row.name) {
            found = true;
            break;
        }
    } while (more != 0);
    if (!found) return RESULT_PART_NOT_FOUND;
    const std::string name = NameOf(entry);
    // The shaped part name is one file name: no "\" is left to split on.
    const std::string part = host::SafeComponent(ShapePartName(name));
    if (RefusedName(name, false, part.empty())) return RESULT_SKIPPED;
    const std::vector<std::string> components = {part};
    const std::string shown = Shown(destination, components);
    const int decision = Overwrite(components, shown);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    BeginFile(shown, SizeOf(entry), byte_total_);
    if (const int32_t r = CreateTarget(components, shown, name)) return r;
    if (const int32_t r = Deliver(shown, e.ExtractCurrentModule(handle_, nullptr))) return r;
    if (const int32_t r = FinishTarget(shown, entry.time)) return r;
    return RESULT_FINISHED;
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
    if (const int32_t r = FinishTarget(shown, entry.time)) return r;
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
    if (const int32_t r = FinishTarget(target, 0)) return r;
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
    if (const int32_t r = FinishTarget(target, 0)) return r;
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
