// Run-time binding of the engine library by file name and export name.
#pragma once

#include <string>
#include <vector>

#include "qorvex_ext.h"

namespace lumast {

struct EngineTable {
    int32_t(QORVEX_CALL *Qorvex)(int32_t, int32_t) = nullptr;
    QorvexHandle(QORVEX_CALL *Open)(const char *, uint32_t, int32_t *) = nullptr;
    int32_t(QORVEX_CALL *Close)(QorvexHandle) = nullptr;
    int32_t(QORVEX_CALL *SetCallback)(QorvexHandle, ProgressCallback, void *) = nullptr;
    int32_t(QORVEX_CALL *GetFileCount)(QorvexHandle, int32_t, int32_t) = nullptr;
    int32_t(QORVEX_CALL *GetFileStart)(QorvexHandle, int32_t, int32_t) = nullptr;
    int32_t(QORVEX_CALL *GetNextFile)(QorvexHandle, EntryInfo *) = nullptr;
    int32_t(QORVEX_CALL *ExtractCurrentFile2)(QorvexHandle, const char *, int32_t) = nullptr;
    int32_t(QORVEX_CALL *GetDllVersion)() = nullptr;
    int32_t(QORVEX_CALL *GetImageInformation)(QorvexHandle, int32_t, int32_t, char *, int32_t *, int64_t *) = nullptr;
    int32_t(QORVEX_CALL *GetModuleStart)(QorvexHandle, int32_t, int32_t) = nullptr;
    int32_t(QORVEX_CALL *GetNextModule)(QorvexHandle, EntryInfo *) = nullptr;
    int32_t(QORVEX_CALL *ExtractCurrentModule)(QorvexHandle, const char *) = nullptr;
    int32_t(QORVEX_CALL *GetTrackCount)(QorvexHandle) = nullptr;
    int32_t(QORVEX_CALL *GetTrackInfo)(QorvexHandle, int32_t, TrackInfo *) = nullptr;
    int32_t(QORVEX_CALL *ExtractTrack)(QorvexHandle, int32_t, const char *, uint32_t) = nullptr;
    // Optional extension exports: null when the engine lacks them, and what they tell is then not known.
    int32_t(QORVEX_CALL *ExGetCurrentFile)(QorvexHandle, QorvexExEntry *) = nullptr;
    int32_t(QORVEX_CALL *ExGetSkippedFolders)(QorvexHandle, int32_t, int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExCopyFile)(QorvexHandle, int32_t, int32_t, int32_t, intptr_t, uint64_t, uint32_t,
                                     ProgressCallback, void *) = nullptr;
    int32_t(QORVEX_CALL *ExCloseImageFiles)(QorvexHandle) = nullptr;
    int32_t(QORVEX_CALL *ExGetRawSectorSize)(QorvexHandle, int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExReadRawSectors)(QorvexHandle, int32_t, int32_t, int32_t, void *, int64_t, uint32_t,
                                           uint32_t *) = nullptr;
};

inline constexpr int32_t kMinimumEngineVersion = 40;

// Where the engine is looked for, in order, for a program in `program_folder` ("" when unknown): that folder,
// the library folder it was installed with (relative to it, then absolute), then the loader's search by soname.
std::vector<std::string> EngineCandidates(const std::string &program_folder);

class EngineBinding {
public:
    EngineBinding() = default;
    ~EngineBinding() { Unload(); }
    EngineBinding(const EngineBinding &) = delete;
    EngineBinding &operator=(const EngineBinding &) = delete;

    // Loads the library: `path` when given, else the first of EngineCandidates that loads. A library that is
    // too old or lacks an export is released again. True when bound.
    bool Load(const std::string &path = {});
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    const EngineTable &Table() const { return table_; }

private:
    bool Bind(void *module);

    void *module_ = nullptr;
    EngineTable table_;
};

}  // namespace lumast
