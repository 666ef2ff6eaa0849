// The seventeen exported functions, the handle registry and the image handle.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "catalogue/track_volume.h"
#include "image/image_catalogue.h"
#include "qorvex.h"
#include "tracks/track_extract.h"

#define QORVEX_EXPORT extern "C" __attribute__((visibility("default")))

namespace qorvex {

namespace {

// The object behind a handle: one scanned volume per track.
struct ImageHandle {
    int32_t selected_track = -1;
    std::vector<std::unique_ptr<TrackVolume>> volumes;

    TrackVolume *Track(int32_t index) {
        if (index < 0 || static_cast<size_t>(index) >= volumes.size()) return nullptr;
        return volumes[static_cast<size_t>(index)].get();
    }
    TrackVolume *Selected() { return Track(selected_track); }
};

// Open handles in the order of opening; those still open when the library unloads are destroyed with it.
std::vector<std::unique_ptr<ImageHandle>> &Registry() {
    static std::vector<std::unique_ptr<ImageHandle>> registry;
    return registry;
}

// A handle the library never returned, or one already closed, is answered like an empty one.
ImageHandle *Lookup(QorvexHandle h) {
    if (!h) return nullptr;
    for (auto &handle : Registry())
        if (handle.get() == h) return handle.get();
    return nullptr;
}

[[maybe_unused]] const char kVersionText[] = "qorvex DLL 0.100 (0.1.0.0)";

}  // namespace

}  // namespace qorvex

using namespace qorvex;

QORVEX_EXPORT int32_t QORVEX_CALL Qorvex(int32_t, int32_t) {
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetDllVersion(void) {
    return 100;
}

QORVEX_EXPORT QorvexHandle QORVEX_CALL QorvexOpen(const char *path, uint32_t options, int32_t *error) {
    auto handle = std::make_unique<ImageHandle>();
    int32_t result = 0;
    ImageCatalogue catalogue;
    if (!path || !catalogue.Probe(path)) {
        result = ENGINE_UNKNOWN_FORMAT;
    } else {
        for (int32_t i = 0; i < catalogue.TrackCount(); ++i) {
            auto volume = std::make_unique<TrackVolume>();
            result = volume->Scan(catalogue.GetTrack(i), options);
            if (result != 0) break;
            handle->volumes.push_back(std::move(volume));
        }
    }
    if (result != 0) {
        if (error) *error = result;
        return nullptr;
    }
    Registry().push_back(std::move(handle));
    return Registry().back().get();
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexClose(QorvexHandle h) {
    auto &registry = Registry();
    auto it = std::find_if(registry.begin(), registry.end(), [h](const auto &p) { return p.get() == h; });
    if (it != registry.end()) registry.erase(it);
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexSetCallback(QorvexHandle h, ProgressCallback cb, void *user) {
    if (ImageHandle *handle = Lookup(h))
        for (auto &volume : handle->volumes) volume->SetProgress(Progress{cb, user});
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetFileCount(QorvexHandle h, int32_t track, int32_t kind) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    return volume ? volume->FileCount(kind) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetFileStart(QorvexHandle h, int32_t track, int32_t kind) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return 0;
    handle->selected_track = track;
    return volume->FileStart(kind);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetNextFile(QorvexHandle h, EntryInfo *record) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->NextFile(record) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractCurrentFile2(QorvexHandle h, const char *path, int32_t single) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->ExtractCurrentFile(path, single != 0) : ENGINE_NO_CURRENT_ENTRY;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractCurrentFile(QorvexHandle h, const char *path) {
    return QorvexExtractCurrentFile2(h, path, 1);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetModuleStart(QorvexHandle h, int32_t track, int32_t kind) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return 0;
    handle->selected_track = track;
    return volume->PartStart(kind);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetNextModule(QorvexHandle h, EntryInfo *record) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->NextPart(record) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractCurrentModule(QorvexHandle h, const char *path) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return volume ? volume->ExtractCurrentPart(path) : ENGINE_NO_CURRENT_ENTRY;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetImageInformation(QorvexHandle h, int32_t track, int32_t kind, char *label,
                                                            int32_t *sectors, int64_t *bytes) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return 0;
    const TrackRecord &record = volume->Reader().Record();
    if (sectors) *sectors = record.end - record.start;
    if (bytes) *bytes = record.stored_length - record.stored_pregap;
    if (kind == 0) {
        for (int32_t candidate : {2, 4, 1})
            if (volume->FileCount(candidate) > 0) {
                kind = candidate;
                break;
            }
        if (kind == 0) return 0;
    } else if (volume->FileCount(kind) == 0) {
        return 0;
    }
    const std::string *text = volume->Label(kind);
    if (label && text) std::memcpy(label, text->data(), std::min<size_t>(text->size(), 32));
    return kind;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetTrackCount(QorvexHandle h) {
    ImageHandle *handle = Lookup(h);
    return handle ? static_cast<int32_t>(handle->volumes.size()) : 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexGetTrackInfo(QorvexHandle h, int32_t track, TrackInfo *info) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_BAD_TRACK;
    if (info) FillTrackInfo(volume->Reader(), info);
    return 0;
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExtractTrack(QorvexHandle h, int32_t track, const char *path, uint32_t flags) {
    ImageHandle *handle = Lookup(h);
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    if (!volume) return ENGINE_BAD_TRACK;
    return ExtractTrack(volume->Reader(), volume->GetProgress(), path, flags);
}
