// A cdrdao TOC file's text, read and laid out as the disc it describes: its tracks, file pieces (FILE,
// DATAFILE, SILENCE, ZERO), START, INDEX and CD_TEXT blocks, the files it names (a fixed set, WAVE included) and
// the track table's layout check. No image is opened.
#include <string_view>

#include "in_memory.h"
#include "sheets/toc_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qorvex::sheets::SheetDisc disc;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (qorvex::sheets::ReadTocSheet(text, fuzz::SheetFiles(), &disc).IsOk()) {
        std::vector<qorvex::TrackRecord> tracks;
        std::vector<qorvex::TrackDetails> details;
        (void)qorvex::sheets::LayOut(disc, &tracks, &details);
    }
    return 0;
}
