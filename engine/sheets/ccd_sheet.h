// CloneCD control files (.ccd) and the raw image beside them (.img, 2352-byte sectors from sector 0, the
// sessions one after the other), with the subchannel file (.sub, 96 bytes a sector) when there is one.
#pragma once

#include <string>
#include <string_view>

#include "model/status.h"
#include "sheets/sheet_folder.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Reads a control file's text; `image_name` is the .img it goes with (the control file's name with .img),
// looked for in `folder` (with the .sub of the same name, read when it holds every sector's subchannel).
// kUnknownFormat for a control file that is not consistent, kImageOpenFailed when the image is not there.
Status ReadCcdSheet(std::string_view text, const std::string &image_name, const SheetFolder &folder, SheetDisc *disc);

}  // namespace qorvex::sheets
