// The host's progress callback as the engine's operations hold it.
#pragma once

#include <cstdint>

#include "qorvex.h"

namespace qorvex {

struct Progress {
    ProgressCallback callback = nullptr;
    void *user = nullptr;

    bool Active() const { return callback != nullptr; }
    // Hands one block of output to the host; false when it asks to stop.
    bool Deliver(const void *data, int32_t length) const {
        return callback == nullptr || callback(CALLBACK_DATA, user, data, length) != 0;
    }
};

}  // namespace qorvex
