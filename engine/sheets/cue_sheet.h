// CUE sheets: the text, parsed into the disc it describes.
#pragma once

#include <string>
#include <string_view>

#include "model/status.h"
#include "sheets/sheet_folder.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Reads a CUE sheet's text; the files it names are looked for in `folder`. kUnknownFormat for a sheet that
// is not consistent, kImageOpenFailed when a file it names is not there.
Status ReadCueSheet(std::string_view text, const SheetFolder &folder, SheetDisc *disc);

}  // namespace qorvex::sheets
