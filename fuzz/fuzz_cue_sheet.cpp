// A CUE sheet's text, read and laid out as the disc it describes: its lines, commands, index points and
// their placement in the files it names (found among a fixed set of files), CD-TEXT from CDTEXTFILE, and the
// track table's layout check. No image is opened.
#include <string_view>

#include "in_memory.h"
#include "sheets/cue_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qorvex::sheets::SheetDisc disc;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (qorvex::sheets::ReadCueSheet(text, fuzz::SheetFiles(), &disc).IsOk()) {
        std::vector<qorvex::TrackRecord> tracks;
        std::vector<qorvex::TrackDetails> details;
        (void)qorvex::sheets::LayOut(disc, &tracks, &details);
    }
    return 0;
}
