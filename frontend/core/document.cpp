#include "document.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>

#include "disc.h"
#include "name_shaping.h"
#include "platform.h"
#include "result.h"
#include "string_table.h"
#include "text_format.h"
#include "track_list.h"
#include "view.h"

namespace lumast {
namespace {

// This program's temporary folder names: two upper-case hexadecimal numbers of 0..32767 ("%X%X").
bool IsTempFolderName(const std::string &name) {
    if (name.size() < 2 || name.size() > 8) return false;
    for (char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

}  // namespace

CLumastDoc::CLumastDoc(UiServices &ui, IniProfile *ini, const DocumentOptions &options)
    : ui_(ui), ini_(ini), options_(options) {
    binding_.Load(options_.library_path);
    if (ini_) settings_.Read(*ini_);
    PrepareTempFolder();
}

CLumastDoc::~CLumastDoc() {
    if (ini_) settings_.Write(*ini_);
    if (binding_.Loaded() && handle_) {
        binding_.Table().Close(handle_);
        handle_ = nullptr;
    }
    binding_.Unload();
    RemoveTempFolder();
}

void CLumastDoc::PrepareTempFolder() {
    const std::string root =
        options_.temp_root.empty() ? platform::TempFilesFolder() : WithSeparator(options_.temp_root);
    if (ini_) {
        const std::string old = ini_->GetString("Temp", "OldFolder", "");
        // Only a folder of ours is removed: a direct child of the temp-files folder with our name form,
        // owned by this user, not a link.
        if (old.size() > 3 && old.compare(0, root.size(), root) == 0 && IsTempFolderName(old.substr(root.size())) &&
            platform::OwnedFolder(old))
            platform::RemoveTree(old);
    }
    temp_folder_.clear();
    std::mt19937 random(static_cast<uint32_t>(std::time(nullptr)) ^ static_cast<uint32_t>(std::random_device{}()));
    std::uniform_int_distribution<int> number(0, 32767);
    std::string candidate;
    for (int tries = 0; tries < 32768; ++tries) {
        candidate = root + Format("%X%X", number(random), number(random));
        // The folder is made exclusively: an existing name, a link included, makes the next candidate.
        if (platform::CreatePrivateFolder(candidate)) {
            temp_folder_ = candidate;
            break;
        }
    }
    last_temp_file_.clear();
}

void CLumastDoc::RemoveTempFolder() {
    if (temp_folder_.size() <= 3) return;
    const bool removed = platform::RemoveTree(temp_folder_);
    if (ini_) ini_->WriteString("Temp", "OldFolder", removed ? "" : temp_folder_);
    temp_folder_.clear();
}

void CLumastDoc::CloseHandle() {
    if (handle_ && binding_.Loaded()) binding_.Table().Close(handle_);
    handle_ = nullptr;
}

void CLumastDoc::OnNewDocument() {
    current_track_ = -1;
    data_track_ = 0;
    tracks_.clear();
    image_path_.clear();
    view_ = nullptr;
    CloseHandle();
    remembered_destination_.clear();
    modified_ = false;
}

bool CLumastDoc::OnOpenDocument(const std::string &path) {
    CloseHandle();
    current_track_ = -1;
    data_track_ = 0;
    tracks_.clear();
    ui_.SetWaitCursor(true);
    image_path_ = path;
    const int32_t result = OpenImage(path);
    bool ok = true;
    if (result != 0) {
        ReportResult(ui_, result);
        modified_ = true;
        // A failed open leaves an empty document.
        OnNewDocument();
        BuildTrackList();
        ok = false;
    }
    remembered_destination_.clear();
    ui_.SetWaitCursor(false);
    return ok;
}

void CLumastDoc::OnCloseDocument() {
    CloseHandle();
}

std::string CLumastDoc::Title() const {
    const size_t slash = image_path_.rfind('/');
    return slash == std::string::npos ? image_path_ : image_path_.substr(slash + 1);
}

int32_t CLumastDoc::OpenImage(const std::string &path) {
    if (!binding_.Loaded()) return RESULT_NO_ENGINE;
    CloseHandle();
    int32_t error = 0;
    handle_ = binding_.Table().Open(path.c_str(), settings_.OpenOptions(), &error);
    BuildTrackList();
    if (handle_) return 0;
    return error != 0 ? error : ENGINE_UNKNOWN_FORMAT;
}

int CLumastDoc::BuildTrackList() {
    tracks_.clear();
    int initial = -1;
    if (handle_) {
        const EngineTable &e = binding_.Table();
        const int32_t count = e.GetTrackCount(handle_);
        for (int32_t i = 0; i < count && i < 1000; ++i) {
            TrackInfo info{};
            if (e.GetTrackInfo(handle_, i, &info) != 0) break;
            tracks_.push_back(info);
        }
        initial = InitialTrack(tracks_);
    }
    ui_.TrackListFilled(tracks_, initial);
    // The list's selection of the initial row comes back as a track selection.
    if (initial >= 0 && initial < static_cast<int>(tracks_.size())) SelectTrack(initial);
    if (!handle_) RebuildFileList();
    return static_cast<int>(tracks_.size());
}

void CLumastDoc::SelectTrack(int index) {
    if (index == current_track_) return;
    current_track_ = index;
    ChooseFileSystems();
    RebuildFileList();
}

void CLumastDoc::ChooseFileSystems() {
    if (!handle_ || !binding_.Loaded()) return;
    const EngineTable &e = binding_.Table();
    const int32_t iso = e.GetFileCount(handle_, current_track_, KIND_ISO9660);
    const int32_t joliet = e.GetFileCount(handle_, current_track_, KIND_JOLIET);
    const int32_t udf = e.GetFileCount(handle_, current_track_, KIND_UDF);
    // Rock Ridge names stand in for the plain ISO 9660 ones when nothing better is there.
    const int32_t rockridge = settings_.extensions ? e.GetFileCount(handle_, current_track_, KIND_ROCKRIDGE) : 0;
    Settings &s = settings_;
    if (udf > 0 && s.prefer_udf) {
        s.show_iso_files = 0, s.show_joliet_files = 0, s.show_udf_files = 1;
    } else if (joliet > 0) {
        s.show_iso_files = 0, s.show_joliet_files = 1, s.show_udf_files = 0;
    } else if (udf > 0) {
        s.show_iso_files = 0, s.show_udf_files = 1;
    } else if (rockridge > 0) {
        s.show_iso_files = 0, s.show_rockridge_files = 1;
    } else if (iso > 0) {
        s.show_iso_files = 1;
    }
}

const TrackInfo *CLumastDoc::CurrentTrackInfo() const {
    if (current_track_ < 0 || current_track_ >= static_cast<int>(tracks_.size())) return nullptr;
    return &tracks_[static_cast<size_t>(current_track_)];
}

int CLumastDoc::AddCatalogueRows(CLumastView *view) {
    const EngineTable &e = binding_.Table();
    struct Catalogue {
        bool show;
        bool module;
        int kind;
        int list_kind;
    };
    const Catalogue catalogues[] = {
        {settings_.show_iso_system != 0, true, KIND_ISO9660, LIST_ISO_SYSTEM},
        {settings_.show_joliet_system != 0, true, KIND_JOLIET, LIST_JOLIET_SYSTEM},
        {settings_.show_udf_system != 0, true, KIND_UDF, LIST_UDF_SYSTEM},
        {settings_.show_iso_files != 0, false, KIND_ISO9660, LIST_ISO_FILES},
        {settings_.show_joliet_files != 0, false, KIND_JOLIET, LIST_JOLIET_FILES},
        {settings_.show_udf_files != 0, false, KIND_UDF, LIST_UDF_FILES},
        {settings_.show_rockridge_files != 0 && settings_.extensions, false, KIND_ROCKRIDGE, LIST_ROCKRIDGE_FILES},
    };
    int32_t id = 0;
    const host::Disc disc(e, handle_, settings_.OpenOptions());
    QorvexExSalvage salvage;
    const bool salvaged = settings_.extensions && disc.Salvaged(current_track_, &salvage);
    // With the EDC check on a salvaging open every file is read, so that one over failing sectors is marked.
    const uint32_t damage = host::DamageFlags(settings_.OpenOptions());
    for (const Catalogue &c : catalogues) {
        if (!c.show) continue;
        disc.Visit(current_track_, c.kind, c.module, [&](const EntryInfo &entry) {
            host::Entry row = host::ToEntry(entry);
            // A date the 32-bit field cannot hold (from 2038 on) is shown from the extension record, and so is
            // the damage of a file of a cut image or over sectors failing their EDC.
            if ((entry.time == 0 && settings_.extensions) || ((salvaged || damage) && !c.module))
                host::AddDetails(e, handle_, c.module, &row, damage);
            id = view->Model().AddRow(id, row.name, c.list_kind, entry.start, entry.sectors, entry.offset, row.size,
                                      entry.extent_count, entry.extent_index, row.has_date ? row.date : 0);
            if (row.damaged) view->Model().MarkDamaged(view->Model().RowCount() - 1);
        });
    }
    return id;
}

int CLumastDoc::RebuildFileList() {
    CLumastView *view = attached_view_;
    if (!view) return 0;
    view_ = view;
    view->Model().Clear();
    data_track_ = 0;
    int added = 0;
    const TrackInfo *track = CurrentTrackInfo();
    if (track && IsDataTrackType(track->format)) {
        data_track_ = 1;
        if (handle_ || OpenOnDemand() == 0) added = AddCatalogueRows(view);
    } else if (track && IsAudioTrackType(track->format)) {
        const int32_t extent = settings_.add_pregap ? track->first_held : track->start;
        const int32_t sectors = static_cast<int32_t>(int64_t(track->end_held) - extent);
        const uint64_t size = TrackByteSize(*track, settings_.add_pregap ? TRACK_PREGAP : 0);
        view->Model().AddRow(0, Format(LoadString(IDS_TRACK_NAME), track->track), LIST_AUDIO, extent, sectors, 0, size,
                             0, 1, 0);
        added = 1;
    }
    view->Publish();
    UpdateSummaryLine();
    return added;
}

void CLumastDoc::UpdateSummaryLine() {
    if (!handle_ || !binding_.Loaded()) {
        ui_.SummaryChanged(LoadString(IDS_SUMMARY_NONE));
        return;
    }
    if (!data_track_) {
        ui_.SummaryChanged(LoadString(IDS_SUMMARY_AUDIO));
        return;
    }
    const EngineTable &e = binding_.Table();
    char label[34] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    if (e.GetImageInformation(handle_, current_track_, 0, label, &sectors, &bytes) <= 0) {
        ui_.SummaryChanged(LoadString(IDS_SUMMARY_NONE));
        return;
    }
    int32_t files = e.GetFileCount(handle_, current_track_, KIND_JOLIET);
    if (files == 0) files = e.GetFileCount(handle_, current_track_, KIND_UDF);
    if (files == 0) files = e.GetFileCount(handle_, current_track_, KIND_ISO9660);
    std::string summary = Format(LoadString(IDS_SUMMARY), label, GroupedNumber(sectors).c_str(),
                                 GroupedNumber(bytes).c_str(), GroupedNumber(files).c_str());
    // A cut or damaged image: how far it reaches against what its volume records, and what could not be read.
    QorvexExSalvage salvage;
    if (settings_.extensions && host::Disc(e, handle_, settings_.OpenOptions()).Salvaged(current_track_, &salvage))
        summary += Format(LoadString(IDS_SALVAGE_SUMMARY),
                          static_cast<long long>(std::max(salvage.recorded_end, salvage.held_end)),
                          static_cast<long long>(salvage.held_end), static_cast<int>(salvage.failed));
    ui_.SummaryChanged(summary);
}

int CLumastDoc::GetPresentFileSystems() const {
    if (!handle_ || !binding_.Loaded()) return 0;
    const EngineTable &e = binding_.Table();
    int present = 0;
    if (e.GetFileCount(handle_, current_track_, KIND_ISO9660)) present |= 1;
    if (e.GetFileCount(handle_, current_track_, KIND_JOLIET)) present |= 2;
    if (e.GetFileCount(handle_, current_track_, KIND_UDF)) present |= 4;
    return present;
}

void CLumastDoc::OnCommand(int id) {
    Settings &s = settings_;
    int32_t *flag = nullptr;
    switch (id) {
        case ID_SHOW_ISO_FILES: flag = &s.show_iso_files; break;
        case ID_SHOW_JOLIET_FILES: flag = &s.show_joliet_files; break;
        case ID_SHOW_UDF_FILES: flag = &s.show_udf_files; break;
        case ID_SHOW_ISO_SYSTEM: flag = &s.show_iso_system; break;
        case ID_SHOW_JOLIET_SYSTEM: flag = &s.show_joliet_system; break;
        case ID_SHOW_UDF_SYSTEM: flag = &s.show_udf_system; break;
        case ID_SHOW_ROCKRIDGE_FILES: flag = &s.show_rockridge_files; break;
        case ID_ADD_PREGAP: flag = &s.add_pregap; break;
        case ID_INCLUDE_PATH: s.include_path = !s.include_path; return;
        case ID_PREFER_UDF: s.prefer_udf = !s.prefer_udf; return;
        case ID_CHECK_CRC:
        case ID_CHECK_POSITION:
        case ID_EXTENSIONS:
            if (id == ID_EXTENSIONS)
                s.extensions = !s.extensions;
            else
                s.options ^= id == ID_CHECK_CRC ? OPEN_CHECK_EDC : OPEN_CHECK_POSITION;
            if (!image_path_.empty()) {
                // Another reading of the image may bring other tracks and catalogues: choose afresh.
                if (id == ID_EXTENSIONS) current_track_ = -1;
                ui_.SetWaitCursor(true);
                OpenImage(image_path_);  // a failure here is not reported
                ui_.SetWaitCursor(false);
            }
            return;
        default: return;
    }
    *flag = !*flag;
    if (!image_path_.empty()) RebuildFileList();
}

bool CLumastDoc::IsChecked(int id) const {
    const Settings &s = settings_;
    switch (id) {
        case ID_SHOW_ISO_FILES: return s.show_iso_files;
        case ID_SHOW_JOLIET_FILES: return s.show_joliet_files;
        case ID_SHOW_UDF_FILES: return s.show_udf_files;
        case ID_SHOW_ISO_SYSTEM: return s.show_iso_system;
        case ID_SHOW_JOLIET_SYSTEM: return s.show_joliet_system;
        case ID_SHOW_UDF_SYSTEM: return s.show_udf_system;
        case ID_SHOW_ROCKRIDGE_FILES: return s.show_rockridge_files;
        case ID_EXTENSIONS: return s.extensions;
        case ID_CHECK_CRC: return (s.options & OPEN_CHECK_EDC) != 0;
        case ID_CHECK_POSITION: return (s.options & OPEN_CHECK_POSITION) != 0;
        case ID_INCLUDE_PATH: return s.include_path;
        case ID_ADD_PREGAP: return s.add_pregap;
        case ID_PREFER_UDF: return s.prefer_udf;
        default: return false;
    }
}

bool CLumastDoc::IsEnabled(int id) const {
    if (id == ID_VOLUME_INFO) return handle_ != nullptr;
    // Without the extended formats the engine reads no Rock Ridge names.
    if (id == ID_SHOW_ROCKRIDGE_FILES) return settings_.extensions != 0;
    return true;
}

DestinationSettings CLumastDoc::GetDestinationSettings() const {
    return {settings_.initial_path_type, settings_.appoint_path, settings_.no_select_dialog,
            settings_.add_volume_label};
}

void CLumastDoc::ApplyDestinationSettings(const DestinationSettings &values) {
    settings_.initial_path_type = values.initial_path_type;
    settings_.appoint_path = values.appoint_path;
    settings_.no_select_dialog = values.no_select_dialog;
    settings_.add_volume_label = values.add_volume_label;
}

}  // namespace lumast
