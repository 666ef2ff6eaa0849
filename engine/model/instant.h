// Recorded dates as instants: seconds since 1970 UTC in 64 bits, so that every year a file system can record
// (ISO 9660 to 2155, UDF to 32767) and the first second of 1970 are dates like any other.
#pragma once

#include <cstdint>
#include <limits>

namespace qorvex {

// No date was recorded (or the recorded one is not a calendar date).
constexpr int64_t kNoDate = std::numeric_limits<int64_t>::min();

// The date as the base interface's 32-bit field holds it: 0 for none and for instants it cannot hold.
constexpr int32_t Time32(int64_t instant) {
    if (instant == kNoDate || instant < std::numeric_limits<int32_t>::min() ||
        instant > std::numeric_limits<int32_t>::max())
        return 0;
    return static_cast<int32_t>(instant);
}

}  // namespace qorvex
