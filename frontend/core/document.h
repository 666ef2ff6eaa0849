// The single document: the open image, its tracks and listings, volume information, settings and extraction.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine_binding.h"
#include "extract_plan.h"
#include "file_list_model.h"
#include "ini_profile.h"
#include "output_tree.h"
#include "qorvex.h"
#include "settings.h"
#include "ui_services.h"

namespace lumast {

class CLumastView;

// Commands handled by the document.
enum DocumentCommand : int {
    ID_SHOW_ISO_FILES = 32780,
    ID_SHOW_JOLIET_FILES = 32781,
    ID_SHOW_UDF_FILES = 32782,
    ID_SHOW_ISO_SYSTEM = 32783,
    ID_SHOW_JOLIET_SYSTEM = 32784,
    ID_SHOW_UDF_SYSTEM = 32785,
    ID_VOLUME_INFO = 32788,
    ID_CHECK_CRC = 32790,
    ID_CHECK_POSITION = 32791,
    ID_INCLUDE_PATH = 32792,
    ID_ADD_PREGAP = 32795,
    ID_PREFER_UDF = 32797,
    ID_DESTINATION_SETTINGS = 32798,
    // Beyond the described menus: the switch of the extended formats and the Rock Ridge catalogue.
    ID_EXTENSIONS = 32799,
    ID_SHOW_ROCKRIDGE_FILES = 32800,
};

struct VolumeInfoRow {
    std::string name;
    std::string data;
};

// The four values of the default destination dialog.
struct DestinationSettings {
    int32_t initial_path_type = 1;
    std::string appoint_path;
    int32_t no_select_dialog = 0;
    int32_t add_volume_label = 0;
};

struct DocumentOptions {
    std::string library_path;  // empty: the engine found as EngineCandidates lists (engine_binding.h)
    std::string temp_root;     // folder for the private temporary folder; empty: the platform's ($TMPDIR, /tmp)
};

class CLumastDoc {
public:
    // Binds the engine, reads the settings from `ini` (may be null: defaults, nothing written) and prepares
    // the private temporary folder, removing the one an earlier run left behind.
    CLumastDoc(UiServices &ui, IniProfile *ini, const DocumentOptions &options = {});
    // Writes the settings, releases the engine and removes the temporary folder.
    ~CLumastDoc();
    CLumastDoc(const CLumastDoc &) = delete;
    CLumastDoc &operator=(const CLumastDoc &) = delete;

    // Framework hooks.
    void OnNewDocument();
    // Opens an image as the open dialog, a drop, the recent-file list or the command line does. A failure is
    // reported and leaves an empty document; returns false then.
    bool OnOpenDocument(const std::string &path);
    void OnCloseDocument();
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    // The file name shown in the title ("" when untitled).
    std::string Title() const;

    // Commands 32780..32798 (except the dialog of 32798, see ApplyDestinationSettings) and their check marks.
    void OnCommand(int id);
    bool IsChecked(int id) const;
    bool IsEnabled(int id) const;
    DestinationSettings GetDestinationSettings() const;
    void ApplyDestinationSettings(const DestinationSettings &values);

    int32_t OpenImage(const std::string &path);
    int BuildTrackList();
    void SelectTrack(int index);
    void ChooseFileSystems();
    int RebuildFileList();
    void UpdateSummaryLine();
    int GetPresentFileSystems() const;
    // Name/data rows of the volume information of kind 1, 2 or 4.
    std::vector<VolumeInfoRow> FillVolumeInfo(int kind);

    // Extraction.
    bool GetProposedDestination(std::string *folder) const;
    void RememberDestination(const std::string &folder) { remembered_destination_ = folder; }
    int32_t ExtractAll(const std::string &destination);
    int32_t ExtractRows(const std::string &destination, const std::vector<FileRow> &rows);
    int32_t ExtractWholeFile(const std::string &destination, const FileRow &row);
    int32_t ExtractCurrentTrack(const std::string &target, uint32_t flags);
    static uint64_t TrackByteSize(const TrackInfo &track, uint32_t flags);
    int32_t OpenFromImage(const FileRow &row, const std::string &verb, bool open_with);
    void LaunchFile(const std::string &path, const std::string &verb, bool open_with);

    // State.
    void AttachView(CLumastView *view) { attached_view_ = view; }
    bool EngineLoaded() const { return binding_.Loaded(); }
    bool HandleHeld() const { return handle_ != nullptr; }
    const std::string &ImagePath() const { return image_path_; }
    int CurrentTrack() const { return current_track_; }
    bool DataTrack() const { return data_track_ != 0; }
    const std::vector<TrackInfo> &Tracks() const { return tracks_; }
    const TrackInfo *CurrentTrackInfo() const;
    Settings &GetSettings() { return settings_; }
    const Settings &GetSettings() const { return settings_; }
    const std::string &TempFolder() const { return temp_folder_; }
    const std::string &LastTempFile() const { return last_temp_file_; }
    const std::string &RememberedDestination() const { return remembered_destination_; }
    UiServices &Ui() { return ui_; }

    // What the end message of the last operation adds to its result: the file that failed and why, the items
    // that were not extracted (names that cannot be made safe, cut names, something in the way, folders left
    // out for depth). Empty when there is nothing to add; cleared by taking it.
    std::string TakeExtractionReport();

    // Engine callbacks; `user` is the document.
    static int32_t QORVEX_CALL EngineProgressCallback(int32_t kind, void *user, const void *data, int32_t length);
    // Gathers the delivered data into the open output file, then advances the progress as the one above.
    static int32_t QORVEX_CALL EngineOutputCallback(int32_t kind, void *user, const void *data, int32_t length);
    static int32_t QORVEX_CALL CollectCallback(int32_t kind, void *user, const void *data, int32_t length);

private:
    friend class DocumentTestAccess;

    void CloseHandle();
    int32_t OpenOnDemand();
    void PrepareTempFolder();
    void RemoveTempFolder();
    int AddCatalogueRows(CLumastView *view);
    bool ReadSystemPart(int kind, int32_t entry_kind, std::vector<uint8_t> *block);
    int Overwrite(const std::vector<std::string> &components, const std::string &shown);
    int32_t OpenTree(const std::string &folder);
    int32_t CreateTarget(const std::vector<std::string> &components, const std::string &shown,
                         const std::string &image_name, mode_t mode = 0666, host::OutputFile *into = nullptr);
    int32_t Deliver(const std::string &shown, int32_t result);
    int32_t FinishTarget(const std::string &shown, int64_t modified);
    uint32_t CurrentEntryFlags() const;
    bool RefusedName(const std::string &image_name, bool cut, bool nothing_left);
    void Note(const std::string &line);
    void NoteSkippedFolders(int kind);
    void ResetReport();
    void BeginFile(const std::string &target, uint64_t size, uint64_t total);
    void AdvanceProgress(uint64_t bytes);
    void CloseProgress();
    // Runs an extraction plan into the open tree through the shared job, the overwrite prompt answering its
    // questions; the operation's result code (*last_skipped: the plan's last item was skipped).
    int32_t RunJob(const host::Disc &disc, const host::ExtractPlan &plan, const std::string &destination,
                   bool *last_skipped = nullptr);
    void NotePlan(const host::ExtractPlan &plan);
    std::string VolumeLabelFolder(int kind);

    UiServices &ui_;
    IniProfile *ini_;
    DocumentOptions options_;
    EngineBinding binding_;
    std::string image_path_;
    QorvexHandle handle_ = nullptr;
    int current_track_ = -1;
    int data_track_ = 0;
    std::vector<TrackInfo> tracks_;
    CLumastView *attached_view_ = nullptr;  // the view of the program
    CLumastView *view_ = nullptr;           // the view found when the list was last built
    uint64_t byte_total_ = 0;
    int overwrite_ = OVERWRITE_YES;
    uint8_t *collect_buffer_ = nullptr;
    uint32_t delivered_ = 0;
    host::OutputTree tree_;           // the destination of the running operation
    host::OutputFile output_;         // the file being written
    std::vector<std::string> notes_;  // items not extracted, for the end message
    std::string failure_;             // the file that failed and why
    Settings settings_;
    std::string temp_folder_;
    std::string last_temp_file_;
    std::string remembered_destination_;
    bool modified_ = false;
};

}  // namespace lumast
