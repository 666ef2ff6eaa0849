// A CloneCD control file's text, read and laid out as the disc it describes: its sections and keys, the
// sessions and tracks of its TOC entries, the .img and .sub beside it (a fixed pair), the [CDText] entries or
// the .cdt file, and the track table's layout check. No image is opened.
#include <string_view>

#include "in_memory.h"
#include "sheets/ccd_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qorvex::sheets::SheetDisc disc;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (qorvex::sheets::ReadCcdSheet(text, "disc.img", fuzz::SheetFiles(), &disc).IsOk()) {
        std::vector<qorvex::TrackRecord> tracks;
        std::vector<qorvex::TrackDetails> details;
        (void)qorvex::sheets::LayOut(disc, &tracks, &details);
    }
    return 0;
}
