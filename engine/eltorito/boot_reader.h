// The El Torito reader of a track: the boot record, the boot catalogue and the boot images it names, listed
// among the ISO 9660 system parts.
#pragma once

#include "image/sector_reader.h"
#include "model/catalogue_entry.h"
#include "model/limits.h"
#include "model/status.h"

namespace qorvex::eltorito {

// Appends the boot record, the catalogue and each boot image to `iso` (a listing the ISO 9660 reader found),
// reading through `reader` (open on the track, 2048-byte user data). Damage only leaves parts out; the status
// fails only when the budget refuses what is kept.
Status ReadBootParts(SectorReader &reader, const Limits &limits, FsListing &iso);

// Limits that keep a hostile catalogue bounded: the walk only ever moves forward through these many slots.
constexpr uint32_t kMaxDescriptors = 256;      // volume descriptors looked at from sector 16
constexpr uint32_t kMaxCatalogueSectors = 16;  // 1024 slots; real catalogues use one sector
constexpr size_t kMaxBootImages = 256;

}  // namespace qorvex::eltorito
