// One stored sector through the checks and the P/Q repair: the input's first byte picks the sector format, the
// rest fills the stored sector (zeros after it), checked as logical sector 0, then repaired and checked again.
// One format an input keeps it to about a thousand inputs a second with the sanitizers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "model/kinds.h"
#include "verify/sector_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const qorvex::RawLayout layout = qorvex::GetRawLayout(data[0] % qorvex::kFormatCount);
    std::vector<uint8_t> sector(static_cast<size_t>(layout.stored), 0);
    std::memcpy(sector.data(), data + 1, std::min(size - 1, sector.size()));
    (void)qorvex::CheckRawSector(layout, sector.data(), 0, true);
    (void)qorvex::CheckRawSector(layout, sector.data(), 0, false);
    return 0;
}
