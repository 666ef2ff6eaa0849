// The chunk chain of a Nero image (CUEX/CUES, DAOX/DAOI, ETN2/ETNF, END!) read into the disc it describes,
// then the track table's layout check. The input is the footer's 64-bit big-endian chain offset (where the
// disc's sectors end) followed by the chain itself; no image is opened.
#include <cstdint>

#include "in_memory.h"
#include "sheets/nrg_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8) return 0;
    uint64_t data_end = 0;
    for (size_t i = 0; i < 8; ++i) data_end = data_end << 8 | data[i];
    qorvex::sheets::SheetDisc disc;
    const qorvex::ByteView chain(data + 8, size - 8);
    // Any path will do: the chunks are read from memory and the layout does not open the image.
    if (qorvex::sheets::ReadNrgChunks(chain, static_cast<int64_t>(data_end & INT64_MAX), "disc.nrg", &disc).IsOk()) {
        std::vector<qorvex::TrackRecord> tracks;
        std::vector<qorvex::TrackDetails> details;
        (void)qorvex::sheets::LayOut(disc, &tracks, &details);
    }
    return 0;
}
