#include "containers/isz_source.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#ifdef QORVEX_HAVE_BZIP2
#include <bzlib.h>
#endif

#include "containers/chunk_cache.h"
#include "containers/container_file.h"
#include "model/byte_view.h"
#include "model/memory_budget.h"

namespace qorvex::containers {

namespace {
// A chunk decodes to at most this many bytes whatever the header says: a larger one is no disc image's, and
// the bound keeps a small file from making the cache large.
constexpr uint32_t kMaxChunkBytes = 8u << 20;
constexpr size_t kCacheSlots = 4;
// The chunk table is kept obscured: each byte XORed with the complement of "IsZ!", by its place in the table.
constexpr uint8_t kTableKey[4] = {0xB6, 0x8C, 0xA5, 0xDE};

// ISZ 1.00, 3.1: the file header (packed, little-endian).
struct IszHeader {
    uint8_t header_size = 0;
    uint16_t sector_size = 0;
    uint32_t total_sectors = 0;
    uint8_t has_password = 0;  // 0 plain; otherwise password or AES encrypted
    uint32_t chunks = 0;
    uint32_t chunk_size = 0;
    uint8_t pointer_length = 0;
    uint32_t pointer_offset = 0;  // the chunk table
    uint32_t segment_offset = 0;  // the segment table; 0 when the image is one file
    uint32_t data_offset = 0;
    static constexpr size_t kSize = 48;

    static bool Parse(const ByteView &v, IszHeader *h) {
        if (v.Size() < kSize || v.Text(0, 4) != "IsZ!") return false;
        h->header_size = v.U8(4);
        h->sector_size = v.U16le(10);
        h->total_sectors = v.U32le(12);
        h->has_password = v.U8(16);
        h->chunks = v.U32le(25);
        h->chunk_size = v.U32le(29);
        h->pointer_length = v.U8(33);
        h->pointer_offset = v.U32le(35);
        h->segment_offset = v.U32le(39);
        h->data_offset = v.U32le(43);
        return true;
    }
};

// ISZ 1.00, 3.3: a chunk's kind in the top two bits of its pointer, its stored length in the rest.
enum ChunkKind : uint8_t { kZeros = 0, kStoredAsIs = 1, kZlib = 2, kBzip2 = 3 };

struct Chunk {
    uint8_t kind = kZeros;
    uint32_t length = 0;  // bytes in the file (none for zeros)
    int64_t offset = 0;
};

class IszSource final : public StoredSource {
public:
    Status Open(const std::string &path);
    int64_t Length() const override { return length_; }
    int64_t ReadAt(int64_t offset, void *destination, int64_t n) override;

private:
    const uint8_t *Decoded(int64_t index);
    bool Decode(const Chunk &chunk, uint8_t *out, uint32_t size);
    uint32_t DecodedSize(int64_t index) const {
        return static_cast<uint32_t>(std::min<int64_t>(header_.chunk_size, length_ - index * header_.chunk_size));
    }

    ContainerFile file_;
    IszHeader header_;
    std::vector<Chunk> chunks_;
    int64_t length_ = 0;
    std::vector<uint8_t> stored_;  // one chunk's compressed bytes
    std::unique_ptr<ChunkCache> cache_;
    std::mutex lock_;
};

Status IszSource::Open(const std::string &path) {
    if (!file_.Open(path)) return Code::kImageOpenFailed;
    uint8_t raw[IszHeader::kSize];
    if (!file_.ReadExact(0, raw, sizeof raw) || !IszHeader::Parse(ByteView(raw, sizeof raw), &header_))
        return Code::kUnknownFormat;
    const IszHeader &h = header_;
    if (h.has_password != 0) return Code::kUnknownFormat;    // encrypted: not readable without its password
    if (h.segment_offset != 0) return Code::kUnknownFormat;  // split over segment files
    // Sanity checks that the chunks add up to the image the header describes.
    if (h.sector_size == 0 || h.chunk_size == 0 || h.chunk_size % h.sector_size != 0 || h.chunk_size > kMaxChunkBytes ||
        h.pointer_length < 2 || h.pointer_length > 4 || h.pointer_offset == 0)
        return Code::kUnknownFormat;
    length_ = int64_t(h.total_sectors) * h.sector_size;
    if (h.chunks != (length_ + h.chunk_size - 1) / h.chunk_size || h.chunks == 0) return Code::kUnknownFormat;
    const int64_t table_bytes = int64_t(h.chunks) * h.pointer_length;
    if (table_bytes > file_.Length()) return Code::kUnknownFormat;

    MemoryBudget budget = MemoryBudget::ForImage(file_.Length());
    if (!budget.Charge(ChunkCache::Footprint(kCacheSlots, h.chunk_size) + h.chunk_size) ||
        !ReserveMore(chunks_, h.chunks, budget))
        return Code::kTooLarge;
    std::vector<uint8_t> table(static_cast<size_t>(table_bytes));
    if (!file_.ReadExact(h.pointer_offset, table.data(), table_bytes)) return Code::kUnknownFormat;
    for (size_t i = 0; i < table.size(); ++i) table[i] ^= kTableKey[i % 4];
    const int bits = h.pointer_length * 8 - 2;
    int64_t offset = h.data_offset;
    for (uint32_t i = 0; i < h.chunks; ++i) {
        uint32_t pointer = 0;
        for (int b = 0; b < h.pointer_length; ++b)
            pointer |= uint32_t(table[size_t(i) * h.pointer_length + b]) << (8 * b);
        Chunk c{static_cast<uint8_t>(pointer >> bits), pointer & ((1u << bits) - 1), offset};
        if (c.kind == kZeros) c.length = 0;
        // Sanity check that every stored chunk lies in the file and is no larger than it decodes to.
        if (c.length > h.chunk_size || c.length > file_.Length() || offset > file_.Length() - c.length ||
            (c.kind == kStoredAsIs && c.length != DecodedSize(i)))
            return Code::kUnknownFormat;
        offset += c.length;
        chunks_.push_back(c);
    }
    stored_.resize(h.chunk_size);
    cache_ = std::make_unique<ChunkCache>(kCacheSlots, h.chunk_size);
    return Status::Ok();
}

bool IszSource::Decode(const Chunk &chunk, uint8_t *out, uint32_t size) {
    if (chunk.kind == kZeros) {
        std::memset(out, 0, size);
        return true;
    }
    if (!file_.ReadExact(chunk.offset, stored_.data(), chunk.length)) return false;
    if (chunk.kind == kStoredAsIs) {
        std::memcpy(out, stored_.data(), size);
        return true;
    }
    if (chunk.kind == kZlib) {
        // The output is bounded by the chunk's size: a stream that decodes to more is damaged.
        uLongf produced = size;
        return uncompress(out, &produced, stored_.data(), chunk.length) == Z_OK && produced == size;
    }
#ifdef QORVEX_HAVE_BZIP2
    unsigned int produced = size;
    return BZ2_bzBuffToBuffDecompress(reinterpret_cast<char *>(out), &produced,
                                      reinterpret_cast<char *>(stored_.data()), chunk.length, 0, 0) == BZ_OK &&
           produced == size;
#else
    return false;  // built without libbz2
#endif
}

const uint8_t *IszSource::Decoded(int64_t index) {
    if (const uint8_t *held = cache_->Find(index)) return held;
    uint8_t *out = cache_->Take(index);
    if (!Decode(chunks_[static_cast<size_t>(index)], out, DecodedSize(index))) return nullptr;
    cache_->Keep(index);
    return out;
}

int64_t IszSource::ReadAt(int64_t offset, void *destination, int64_t n) {
    std::lock_guard<std::mutex> hold(lock_);
    if (offset < 0 || n < 0) return -1;
    auto *out = static_cast<uint8_t *>(destination);
    int64_t done = 0;
    while (done < n && offset < length_) {
        const int64_t index = offset / header_.chunk_size;
        const int64_t into = offset % header_.chunk_size;
        const uint8_t *chunk = Decoded(index);
        if (!chunk) return -1;
        const int64_t take = std::min<int64_t>(n - done, DecodedSize(index) - into);
        std::memcpy(out + done, chunk + into, static_cast<size_t>(take));
        done += take;
        offset += take;
    }
    return done;
}
}  // namespace

Status OpenIsz(const std::string &path, std::shared_ptr<StoredSource> *source) {
    auto isz = std::make_shared<IszSource>();
    QORVEX_TRY(isz->Open(path));
    *source = std::move(isz);
    return Status::Ok();
}

bool IszReadsBzip2() {
#ifdef QORVEX_HAVE_BZIP2
    return true;
#else
    return false;
#endif
}

}  // namespace qorvex::containers
