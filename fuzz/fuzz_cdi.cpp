// A DiscJuggler descriptor read and laid out as the disc it describes: the version word, the sessions, each
// track block's optional fields (by version), start marks, index lengths, CD-TEXT fields, modes and sector
// sizes, the placement of tracks and sessions on the disc, and the track table's layout check. The input is
// the 64-bit little-endian offset where the image's sectors end, followed by the file's bytes from there to its
// end (the descriptor, then the version word and offset); no image is opened.
#include <cstdint>

#include "sheets/cdi_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8) return 0;
    uint64_t data_end = 0;
    for (size_t i = 0; i < 8; ++i) data_end |= uint64_t(data[i]) << (8 * i);
    qorvex::sheets::SheetDisc disc;
    const qorvex::ByteView tail(data + 8, size - 8);
    if (qorvex::sheets::ReadCdiDescriptor(tail, static_cast<int64_t>(data_end & INT64_MAX), "disc.cdi", &disc).IsOk()) {
        std::vector<qorvex::TrackRecord> tracks;
        std::vector<qorvex::TrackDetails> details;
        (void)qorvex::sheets::LayOut(disc, &tracks, &details);
    }
    return 0;
}
