// The probe of an image path with the open options: a plain image as always, and with OPEN_DISC_SHEETS
// the disc sheets (cue, toc, ccd, mds), Nero images (nrg) and DiscJuggler images (cdi) as well.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_catalogue.h"
#include "model/status.h"

namespace qorvex::sheets {

// Fills `catalogue` from the image at `path`. Whatever opens without the sheet bit opens the same with it
// (only a path the plain probe refuses is read as a sheet, chosen by its extension), but for a Nero image
// (.nrg) or a DiscJuggler image (.cdi): that is read through its own descriptor first, and by the plain probe
// only when it describes no disc. A file the plain probe refuses with a sheet of its name beside it (x.cue for
// x.bin, x.mds for x.mdf) opens as that sheet.
Status ProbeImage(const std::string &path, uint32_t options, ImageCatalogue *catalogue);

}  // namespace qorvex::sheets
