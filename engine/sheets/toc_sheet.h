// cdrdao TOC files: the text, parsed into the disc it describes.
#pragma once

#include <string_view>

#include "model/status.h"
#include "sheets/sheet_folder.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Reads a TOC file's text; the files it names are looked for in `folder`. kUnknownFormat for a TOC that is
// not consistent or holds what the track table cannot (silence between a track's file pieces), and
// kImageOpenFailed when a file it names is not there.
Status ReadTocSheet(std::string_view text, const SheetFolder &folder, SheetDisc *disc);

}  // namespace qorvex::sheets
