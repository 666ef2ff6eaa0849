// The QorvexEx* exports: what the described records cannot carry.
#include "interface/handle_registry.h"
#include "qorvex_ext.h"

#define QORVEX_EXPORT extern "C" __attribute__((visibility("default")))

using namespace qorvex;

namespace {

int32_t FillCurrent(const TrackVolume *volume, const CatalogueEntry *entry, QorvexExEntry *details) {
    if (!entry) return ENGINE_NO_CURRENT_ENTRY;
    if (!details || details->struct_size < sizeof(QorvexExEntry)) return ENGINE_BAD_KIND;
    FillExEntry(*entry, volume->SelectedListing(), details);
    return 0;
}

}  // namespace

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetCurrentFile(QorvexHandle h, QorvexExEntry *details) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return FillCurrent(volume, volume ? volume->CurrentFile() : nullptr, details);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetCurrentModule(QorvexHandle h, QorvexExEntry *details) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Selected() : nullptr;
    return FillCurrent(volume, volume ? volume->CurrentPart() : nullptr, details);
}

QORVEX_EXPORT int32_t QORVEX_CALL QorvexExGetSkippedFolders(QorvexHandle h, int32_t track, int32_t kind) {
    HeldHandle handle{h};
    TrackVolume *volume = handle ? handle->Track(track) : nullptr;
    const FsListing *listing = volume ? volume->Catalogues().Get(kind) : nullptr;
    return listing ? listing->skipped_folders : 0;
}
