// The decoded byte stream of a container file (ECM, ISZ, ...): what a plain image file would hold, read by
// offset. One per open image, shared by every reader of its tracks, so implementations lock their own state.
#pragma once

#include <cstdint>

namespace qorvex {

class StoredSource {
public:
    virtual ~StoredSource() = default;
    // Bytes of the decoded stream.
    virtual int64_t Length() const = 0;
    // Reads up to n bytes of the decoded stream from `offset`; the count read (short only at the end) or -1
    // when the container cannot deliver them (a damaged chunk, a read failure).
    virtual int64_t ReadAt(int64_t offset, void *destination, int64_t n) = 0;
};

}  // namespace qorvex
