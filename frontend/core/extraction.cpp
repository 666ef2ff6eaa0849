// The document's operations that write parts of the image to disk or open them.
#include <map>

#include "document.h"
#include "name_shaping.h"
#include "platform.h"
#include "result.h"
#include "view.h"

namespace lumast {
namespace {

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

int32_t QORVEX_CALL CLumastDoc::EngineWriteCallback(int32_t kind, void *user, const void *data, int32_t length) {
    if (!user) return 1;
    CLumastDoc *doc = static_cast<CLumastDoc *>(user);
    if (length < 0) return 0;
    size_t written = 0;
    if (doc->temp_fd_ >= 0) {
        written = platform::WriteFile(doc->temp_fd_, data, static_cast<size_t>(length));
        doc->delivered_ += static_cast<uint32_t>(written);
    }
    if (written < static_cast<size_t>(length)) return 0;
    return EngineProgressCallback(kind, user, data, length);
}

int CLumastDoc::Overwrite(const std::string &target) {
    if (overwrite_ == OVERWRITE_ALL) return overwrite_;
    overwrite_ = platform::Exists(target) ? ui_.AskOverwrite(target) : OVERWRITE_YES;
    return overwrite_;
}

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

std::string CLumastDoc::AppendVolumeLabel(int kind, const std::string &destination) {
    if (!handle_ || !data_track_ || !settings_.add_volume_label) return destination;
    char label[34] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    if (binding_.Table().GetImageInformation(handle_, current_track_, kind, label, &sectors, &bytes) <= 0)
        return destination;
    return WithLabelFolder(destination, label);
}

int32_t CLumastDoc::ExtractAll(const std::string &destination) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    overwrite_ = OVERWRITE_YES;
    if (const int32_t r = OpenOnDemand()) return r;
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineProgressCallback, this);

    const int32_t iso = e.GetFileCount(handle_, current_track_, KIND_ISO9660);
    const int32_t joliet = e.GetFileCount(handle_, current_track_, KIND_JOLIET);
    const int32_t udf = e.GetFileCount(handle_, current_track_, KIND_UDF);
    const int32_t rockridge = settings_.extensions ? e.GetFileCount(handle_, current_track_, KIND_ROCKRIDGE) : 0;
    int kind;
    if (udf > 0 && settings_.prefer_udf)
        kind = KIND_UDF;
    else if (joliet > 0)
        kind = KIND_JOLIET;
    else if (udf > 0)
        kind = KIND_UDF;
    else if (rockridge > 0)  // the names the list shows in place of the ISO 9660 ones
        kind = KIND_ROCKRIDGE;
    else if (iso > 0)
        kind = KIND_ISO9660;
    else
        return RESULT_NOT_FOUND;

    const std::string folder = AppendVolumeLabel(kind == KIND_ROCKRIDGE ? KIND_ISO9660 : kind, destination);

    // Sizing pass; multi-extent files are summed by name.
    byte_total_ = 0;
    std::map<std::string, uint64_t> multi;
    if (e.GetFileStart(handle_, current_track_, kind) == 0) return RESULT_NOT_FOUND;
    int32_t more;
    do {
        EntryInfo entry{};
        more = e.GetNextFile(handle_, &entry);
        byte_total_ += SizeOf(entry);
        if (entry.extent_count > 1) multi[NameOf(entry)] += SizeOf(entry);
    } while (more != 0);

    if (e.GetFileStart(handle_, current_track_, kind) == 0) return RESULT_NOT_FOUND;
    do {
        EntryInfo entry{};
        more = e.GetNextFile(handle_, &entry);
        const std::string name = NameOf(entry);
        const bool several = entry.extent_count > 1;
        if (several && entry.extent_index != 0) continue;
        const uint64_t size = several ? multi[name] : SizeOf(entry);
        std::string target;
        if (!JoinUnder(folder, CutVersion(name), &target)) return ENGINE_OUTPUT_OPEN_FAILED;
        BeginFile(target, size, byte_total_);
        const int decision = Overwrite(target);
        if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
        if (decision == OVERWRITE_SKIP) {
            AdvanceProgress(size);
            continue;
        }
        if (const int32_t r = e.ExtractCurrentFile2(handle_, target.c_str(), several ? 0 : 1)) return r;
    } while (more != 0);
    return RESULT_FINISHED;
}

int32_t CLumastDoc::ExtractRows(const std::string &destination, const std::vector<FileRow> &rows) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    if (const int32_t r = OpenOnDemand()) return r;
    binding_.Table().SetCallback(handle_, &CLumastDoc::EngineProgressCallback, this);
    overwrite_ = OVERWRITE_SKIP;
    byte_total_ = 0;
    for (const FileRow &row : rows) byte_total_ += row.size;
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
    const std::string shaped =
        ShapeFileName(entry.name, settings_.include_path != 0, entry.extent_count, entry.extent_index, true);
    std::string target;
    if (!JoinUnder(destination, shaped, &target)) return ENGINE_OUTPUT_OPEN_FAILED;
    BeginFile(target, SizeOf(entry), byte_total_);
    const int decision = Overwrite(target);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) {
        AdvanceProgress(SizeOf(entry));
        return RESULT_SKIPPED;
    }
    if (const int32_t r = e.ExtractCurrentFile2(handle_, target.c_str(), 1)) return r;
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
    std::string target;
    // The shaped part name is one file name: no "\" is left to split on.
    if (!JoinUnder(destination, ShapePartName(entry.name), &target)) return ENGINE_OUTPUT_OPEN_FAILED;
    const int decision = Overwrite(target);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    BeginFile(target, SizeOf(entry), byte_total_);
    if (const int32_t r = e.ExtractCurrentModule(handle_, target.c_str())) return r;
    return RESULT_FINISHED;
}

int32_t CLumastDoc::ExtractWholeFile(const std::string &destination, const FileRow &row) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    if (const int32_t r = OpenOnDemand()) return r;
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineProgressCallback, this);
    overwrite_ = OVERWRITE_SKIP;
    byte_total_ = 0;
    if (e.GetFileStart(handle_, current_track_, KIND_UDF) == 0) return RESULT_NOT_FOUND;
    int32_t more;
    do {
        EntryInfo entry{};
        more = e.GetNextFile(handle_, &entry);
        if (NameOf(entry) == row.name) byte_total_ += SizeOf(entry);
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
    std::string target;
    if (!JoinUnder(destination, ShapeFileName(entry.name, settings_.include_path != 0, 0, 0, false), &target))
        return ENGINE_OUTPUT_OPEN_FAILED;
    const int decision = Overwrite(target);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    BeginFile(target, byte_total_, byte_total_);
    if (const int32_t r = e.ExtractCurrentFile2(handle_, target.c_str(), 0)) return r;
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
    const int decision = Overwrite(target);
    if (decision == OVERWRITE_ABORT) return RESULT_CANCELLED;
    if (decision == OVERWRITE_SKIP) return RESULT_SKIPPED;
    const TrackInfo *track = CurrentTrackInfo();
    if (!track) return RESULT_FINISHED;
    const TrackInfo record = *track;
    if (const int32_t r = OpenOnDemand()) return r;
    if (settings_.add_pregap) flags |= TRACK_PREGAP;
    byte_total_ = TrackByteSize(record, flags);
    const EngineTable &e = binding_.Table();
    e.SetCallback(handle_, &CLumastDoc::EngineProgressCallback, this);
    BeginFile(target, byte_total_, byte_total_);
    if (const int32_t r = e.ExtractTrack(handle_, current_track_, target.c_str(), flags)) return r;
    return RESULT_FINISHED;
}

int32_t CLumastDoc::OpenFromImage(const FileRow &row, const std::string &verb, bool open_with) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    // Earlier copies stay until the program ends: the application that got one may still be reading it.
    if (const int32_t r = OpenOnDemand()) return r;
    const EngineTable &e = binding_.Table();
    delivered_ = 0;
    e.SetCallback(handle_, &CLumastDoc::EngineWriteCallback, this);
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
    std::string target;
    if (!JoinUnder(temp_folder_, part ? ShapePartName(entry.name) : CutVersion(entry.name), &target))
        return RESULT_BAD_KIND;
    std::string unique;
    if (!MakeUniqueName(target, &unique)) return RESULT_BAD_KIND;
    target = unique;
    platform::MakeOutputFolders(target.substr(0, target.rfind(platform::kSeparator)));
    temp_fd_ = platform::CreateExclusiveFile(target);
    if (temp_fd_ < 0) return RESULT_BAD_KIND;

    BeginFile(target, SizeOf(entry), byte_total_);
    const int32_t result = part ? e.ExtractCurrentModule(handle_, nullptr) : e.ExtractCurrentFile2(handle_, nullptr, 1);
    const int fd = temp_fd_;
    temp_fd_ = -1;
    if (result != 0) {
        platform::CloseFile(fd);
        return result;
    }
    CloseProgress();
    platform::CloseFile(fd);
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
