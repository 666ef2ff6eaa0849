// The engine's exports as a table, so that both hosts reach the engine the same way: the command line fills it
// from the symbols it is linked with, the desktop program from the library it loads at run time.
#pragma once

#include <cstdint>

#include "qorvex_ext.h"

namespace host {

struct EngineApi {
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
    // Extension exports: null when the engine lacks them, and what they tell is then not known.
    int32_t(QORVEX_CALL *ExGetCurrentFile)(QorvexHandle, QorvexExEntry *) = nullptr;
    int32_t(QORVEX_CALL *ExGetCurrentModule)(QorvexHandle, QorvexExEntry *) = nullptr;
    int32_t(QORVEX_CALL *ExGetSkippedFolders)(QorvexHandle, int32_t, int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExCopyFile)(QorvexHandle, int32_t, int32_t, int32_t, intptr_t, uint64_t, uint32_t,
                                     ProgressCallback, void *) = nullptr;
    int32_t(QORVEX_CALL *ExCloseImageFiles)(QorvexHandle) = nullptr;
    int32_t(QORVEX_CALL *ExGetTrackText)(QorvexHandle, int32_t, int32_t, char *, int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExGetTrackIndexes)(QorvexHandle, int32_t, int32_t *, int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExGetRawSectorSize)(QorvexHandle, int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExReadRawSectors)(QorvexHandle, int32_t, int32_t, int32_t, void *, int64_t, uint32_t,
                                           uint32_t *) = nullptr;
    int32_t(QORVEX_CALL *ExReadFile)(QorvexHandle, int32_t, int32_t, int32_t, uint64_t, void *, uint32_t, uint32_t,
                                     uint32_t *) = nullptr;
    int32_t(QORVEX_CALL *ExGetFilePlace)(QorvexHandle, int32_t, int32_t, int32_t, uint64_t, uint32_t, char *, int32_t,
                                         int64_t *, uint64_t *) = nullptr;
    int32_t(QORVEX_CALL *ExReadTrack)(QorvexHandle, int32_t, uint64_t, void *, uint32_t, uint32_t, uint32_t *,
                                      uint64_t *) = nullptr;
    int32_t(QORVEX_CALL *ExGetDamage)(QorvexHandle, int32_t, int32_t, int32_t, uint32_t, QorvexExRange *,
                                      int32_t) = nullptr;
    int32_t(QORVEX_CALL *ExGetSalvage)(QorvexHandle, int32_t, QorvexExSalvage *) = nullptr;
};

// Binds every name of the table through `find` (a symbol look-up by export name); false when one of the base
// exports is missing (the extension ones may be).
bool BindEngineApi(EngineApi *api, void *(*find)(void *module, const char *name), void *module);

}  // namespace host
