// The one error channel of the engine: a result code by name, returned up through every floor.
#pragma once

#include <cstdint>

#include "qorvex.h"
#include "qorvex_ext.h"

namespace qorvex {

enum class Code : int32_t {
    kOk = ENGINE_OK,
    kAborted = ENGINE_ABORTED,
    kImageOpenFailed = ENGINE_IMAGE_OPEN_FAILED,
    kImageCloseFailed = ENGINE_IMAGE_CLOSE_FAILED,
    kSeekFailed = ENGINE_SEEK_FAILED,
    kReadFailed = ENGINE_READ_FAILED,
    kOutputOpenFailed = ENGINE_OUTPUT_OPEN_FAILED,
    kOutputCloseFailed = ENGINE_OUTPUT_CLOSE_FAILED,
    kWriteFailed = ENGINE_WRITE_FAILED,
    kNoCurrentEntry = ENGINE_NO_CURRENT_ENTRY,
    kBadKind = ENGINE_BAD_KIND,
    kUnknownFormat = ENGINE_UNKNOWN_FORMAT,
    kEdcMismatch = ENGINE_EDC_MISMATCH,
    kNoDataTrack = ENGINE_NO_DATA_TRACK,
    kBadTrack = ENGINE_BAD_TRACK,
    kTooLarge = ENGINE_TOO_LARGE,
    kNeedsParent = ENGINE_NEEDS_PARENT,
};

class [[nodiscard]] Status {
public:
    constexpr Status() = default;
    constexpr Status(Code code) : code_(code) {}  // NOLINT: a code is a status

    static constexpr Status Ok() { return Status(); }
    constexpr bool IsOk() const { return code_ == Code::kOk; }
    constexpr bool Failed() const { return code_ != Code::kOk; }
    constexpr Code GetCode() const { return code_; }
    // The value a host sees (qorvex.h).
    constexpr int32_t Value() const { return static_cast<int32_t>(code_); }
    constexpr bool operator==(const Status &) const = default;

private:
    Code code_ = Code::kOk;
};

// Returns a failed status from the enclosing function.
#define QORVEX_TRY(expression)                                      \
    do {                                                            \
        const ::qorvex::Status qorvex_try_status_ = (expression);   \
        if (qorvex_try_status_.Failed()) return qorvex_try_status_; \
    } while (0)

}  // namespace qorvex
