#include "engine_binding.h"

#include "platform.h"
#include "qorvex_version.h"

namespace lumast {
namespace {

// The soname: the name the library is installed under without its development package.
constexpr const char *kLibraryName = QORVEX_LIBRARY_SONAME;

template <typename F>
bool Resolve(void *module, const char *name, F *slot) {
    *slot = reinterpret_cast<F>(platform::FindSymbol(module, name));
    return *slot != nullptr;
}

}  // namespace

std::vector<std::string> EngineCandidates(const std::string &program_folder) {
    std::vector<std::string> candidates;
    if (!program_folder.empty()) {
        // Beside the program (the build folder, a copied program), then the library folder of the tree the
        // program was installed with, wherever that tree now lies.
        candidates.push_back(program_folder + kLibraryName);
        candidates.push_back(program_folder + LUMAST_ENGINE_FROM_BIN + "/" + kLibraryName);
    }
    candidates.push_back(std::string(LUMAST_ENGINE_LIBDIR) + "/" + kLibraryName);
    candidates.push_back(kLibraryName);  // the loader's own search
    return candidates;
}

bool EngineBinding::Load(const std::string &path) {
    if (module_) return true;
    void *module = nullptr;
    if (!path.empty()) {
        module = platform::LoadLibrary(path);
    } else {
        for (const std::string &candidate : EngineCandidates(platform::ProgramFolder())) {
            if ((module = platform::LoadLibrary(candidate))) break;
        }
    }
    if (!module) return false;
    if (!Bind(module)) {
        table_ = EngineTable{};
        platform::FreeLibrary(module);
        return false;
    }
    module_ = module;
    return true;
}

bool EngineBinding::Bind(void *module) {
    EngineTable &t = table_;
    if (!Resolve(module, "QorvexGetDllVersion", &t.GetDllVersion)) return false;
    if (t.GetDllVersion() < kMinimumEngineVersion) return false;
    // Every name is tried, also after a missing one.
    bool ok = true;
    ok &= Resolve(module, "Qorvex", &t.Qorvex);
    ok &= Resolve(module, "QorvexOpen", &t.Open);
    ok &= Resolve(module, "QorvexClose", &t.Close);
    ok &= Resolve(module, "QorvexSetCallback", &t.SetCallback);
    ok &= Resolve(module, "QorvexGetFileCount", &t.GetFileCount);
    ok &= Resolve(module, "QorvexGetFileStart", &t.GetFileStart);
    ok &= Resolve(module, "QorvexGetNextFile", &t.GetNextFile);
    ok &= Resolve(module, "QorvexExtractCurrentFile2", &t.ExtractCurrentFile2);
    ok &= Resolve(module, "QorvexGetImageInformation", &t.GetImageInformation);
    ok &= Resolve(module, "QorvexGetModuleStart", &t.GetModuleStart);
    ok &= Resolve(module, "QorvexGetNextModule", &t.GetNextModule);
    ok &= Resolve(module, "QorvexExtractCurrentModule", &t.ExtractCurrentModule);
    ok &= Resolve(module, "QorvexGetTrackCount", &t.GetTrackCount);
    ok &= Resolve(module, "QorvexGetTrackInfo", &t.GetTrackInfo);
    ok &= Resolve(module, "QorvexExtractTrack", &t.ExtractTrack);
    Resolve(module, "QorvexExGetCurrentFile", &t.ExGetCurrentFile);
    Resolve(module, "QorvexExGetSkippedFolders", &t.ExGetSkippedFolders);
    Resolve(module, "QorvexExCopyFile", &t.ExCopyFile);
    Resolve(module, "QorvexExCloseImageFiles", &t.ExCloseImageFiles);
    Resolve(module, "QorvexExGetRawSectorSize", &t.ExGetRawSectorSize);
    Resolve(module, "QorvexExReadRawSectors", &t.ExReadRawSectors);
    return ok;
}

void EngineBinding::Unload() {
    if (!module_) return;
    platform::FreeLibrary(module_);
    module_ = nullptr;
    table_ = EngineTable{};
}

}  // namespace lumast
