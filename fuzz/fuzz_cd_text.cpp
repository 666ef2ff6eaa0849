// CD-TEXT packs (with or without a drive's 4-byte header) applied to a disc of three tracks: pack types, track
// numbers, texts run across packs and the "same as before" tab; and the input's lines as CloneCD [CDText]
// hexadecimal entries turned into packs.
#include <string>
#include <vector>

#include "in_memory.h"
#include "sheets/cd_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qorvex::sheets::SheetDisc disc;
    disc.tracks.resize(3);
    for (size_t i = 0; i < disc.tracks.size(); ++i) disc.tracks[i].number = static_cast<int32_t>(i + 1);
    qorvex::sheets::ApplyCdText(qorvex::ByteView(data, size), &disc);
    std::vector<std::string> entries(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            entries.emplace_back();
        else
            entries.back() += static_cast<char>(data[i]);
    }
    const std::vector<uint8_t> packs = qorvex::sheets::PacksFromHexEntries(entries);
    qorvex::sheets::ApplyCdText(qorvex::ByteView(packs.data(), packs.size()), &disc);
    return 0;
}
