// One stored sector through the checks and the P/Q repair of every sector format: the input fills a 2448-byte
// sector (zeros after it), checked as logical sector 0, then repaired and checked again.
#include <algorithm>
#include <cstring>
#include <vector>

#include "model/kinds.h"
#include "verify/sector_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (int32_t format = 0; format < qorvex::kFormatCount; ++format) {
        const qorvex::RawLayout layout = qorvex::GetRawLayout(format);
        std::vector<uint8_t> sector(static_cast<size_t>(layout.stored), 0);
        std::memcpy(sector.data(), data, std::min(size, sector.size()));
        (void)qorvex::CheckRawSector(layout, sector.data(), 0, true);
        (void)qorvex::CheckRawSector(layout, sector.data(), 0, false);
    }
    return 0;
}
