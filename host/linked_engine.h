// The engine table filled from the exports a program is linked with (the command line, the tests); the desktop
// program binds the library it loads instead (frontend/core/engine_binding.cpp).
#pragma once

#include "engine_api.h"

namespace host {

inline const EngineApi &LinkedEngineApi() {
    static const EngineApi api = [] {
        EngineApi t;
        t.Qorvex = Qorvex;
        t.Open = QorvexOpen;
        t.Close = QorvexClose;
        t.SetCallback = QorvexSetCallback;
        t.GetFileCount = QorvexGetFileCount;
        t.GetFileStart = QorvexGetFileStart;
        t.GetNextFile = QorvexGetNextFile;
        t.ExtractCurrentFile2 = QorvexExtractCurrentFile2;
        t.GetDllVersion = QorvexGetDllVersion;
        t.GetImageInformation = QorvexGetImageInformation;
        t.GetModuleStart = QorvexGetModuleStart;
        t.GetNextModule = QorvexGetNextModule;
        t.ExtractCurrentModule = QorvexExtractCurrentModule;
        t.GetTrackCount = QorvexGetTrackCount;
        t.GetTrackInfo = QorvexGetTrackInfo;
        t.ExtractTrack = QorvexExtractTrack;
        t.ExGetCurrentFile = QorvexExGetCurrentFile;
        t.ExGetCurrentModule = QorvexExGetCurrentModule;
        t.ExGetSkippedFolders = QorvexExGetSkippedFolders;
        t.ExCopyFile = QorvexExCopyFile;
        t.ExCloseImageFiles = QorvexExCloseImageFiles;
        t.ExGetTrackText = QorvexExGetTrackText;
        t.ExGetTrackIndexes = QorvexExGetTrackIndexes;
        t.ExGetRawSectorSize = QorvexExGetRawSectorSize;
        t.ExReadRawSectors = QorvexExReadRawSectors;
        t.ExReadFile = QorvexExReadFile;
        t.ExGetFilePlace = QorvexExGetFilePlace;
        t.ExReadTrack = QorvexExReadTrack;
        t.ExGetDamage = QorvexExGetDamage;
        t.ExGetSalvage = QorvexExGetSalvage;
        return t;
    }();
    return api;
}

}  // namespace host
