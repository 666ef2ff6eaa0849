#include "engine_api.h"

namespace host {
namespace {

template <typename F>
bool Resolve(void *(*find)(void *, const char *), void *module, const char *name, F *slot) {
    *slot = reinterpret_cast<F>(find(module, name));
    return *slot != nullptr;
}

}  // namespace

bool BindEngineApi(EngineApi *api, void *(*find)(void *module, const char *name), void *module) {
    EngineApi &t = *api;
    // Every name is tried, also after a missing one.
    bool ok = true;
    ok &= Resolve(find, module, "Qorvex", &t.Qorvex);
    ok &= Resolve(find, module, "QorvexOpen", &t.Open);
    ok &= Resolve(find, module, "QorvexClose", &t.Close);
    ok &= Resolve(find, module, "QorvexSetCallback", &t.SetCallback);
    ok &= Resolve(find, module, "QorvexGetFileCount", &t.GetFileCount);
    ok &= Resolve(find, module, "QorvexGetFileStart", &t.GetFileStart);
    ok &= Resolve(find, module, "QorvexGetNextFile", &t.GetNextFile);
    ok &= Resolve(find, module, "QorvexExtractCurrentFile2", &t.ExtractCurrentFile2);
    ok &= Resolve(find, module, "QorvexGetDllVersion", &t.GetDllVersion);
    ok &= Resolve(find, module, "QorvexGetImageInformation", &t.GetImageInformation);
    ok &= Resolve(find, module, "QorvexGetModuleStart", &t.GetModuleStart);
    ok &= Resolve(find, module, "QorvexGetNextModule", &t.GetNextModule);
    ok &= Resolve(find, module, "QorvexExtractCurrentModule", &t.ExtractCurrentModule);
    ok &= Resolve(find, module, "QorvexGetTrackCount", &t.GetTrackCount);
    ok &= Resolve(find, module, "QorvexGetTrackInfo", &t.GetTrackInfo);
    ok &= Resolve(find, module, "QorvexExtractTrack", &t.ExtractTrack);
    Resolve(find, module, "QorvexExGetCurrentFile", &t.ExGetCurrentFile);
    Resolve(find, module, "QorvexExGetCurrentModule", &t.ExGetCurrentModule);
    Resolve(find, module, "QorvexExGetSkippedFolders", &t.ExGetSkippedFolders);
    Resolve(find, module, "QorvexExCopyFile", &t.ExCopyFile);
    Resolve(find, module, "QorvexExCloseImageFiles", &t.ExCloseImageFiles);
    Resolve(find, module, "QorvexExGetTrackText", &t.ExGetTrackText);
    Resolve(find, module, "QorvexExGetTrackIndexes", &t.ExGetTrackIndexes);
    Resolve(find, module, "QorvexExGetRawSectorSize", &t.ExGetRawSectorSize);
    Resolve(find, module, "QorvexExReadRawSectors", &t.ExReadRawSectors);
    Resolve(find, module, "QorvexExReadFile", &t.ExReadFile);
    Resolve(find, module, "QorvexExGetFilePlace", &t.ExGetFilePlace);
    Resolve(find, module, "QorvexExReadTrack", &t.ExReadTrack);
    Resolve(find, module, "QorvexExGetDamage", &t.ExGetDamage);
    Resolve(find, module, "QorvexExGetSalvage", &t.ExGetSalvage);
    return ok;
}

}  // namespace host
