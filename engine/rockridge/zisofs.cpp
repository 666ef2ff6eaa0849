#include "rockridge/zisofs.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <vector>

#include "model/byte_view.h"

namespace qorvex::rockridge {

namespace {

// The file header (zisofs, as mkzftree and libisofs write it).
constexpr std::array<uint8_t, 8> kMagic = {0x37, 0xE4, 0x53, 0x96, 0xC9, 0xDB, 0xD6, 0x07};
constexpr size_t kHeaderBytes = 16;
// zlib's bound for an incompressible block, with room: a longer block is not one zisofs wrote.
constexpr uint64_t CompressedBound(uint64_t block) {
    return block + block / 1000 + 64;
}

Status Inflate(const std::vector<uint8_t> &in, std::vector<uint8_t> &out, size_t expected) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return Code::kReadFailed;
    z.next_in = const_cast<Bytef *>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(expected);
    const int result = inflate(&z, Z_FINISH);
    const size_t made = expected - z.avail_out;
    inflateEnd(&z);
    return result == Z_STREAM_END && made == expected ? Status::Ok() : Status(Code::kReadFailed);
}

}  // namespace

Status DecodeZisofs(uint64_t stored_size, uint64_t real_size, const StoredReader &read, const RealSink &sink) {
    return DecodeZisofsRange(stored_size, real_size, read, 0, real_size, sink);
}

Status DecodeZisofsRange(uint64_t stored_size, uint64_t real_size, const StoredReader &read, uint64_t first,
                         uint64_t end, const RealSink &sink) {
    std::array<uint8_t, kHeaderBytes> head{};
    if (stored_size < head.size() || !read(0, head.data(), head.size())) return Code::kReadFailed;
    const ByteView header(head.data(), head.size());
    if (!std::equal(kMagic.begin(), kMagic.end(), head.begin()) || header.U32le(8) != real_size)
        return Code::kReadFailed;
    const uint64_t table_at = uint64_t(header.U8(12)) * 4;
    const uint8_t log2_block = header.U8(13);
    if (table_at < kHeaderBytes || log2_block < 15 || log2_block > 17) return Code::kReadFailed;
    const uint64_t block = uint64_t{1} << log2_block;
    const uint64_t blocks = (real_size + block - 1) / block;
    // The table must lie in the stored data before anything is allocated for it.
    const uint64_t table_bytes = (blocks + 1) * 4;
    if (table_at > stored_size || table_bytes > stored_size - table_at) return Code::kReadFailed;
    end = std::min(end, real_size);
    if (first >= end) return Status::Ok();
    // Only the pointers of the blocks asked for are read: a small read of a large file stays small.
    const uint64_t first_block = first / block, end_block = (end + block - 1) / block;
    std::vector<uint8_t> table(static_cast<size_t>((end_block - first_block + 1) * 4));
    if (!read(table_at + first_block * 4, table.data(), table.size())) return Code::kReadFailed;
    const ByteView pointers(table.data(), table.size());

    std::vector<uint8_t> in, out(static_cast<size_t>(block));
    for (uint64_t i = first_block; i < end_block; ++i) {
        const size_t at = static_cast<size_t>((i - first_block) * 4);
        const uint64_t from = pointers.U32le(at);
        const uint64_t to = pointers.U32le(at + 4);
        const uint64_t begins = i * block;
        const size_t expected = static_cast<size_t>(std::min(block, real_size - begins));
        if (to < from || to > stored_size || to - from > CompressedBound(block)) return Code::kReadFailed;
        if (to == from) {
            std::fill(out.begin(), out.begin() + static_cast<ptrdiff_t>(expected), 0);  // a block of zeros
        } else {
            in.resize(static_cast<size_t>(to - from));
            if (!read(from, in.data(), in.size())) return Code::kReadFailed;
            QORVEX_TRY(Inflate(in, out, expected));
        }
        const uint64_t skip = first > begins ? first - begins : 0;
        const uint64_t stop = std::min<uint64_t>(expected, end - begins);
        QORVEX_TRY(sink(out.data() + skip, static_cast<size_t>(stop - skip)));
    }
    return Status::Ok();
}

}  // namespace qorvex::rockridge
