// An Alcohol media descriptor's bytes, read and laid out as the disc it describes: the header and its version
// and medium checks, the session blocks, the track blocks with their modes, sector sizes and subchannel, the
// extra blocks (pregap, length), the file blocks and their narrow or UTF-16 names ("*.mdf" and "*.md1" are
// found beside it, two fixed image files), the placement of tracks and sessions on the disc, and the track
// table's layout check. No image is opened.
#include <cstdint>

#include "in_memory.h"
#include "sheets/mds_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qorvex::sheets::SheetDisc disc;
    if (qorvex::sheets::ReadMdsDescriptor(qorvex::ByteView(data, size), "disc.mds", fuzz::SheetFiles(), &disc).IsOk()) {
        std::vector<qorvex::TrackRecord> tracks;
        std::vector<qorvex::TrackDetails> details;
        (void)qorvex::sheets::LayOut(disc, &tracks, &details);
    }
    return 0;
}
