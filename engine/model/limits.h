// What every reader of a track is handed besides its sector reader.
#pragma once

#include <cstdint>

#include "model/memory_budget.h"

namespace qorvex {

struct Limits {
    MemoryBudget *budget = nullptr;  // charged for every entry, extent, record and name byte
    uint32_t options = 0;            // the open options (extension bits included)

    bool Has(uint32_t option) const { return (options & option) != 0; }
};

}  // namespace qorvex
