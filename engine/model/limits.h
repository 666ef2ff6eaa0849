// What every reader of a track is handed besides its sector reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/memory_budget.h"

namespace qorvex {

// With OPEN_SALVAGE: what the readers of one track could not read and what they used instead.
struct SalvageNotes {
    int64_t recorded_end = 0;  // the largest end the structures record (sectors)
    int32_t failed = 0;
    std::string text;  // one line each, bounded

    void Failed(std::string_view what) {
        ++failed;
        Note(what);
    }
    void Note(std::string_view what) {
        if (text.size() + what.size() < kMaxText) text.append(what).append("\n");
    }
    void Recorded(int64_t end) { recorded_end = end > recorded_end ? end : recorded_end; }
    static constexpr size_t kMaxText = 2000;
};

struct Limits {
    MemoryBudget *budget = nullptr;   // charged for every entry, extent, record and name byte
    uint32_t options = 0;             // the open options (extension bits included)
    SalvageNotes *salvage = nullptr;  // set with OPEN_SALVAGE: a reader that fails a part notes it and goes on

    bool Has(uint32_t option) const { return (options & option) != 0; }
};

}  // namespace qorvex
