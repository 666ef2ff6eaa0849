// CloneCD control files (.ccd) and the raw image beside them (.img, 2352-byte sectors from sector 0).
#pragma once

#include <string>
#include <string_view>

#include "model/status.h"
#include "sheets/sheet_folder.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Reads a control file's text; `image_name` is the .img it goes with (the control file's name with .img),
// looked for in `folder`. kUnknownFormat for a control file that is not consistent or has several sessions,
// kImageOpenFailed when the image is not there.
Status ReadCcdSheet(std::string_view text, const std::string &image_name, const SheetFolder &folder, SheetDisc *disc);

}  // namespace qorvex::sheets
