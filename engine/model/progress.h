// The host's progress callback as the engine's operations hold it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "qorvex_ext.h"

namespace qorvex {

struct Progress {
    ProgressCallback callback = nullptr;
    void *user = nullptr;

    bool Active() const { return callback != nullptr; }
    // Hands one block of output to the host; false when it asks to stop.
    bool Deliver(const void *data, int32_t length) const {
        return callback == nullptr || callback(CALLBACK_DATA, user, data, length) != 0;
    }
    // Tells the host how many bytes were copied (QORVEX_EX_CALLBACK_COPIED, no data); false when it asks to stop.
    bool Count(uint64_t bytes) const {
        return callback == nullptr || bytes == 0 ||
               callback(QORVEX_EX_CALLBACK_COPIED, user, nullptr,
                        static_cast<int32_t>(std::min<uint64_t>(bytes, INT32_MAX))) != 0;
    }
};

}  // namespace qorvex
