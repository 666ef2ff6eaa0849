// The seventeen exported functions.
#include <algorithm>
#include <cstring>
#include <memory>

#include "image/image_catalogue.h"
#include "interface/handle_registry.h"
#include "qorvex.h"
#include "sheets/disc_sheet.h"
#include "tracks/track_extract.h"

#ifdef _WIN32
#define QORVEX_EXPORT extern "C" __declspec(dllexport)
#else
#define QORVEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace qorvex {
namespace {

constexpr int32_t kEngineVersion = 100;
constexpr size_t kLabelBytes = 32;

[[maybe_unused]] const char kVersionText[] = "qorvex DLL 0.100 (0.1.0.0)";

// The kinds QorvexGetImageInformation tries, in order, when asked to choose.
constexpr int32_t kLabelPreference[] = {KIND_JOLIET, KIND_UDF, KIND_ISO9660};

int64_t ImageBytes(const ImageCatalogue &catalogue) {
    int64_t total = 0;
    for (int32_t i = 0; i < catalogue.TrackCount(); ++i) total += catalogue.GetTrack(i).stored_length;
    return total;
}

}  // namespace
}  // namespace qorvex

using namespace qorvex;

QORVEX_EXPORT int32_t QORVEX_CALL Qorvex(int32_t, int32_t) {
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetDllVersion(void) {
    return kEngineVersion;
}

QORVEX_EXPORT QorvexHandle QORVEX_CALL QorvexOpen(const char *path, uint32_t options, int32_t *error) {
    auto handle = std::make_shared<ImageHandle>();
    Status result;
    ImageCatalogue catalogue;
    if (!path) {
        result = Code::kUnknownFormat;
    } else if (result = sheets::ProbeImage(path, options, &catalogue); result.IsOk()) {
        MemoryBudget budget = MemoryBudget::ForImage(ImageBytes(catalogue));
        const Limits limits{&budget, options};
        // A sheet's data track without a file system is still a track (extracted, listed empty).
        const bool keep_bare = !catalogue.Disc().sheet.empty() || catalogue.Disc().sessions_found;
        for (int32_t i = 0; i < catalogue.TrackCount() && result.IsOk(); ++i) {
            auto volume = std::make_unique<TrackVolume>();
            result = volume->Scan(catalogue.GetTrack(i), limits, keep_bare);
            if (result.IsOk()) handle->volumes.push_back(std::move(volume));
        }
        handle->details = catalogue.Details();
        handle->disc = catalogue.Disc();
    }
    if (result.Failed()) {
        if (error) *error = result.Value();
        return nullptr;
    }
    return RegisterHandle(std::move(handle));
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexClose(QorvexHandle h) {
    UnregisterHandle(h);
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexSetCallback(QorvexHandle h, ProgressCallback cb, void *user) {
    if (HeldHandle handle{h})
        for (auto &volume : handle->volumes) volume->SetProgress(Progress{cb, user});
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetFileCount(QorvexHandle h, int32_t track, int32_t kind) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    return volume ? volume->FileCount(kind) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetFileStart(QorvexHandle h, int32_t track, int32_t kind) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return 0;
    handle->selected_track = track;
    return volume->FileStart(kind);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetNextFile(QorvexHandle h, EntryInfo *record) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->NextFile(record) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractCurrentFile2(QorvexHandle h, const char *path, int32_t single) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->ExtractCurrentFile(path, single != 0).Value() : ENGINE_NO_CURRENT_ENTRY;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractCurrentFile(QorvexHandle h, const char *path) {
    return QorvexExtractCurrentFile2(h, path, 1);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetModuleStart(QorvexHandle h, int32_t track, int32_t kind) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return 0;
    handle->selected_track = track;
    return volume->PartStart(kind);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetNextModule(QorvexHandle h, EntryInfo *record) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->NextPart(record) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractCurrentModule(QorvexHandle h, const char *path) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->ExtractCurrentPart(path).Value() : ENGINE_NO_CURRENT_ENTRY;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetImageInformation(QorvexHandle h, int32_t track, int32_t kind, char *label,
                                                            int32_t *sectors, int64_t *bytes) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return 0;
    const TrackRecord &record = volume->Reader().Record();
    if (sectors) *sectors = record.end - record.start;
    if (bytes) *bytes = record.stored_length - record.stored_pregap;
    if (kind == KIND_AUTO) {
        for (int32_t candidate : kLabelPreference)
            if (volume->FileCount(candidate) > 0) {
                kind = candidate;
                break;
            }
        if (kind == KIND_AUTO) return 0;
    } else if (volume->FileCount(kind) == 0) {
        return 0;
    }
    const std::string *text = volume->Label(kind);
    if (label && text) std::memcpy(label, text->data(), std::min(text->size(), kLabelBytes));
    return kind;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetTrackCount(QorvexHandle h) {
    HeldHandle handle{h};
    return handle ? static_cast<int32_t>(handle->volumes.size()) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetTrackInfo(QorvexHandle h, int32_t track, TrackInfo *info) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_BAD_TRACK;
    if (info) FillTrackInfo(volume->Reader(), info);
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractTrack(QorvexHandle h, int32_t track, const char *path, uint32_t flags) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_BAD_TRACK;
    return ExtractTrack(volume->Reader(), volume->GetProgress(), path, flags).Value();
}
