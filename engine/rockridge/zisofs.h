// zisofs (Rock Ridge ZF "pz"): a file stored as a header, a table of block pointers and zlib-compressed blocks
// of 2^15 to 2^17 bytes, decoded block by block so that memory stays at one block whatever the file's size.
#pragma once

#include <cstdint>
#include <functional>

#include "model/status.h"

namespace qorvex::rockridge {

// Reads n bytes of the stored (compressed) data from `offset` into `out`; false when they are not there.
using StoredReader = std::function<bool(uint64_t offset, uint8_t *out, size_t n)>;
// Takes n bytes of the real file in order; a failed status stops the decoding with it.
using RealSink = std::function<Status(const uint8_t *data, size_t n)>;

// Decodes a file of `real_size` bytes from `stored_size` stored bytes. kReadFailed for data that is not a
// zisofs file of that size (or that its own table does not describe).
Status DecodeZisofs(uint64_t stored_size, uint64_t real_size, const StoredReader &read, const RealSink &sink);
// The same for the bytes [first, end) of the real file only: the blocks they lie in are decoded, no other.
Status DecodeZisofsRange(uint64_t stored_size, uint64_t real_size, const StoredReader &read, uint64_t first,
                         uint64_t end, const RealSink &sink);

}  // namespace qorvex::rockridge
