#include "containers/chd_source.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include <zlib.h>

#include "containers/chd_codecs.h"
#include "containers/chd_huffman.h"
#include "containers/chunk_cache.h"
#include "containers/container_file.h"
#include "model/byte_view.h"
#include "model/kinds.h"
#include "model/memory_budget.h"

namespace qorvex::containers {

namespace {
using chd::Codec;

constexpr size_t kHeaderBytes = 124;
constexpr uint32_t kVersion = 5;
// Version 4: one codec for the whole file, a plain map of 16-byte entries right after the header, CRC-32.
constexpr size_t kHeaderBytesV4 = 108;
constexpr size_t kMapEntryBytesV4 = 16;
// No writer makes hunks of more than a megabyte; larger ones would let a small file take a large cache.
constexpr uint32_t kMaxHunkBytes = 1u << 20;
constexpr size_t kCacheSlots = 8;
// Threads that decode hunks ahead of a reader going through the file in order, and hunks each keeps ahead.
constexpr unsigned kMaxAheadThreads = 4;
constexpr size_t kAheadPerThread = 3;
// A metadata chain longer than this is a loop or no chain.
constexpr int kMaxMetadata = 1024;
constexpr uint32_t kMaxMetadataText = 4096;
constexpr uint32_t kCdPadding = 4;  // each track's frames are padded to a multiple of four

// The v5 hunk kinds as the map gives them (types 0-3: the header's codecs), and the kinds made of them here.
enum HunkType : uint8_t {
    kCodec0 = 0,
    kStored = 4,
    kSelf = 5,
    kParent = 6,
    kRleSmall = 7,
    kRleLarge = 8,
    kSelf0 = 9,
    kSelf1 = 10,
    kParentSelf = 11,
    kParent0 = 12,
    kParent1 = 13,
    kZeros = 14,      // an uncompressed map's hunk that is not in the file
    kStoredRaw = 15,  // an uncompressed map's hunk: no CRC
    kMini = 16        // version 4: the hunk is `offset`'s eight bytes over and over
};

struct MapEntry {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t crc = 0;  // CRC-16 (version 5) or CRC-32 (version 4) of the decoded hunk
    uint8_t type = kZeros;
    bool checked = true;  // version 4 may leave a hunk without its CRC
};

uint64_t U48be(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 0; i < 6; ++i) v = v << 8 | p[i];
    return v;
}

// CRC-16/CCITT (polynomial 0x1021, from 0xFFFF), as the map and the hunks carry it. Two bytes at a time: the
// register is as wide as they are, so the next state is the register XOR the two bytes, times x^16.
class Crc16 {
public:
    Crc16() {
        static const std::vector<uint16_t> table = [] {
            std::vector<uint16_t> t(65536);
            for (uint32_t i = 0; i < 65536; ++i) {
                uint32_t c = i;
                for (int b = 0; b < 16; ++b) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
                t[i] = static_cast<uint16_t>(c);
            }
            return t;
        }();
        table_ = table.data();
    }
    void Add(const uint8_t *p, size_t n) {
        size_t i = 0;
        for (; i + 2 <= n; i += 2) value_ = table_[value_ ^ (uint32_t(p[i]) << 8 | p[i + 1])];
        // A last odd byte: its 8 bits through the register.
        if (i < n) {
            uint32_t c = value_ ^ (uint32_t(p[i]) << 8);
            for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
            value_ = static_cast<uint16_t>(c);
        }
    }
    uint16_t Value() const { return value_; }

private:
    const uint16_t *table_;
    uint16_t value_ = 0xFFFF;
};

class HunkAhead;

// What one thread needs to decode hunks: its own view of the file and its own decoders.
struct HunkReader {
    ContainerFile file;
    std::unique_ptr<chd::HunkDecoder> decoder;
    std::vector<uint8_t> stored;
};

class ChdFile {
public:
    ChdFile();
    ~ChdFile();
    Status Open(const std::string &path);
    int64_t Logical() const { return logical_; }
    uint32_t HunkBytes() const { return hunk_bytes_; }
    // The decoded hunk `index` (callers hold `lock`); null when it cannot be decoded.
    const uint8_t *Hunk(int64_t index);
    // Reads up to n bytes of the image from `offset` (callers hold `lock`); the count, or -1.
    int64_t Read(int64_t offset, uint8_t *out, int64_t n);

    struct Metadata {
        uint32_t tag;
        std::string text;
    };
    std::vector<Metadata> metadata;
    std::mutex lock;

    // Decodes hunk `index` into `out` (hunk-bytes long) with `reader`; safe from any thread.
    bool Decode(int64_t index, HunkReader &reader, uint8_t *out) const;
    // A reader of the file for another thread; false when the file cannot be opened again.
    bool NewReader(HunkReader &reader) const;
    // The key the cache holds a hunk under: where its bytes are stored, so that repeats are decoded once.
    int64_t KeyOf(int64_t index) const;
    int64_t Hunks() const { return static_cast<int64_t>(map_.size()); }
    bool Holds(int64_t index) const { return cache_->Holds(KeyOf(index)); }

private:
    Status ReadMap(const ByteView &header);
    Status ReadMapV4(uint32_t hunks);
    Status ReadMetadata(uint64_t offset);
    // After hunk `index` was read: a step in order starts or moves the read-ahead.
    void ReadOn(int64_t index);

    std::string path_;
    HunkReader reader_;  // the reading thread's
    ContainerFile &file_ = reader_.file;
    int64_t logical_ = 0;
    uint32_t hunk_bytes_ = 0, unit_bytes_ = 0;
    Codec codecs_[4] = {};
    bool compressed_ = false;
    bool v4_ = false;
    std::vector<MapEntry> map_;
    std::unique_ptr<ChunkCache> cache_;
    MemoryBudget budget_{0};
    int64_t last_ = -1;         // the hunk read last
    bool ahead_tried_ = false;  // threads were asked for once (they may not have been had)
    std::unique_ptr<HunkAhead> ahead_;  // declared last: its threads stop before the rest goes
};

// Hunks decoded ahead of a reader going through the file in order, by threads of their own, into a window of
// slots the reader copies them out of. A reader that jumps elsewhere leaves the slots to be reused.
class HunkAhead {
public:
    HunkAhead(const ChdFile &file, unsigned threads, uint32_t hunk_bytes)
        : file_(file), hunk_bytes_(hunk_bytes), slots_(threads * kAheadPerThread) {
        for (Slot &slot : slots_) slot.bytes = std::make_unique<uint8_t[]>(hunk_bytes);
    }
    ~HunkAhead() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        work_.notify_all();
        for (std::thread &t : threads_) t.join();
    }
    // Starts the threads; false when none could be had.
    bool Start(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i) {
            auto reader = std::make_unique<HunkReader>();
            if (!file_.NewReader(*reader)) break;
            try {
                threads_.emplace_back([this, r = std::move(reader)] { Work(*r); });
            } catch (const std::system_error &) {
                break;
            }
        }
        return !threads_.empty();
    }
    // After hunk `index` was read: the hunks after it are asked for, those before it let go.
    void After(int64_t index) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            const int64_t end = std::min<int64_t>(index + 1 + int64_t(slots_.size()), file_.Hunks());
            for (Slot &slot : slots_)
                if (slot.state != State::kBusy && (slot.index <= index || slot.index >= end)) slot.state = State::kFree;
            for (int64_t next = index + 1; next < end; ++next) {
                if (file_.Holds(next) || Find(next)) continue;
                Slot *free = nullptr;
                for (Slot &slot : slots_)
                    if (slot.state == State::kFree) free = &slot;
                if (!free) break;
                free->index = next;
                free->state = State::kQueued;
            }
        }
        work_.notify_all();
    }
    // Copies hunk `index` to `out` once decoded, when it was asked for; false when it was not or failed.
    bool Take(int64_t index, uint8_t *out) {
        std::unique_lock<std::mutex> hold(lock_);
        Slot *slot = Find(index);
        if (!slot) return false;
        done_.wait(hold, [&] { return slot->state != State::kQueued && slot->state != State::kBusy; });
        const bool ok = slot->state == State::kDone && slot->index == index;
        if (ok) std::memcpy(out, slot->bytes.get(), hunk_bytes_);
        slot->state = State::kFree;
        return ok;
    }

private:
    enum class State : uint8_t { kFree, kQueued, kBusy, kDone, kFailed };
    struct Slot {
        int64_t index = -1;
        State state = State::kFree;
        std::unique_ptr<uint8_t[]> bytes;
    };
    Slot *Find(int64_t index) {
        for (Slot &slot : slots_)
            if (slot.state != State::kFree && slot.index == index) return &slot;
        return nullptr;
    }
    void Work(HunkReader &reader) {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            Slot *next = nullptr;
            work_.wait(hold, [&] {
                for (Slot &slot : slots_)
                    if (slot.state == State::kQueued && (!next || slot.index < next->index)) next = &slot;
                return stop_ || next;
            });
            if (stop_) return;
            next->state = State::kBusy;
            const int64_t index = next->index;
            hold.unlock();
            const bool ok = file_.Decode(index, reader, next->bytes.get());
            hold.lock();
            next->state = ok ? State::kDone : State::kFailed;
            done_.notify_all();
        }
    }

    const ChdFile &file_;
    const uint32_t hunk_bytes_;
    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex lock_;
    std::condition_variable work_, done_;
    bool stop_ = false;
};

ChdFile::ChdFile() = default;
ChdFile::~ChdFile() = default;

Status ChdFile::Open(const std::string &path) {
    path_ = path;
    if (!file_.Open(path)) return Code::kImageOpenFailed;
    uint8_t raw[kHeaderBytes];
    if (!file_.ReadExact(0, raw, 16) || std::memcmp(raw, "MComprHD", 8) != 0) return Code::kUnknownFormat;
    const ByteView head(raw, sizeof raw);
    v4_ = head.U32be(12) == 4 && head.U32be(8) == kHeaderBytesV4;
    if (!v4_ && (head.U32be(12) != kVersion || head.U32be(8) != kHeaderBytes)) return Code::kUnknownFormat;
    if (!file_.ReadExact(0, raw, v4_ ? kHeaderBytesV4 : kHeaderBytes)) return Code::kUnknownFormat;
    uint64_t metadata_at = 0;
    if (v4_) {
        if (head.U32be(16) & 1) return Code::kNeedsParent;  // the flag of a file that needs its parent
        // Compression 1 and 2 are both raw deflate; 3 (A/V) is no disc's.
        const uint32_t compression = head.U32be(20);
        if (compression > 2) return Code::kUnknownFormat;
        codecs_[0] = compression == 0 ? Codec::kNone : Codec::kZlib;
        logical_ = static_cast<int64_t>((uint64_t(head.U32be(28)) << 32 | head.U32be(32)) & (~uint64_t(0) >> 1));
        metadata_at = uint64_t(head.U32be(36)) << 32 | head.U32be(40);
        hunk_bytes_ = unit_bytes_ = head.U32be(44);
    } else {
        // A parent's SHA-1: the file keeps only what differs from another CHD.
        for (size_t i = 104; i < 124; ++i)
            if (raw[i] != 0) return Code::kNeedsParent;
        for (int c = 0; c < 4; ++c) codecs_[c] = chd::CodecOf(head.U32be(16 + 4 * size_t(c)));
        logical_ = static_cast<int64_t>((uint64_t(head.U32be(32)) << 32 | head.U32be(36)) & (~uint64_t(0) >> 1));
        metadata_at = uint64_t(head.U32be(48)) << 32 | head.U32be(52);
        hunk_bytes_ = head.U32be(56);
        unit_bytes_ = head.U32be(60);
    }
    compressed_ = codecs_[0] != Codec::kNone;
    // Sanity checks that the hunks can make the image the header describes.
    if (hunk_bytes_ == 0 || hunk_bytes_ > kMaxHunkBytes || unit_bytes_ == 0 || hunk_bytes_ % unit_bytes_ != 0 ||
        logical_ <= 0)
        return Code::kUnknownFormat;
    budget_ = MemoryBudget::ForImage(file_.Length());
    if (!budget_.Charge(ChunkCache::Footprint(kCacheSlots, hunk_bytes_) + 4 * uint64_t(hunk_bytes_)))
        return Code::kTooLarge;
    QORVEX_TRY(v4_ ? ReadMapV4(head.U32be(24)) : ReadMap(head));
    QORVEX_TRY(ReadMetadata(metadata_at));
    reader_.decoder = std::make_unique<chd::HunkDecoder>(hunk_bytes_);
    cache_ = std::make_unique<ChunkCache>(kCacheSlots, hunk_bytes_);
    return Status::Ok();
}

Status ChdFile::ReadMap(const ByteView &header) {
    const uint64_t hunks = (uint64_t(logical_) + hunk_bytes_ - 1) / hunk_bytes_;
    if (hunks > UINT32_MAX || !budget_.Charge(hunks * (sizeof(MapEntry) + 12))) return Code::kTooLarge;
    map_.resize(static_cast<size_t>(hunks));
    const uint64_t map_at = uint64_t(header.U32be(40)) << 32 | header.U32be(44);
    const int64_t file_length = file_.Length();
    if (map_at > uint64_t(file_length)) return Code::kUnknownFormat;
    const auto map_offset = static_cast<int64_t>(map_at);
    if (!compressed_) {
        // Four bytes a hunk: its place in the file in hunks; 0 for one that is not stored (zeros).
        std::vector<uint8_t> raw(map_.size() * 4);
        if (!file_.ReadExact(map_offset, raw.data(), int64_t(raw.size()))) return Code::kUnknownFormat;
        for (size_t i = 0; i < map_.size(); ++i) {
            const uint64_t at = uint64_t(ByteView(raw.data(), raw.size()).U32be(i * 4)) * hunk_bytes_;
            if (at != 0 && at + hunk_bytes_ > uint64_t(file_length)) return Code::kUnknownFormat;
            map_[i] = MapEntry{at, hunk_bytes_, 0, static_cast<uint8_t>(at == 0 ? kZeros : kStoredRaw)};
        }
        return Status::Ok();
    }
    // The compressed map: a 16-byte header (its length, the first hunk's offset, its CRC, the widths of the
    // lengths and references), the types Huffman-coded with runs, then each hunk's fields.
    uint8_t top[16];
    if (!file_.ReadExact(map_offset, top, sizeof top)) return Code::kUnknownFormat;
    const ByteView t(top, sizeof top);
    const uint32_t map_bytes = t.U32be(0);
    uint64_t offset = U48be(top + 4);
    const uint16_t map_crc = t.U16be(10);
    const int length_bits = top[12], self_bits = top[13], parent_bits = top[14];
    if (length_bits > 24 || self_bits > 32 || parent_bits > 32 || map_bytes > file_length - map_offset - 16)
        return Code::kUnknownFormat;
    if (!budget_.Charge(map_bytes)) return Code::kTooLarge;
    std::vector<uint8_t> packed(map_bytes);
    if (!file_.ReadExact(map_offset + 16, packed.data(), map_bytes)) return Code::kUnknownFormat;
    chd::BitReader bits(packed.data(), packed.size());
    chd::HuffmanDecoder types(16, 8);
    if (!types.ImportRle(bits)) return Code::kUnknownFormat;
    uint32_t repeat = 0;
    uint8_t last = 0;
    for (MapEntry &e : map_) {
        if (repeat > 0) {
            e.type = last;
            --repeat;
            continue;
        }
        if (bits.Overrun()) return Code::kUnknownFormat;
        const uint32_t value = types.Decode(bits);
        if (value == kRleSmall) {
            repeat = 2 + types.Decode(bits);
        } else if (value == kRleLarge) {
            repeat = 2 + 16 + (types.Decode(bits) << 4);
            repeat += types.Decode(bits);
        } else {
            last = static_cast<uint8_t>(value);
        }
        // A run repeats the type before it, pseudo-types too (each "next self" counts on from the last), for
        // this hunk and `repeat` more.
        e.type = last;
    }
    Crc16 crc;
    uint64_t last_self = 0;
    const uint64_t stored_max = uint64_t(hunk_bytes_) * 2 + 1024;
    for (size_t i = 0; i < map_.size(); ++i) {
        MapEntry &e = map_[i];
        uint64_t at = offset;
        uint32_t length = 0;
        uint16_t hunk_crc = 0;
        switch (e.type) {
            case 0: case 1: case 2: case 3:
                length = bits.Read(length_bits);
                offset += length;
                hunk_crc = static_cast<uint16_t>(bits.Read(16));
                break;
            case kStored:
                length = hunk_bytes_;
                offset += length;
                hunk_crc = static_cast<uint16_t>(bits.Read(16));
                break;
            case kSelf:
                at = last_self = bits.Read(self_bits);
                break;
            case kSelf1:
                ++last_self;
                [[fallthrough]];
            case kSelf0:
                e.type = kSelf;
                at = last_self;
                break;
            case kParent: case kParentSelf: case kParent0: case kParent1:
                return Code::kNeedsParent;
            default:
                return Code::kUnknownFormat;
        }
        e.offset = at;
        e.length = length;
        e.crc = hunk_crc;
        const uint8_t record[12] = {e.type,
                                    uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length),
                                    uint8_t(at >> 40), uint8_t(at >> 32), uint8_t(at >> 24), uint8_t(at >> 16),
                                    uint8_t(at >> 8), uint8_t(at),
                                    uint8_t(hunk_crc >> 8), uint8_t(hunk_crc)};
        crc.Add(record, sizeof record);
        if (e.type == kSelf) {
            // Sanity check that a reference points back: to itself or forward it would never end.
            if (at >= i) return Code::kUnknownFormat;
            e = map_[static_cast<size_t>(at)];
            continue;
        }
        if (e.type < 4 && (codecs_[e.type] == Codec::kNone || codecs_[e.type] == Codec::kUnknown))
            return Code::kUnknownFormat;
        // Sanity check that every stored hunk lies in the file.
        if (length > stored_max || at > uint64_t(file_length) || length > uint64_t(file_length) - at)
            return Code::kUnknownFormat;
    }
    if (bits.Overrun() || crc.Value() != map_crc) return Code::kUnknownFormat;
    uint32_t longest = 0;
    for (const MapEntry &e : map_) longest = std::max(longest, e.length);
    reader_.stored.resize(longest);
    return Status::Ok();
}

Status ChdFile::ReadMapV4(uint32_t count) {
    const uint64_t hunks = (uint64_t(logical_) + hunk_bytes_ - 1) / hunk_bytes_;
    if (count < hunks) return Code::kUnknownFormat;  // sanity check that the map covers the image
    if (hunks > UINT32_MAX || !budget_.Charge(hunks * sizeof(MapEntry))) return Code::kTooLarge;
    map_.resize(static_cast<size_t>(hunks));
    const uint64_t file_length = uint64_t(file_.Length());
    const uint64_t stored_max = uint64_t(hunk_bytes_) * 2 + 1024;
    std::vector<uint8_t> block;
    uint32_t longest = 0;
    for (size_t i = 0; i < map_.size(); ++i) {
        if (i % 4096 == 0) {
            block.resize(std::min<size_t>(4096, map_.size() - i) * kMapEntryBytesV4);
            if (!file_.ReadExact(int64_t(kHeaderBytesV4 + i * kMapEntryBytesV4), block.data(), int64_t(block.size())))
                return Code::kUnknownFormat;
        }
        const ByteView v(block.data() + (i % 4096) * kMapEntryBytesV4, kMapEntryBytesV4);
        MapEntry &e = map_[i];
        e.offset = uint64_t(v.U32be(0)) << 32 | v.U32be(4);
        e.crc = v.U32be(8);
        e.length = uint32_t(v.U8(12)) << 8 | v.U8(13) | uint32_t(v.U8(14)) << 16;
        e.checked = (v.U8(15) & 0x10) == 0;
        switch (v.U8(15) & 0x0F) {
            case 1: e.type = kCodec0; break;
            case 2: e.type = kStored; break;
            case 3: e.type = kMini; continue;
            case 4:
                // Sanity check that a reference points back: to itself or forward it would never end.
                if (e.offset >= i) return Code::kUnknownFormat;
                e = map_[size_t(e.offset)];
                continue;
            case 5: return Code::kNeedsParent;
            default: return Code::kUnknownFormat;
        }
        if ((e.type == kCodec0 && (!compressed_ || e.length > stored_max)) ||
            (e.type == kStored && e.length != hunk_bytes_))
            return Code::kUnknownFormat;
        // Sanity check that every stored hunk lies in the file.
        if (e.offset > file_length || e.length > file_length - e.offset) return Code::kUnknownFormat;
        longest = std::max(longest, e.length);
    }
    reader_.stored.resize(longest);
    return Status::Ok();
}

Status ChdFile::ReadMetadata(uint64_t offset) {
    const uint64_t file_length = uint64_t(file_.Length());
    for (int n = 0; offset != 0; ++n) {
        uint8_t raw[16];
        if (n >= kMaxMetadata || offset >= file_length || !file_.ReadExact(int64_t(offset), raw, sizeof raw))
            return Code::kUnknownFormat;
        const ByteView v(raw, sizeof raw);
        const uint32_t tag = v.U32be(0), length = v.U32be(4) & 0xFFFFFF;
        const uint64_t next = uint64_t(v.U32be(8)) << 32 | v.U32be(12);
        if (length <= kMaxMetadataText) {
            std::string text(length, '\0');
            if (!file_.ReadExact(int64_t(offset) + 16, text.data(), length)) return Code::kUnknownFormat;
            text.resize(std::strlen(text.c_str()));  // the text may end in a NUL
            metadata.push_back(Metadata{tag, std::move(text)});
        } else {
            metadata.push_back(Metadata{tag, {}});
        }
        offset = next;
    }
    return Status::Ok();
}

bool ChdFile::Decode(int64_t index, HunkReader &reader, uint8_t *out) const {
    const MapEntry &entry = map_[size_t(index)];
    switch (entry.type) {
        case kZeros: std::memset(out, 0, hunk_bytes_); return true;
        case kMini:
            for (uint32_t i = 0; i < hunk_bytes_; ++i) out[i] = uint8_t(entry.offset >> (56 - 8 * (i % 8)));
            return true;
        case kStoredRaw: return reader.file.ReadExact(int64_t(entry.offset), out, hunk_bytes_);
        case kStored:
        case 0: case 1: case 2: case 3: {
            bool ok = false;
            if (entry.type == kStored) {
                ok = reader.file.ReadExact(int64_t(entry.offset), out, hunk_bytes_);
            } else {
                ok = reader.file.ReadExact(int64_t(entry.offset), reader.stored.data(), entry.length) &&
                     reader.decoder->Decode(codecs_[entry.type], reader.stored.data(), entry.length, out);
            }
            if (!ok) return false;
            if (!entry.checked) return true;
            if (v4_) return crc32(0, out, hunk_bytes_) == entry.crc;
            Crc16 crc;
            crc.Add(out, hunk_bytes_);
            return crc.Value() == entry.crc;
        }
        default: return false;
    }
}

bool ChdFile::NewReader(HunkReader &reader) const {
    if (!reader.file.Open(path_) || reader.file.Length() != file_.Length()) return false;
    reader.decoder = std::make_unique<chd::HunkDecoder>(hunk_bytes_);
    reader.stored.resize(reader_.stored.size());
    return true;
}

int64_t ChdFile::KeyOf(int64_t index) const {
    const MapEntry &entry = map_[size_t(index)];
    if (entry.type == kZeros) return -2;
    if (entry.type == kMini) return -3 - index;  // its offset is no place in the file
    return static_cast<int64_t>(entry.offset);
}

const uint8_t *ChdFile::Hunk(int64_t index) {
    if (index < 0 || size_t(index) >= map_.size()) return nullptr;
    const int64_t key = KeyOf(index);
    const uint8_t *held = cache_->Find(key);
    if (!held) {
        uint8_t *out = cache_->Take(key);
        if (!(ahead_ && ahead_->Take(index, out)) && !Decode(index, reader_, out)) return nullptr;
        cache_->Keep(key);
        held = out;
    }
    if (index != last_) ReadOn(index);
    return held;
}

void ChdFile::ReadOn(int64_t index) {
    const bool in_order = index == last_ + 1;
    last_ = index;
    if (!in_order) return;
    if (!ahead_tried_) {
        // Asked for on the first step in order, so that opening and reading a few sectors here and there starts
        // no thread; none where the budget has no room for their hunks and decoders.
        ahead_tried_ = true;
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxAheadThreads);
        const uint64_t bytes = threads * (kAheadPerThread * uint64_t(hunk_bytes_) + 4 * uint64_t(hunk_bytes_));
        if (!budget_.Charge(bytes)) return;
        ahead_ = std::make_unique<HunkAhead>(*this, threads, hunk_bytes_);
        if (!ahead_->Start(threads)) ahead_.reset();
    }
    if (ahead_) ahead_->After(index);
}

int64_t ChdFile::Read(int64_t offset, uint8_t *out, int64_t n) {
    if (offset < 0 || n < 0) return -1;
    int64_t done = 0;
    while (done < n && offset < logical_) {
        const uint8_t *hunk = Hunk(offset / hunk_bytes_);
        if (!hunk) return -1;
        const int64_t into = offset % hunk_bytes_;
        const int64_t take = std::min({n - done, int64_t(hunk_bytes_) - into, logical_ - offset});
        std::memcpy(out + done, hunk + into, size_t(take));
        done += take;
        offset += take;
    }
    return done;
}

// A DVD or raw image: the hunks' bytes as they are.
class PlainSource final : public StoredSource {
public:
    explicit PlainSource(std::shared_ptr<ChdFile> file) : file_(std::move(file)) {}
    int64_t Length() const override { return file_->Logical(); }
    int64_t ReadAt(int64_t offset, void *destination, int64_t n) override {
        std::lock_guard<std::mutex> hold(file_->lock);
        return file_->Read(offset, static_cast<uint8_t *>(destination), n);
    }

private:
    std::shared_ptr<ChdFile> file_;
};

// A CD: each track's frames as sectors of its own size (the data, then the subcode where it is kept),
// the tracks one after the other without their padding, audio samples turned little-endian.
class CdSource final : public StoredSource {
public:
    struct Run {
        int64_t begin = 0;     // stream byte
        int64_t frame = 0;     // the CHD's frame of the first sector
        int64_t sectors = 0;
        int32_t data = 0;      // data bytes a sector in the stream
        bool subcode = false;  // the 96 subcode bytes follow them
        bool audio = false;
    };
    CdSource(std::shared_ptr<ChdFile> file, std::vector<Run> runs, int64_t length)
        : file_(std::move(file)), runs_(std::move(runs)), length_(length) {}
    int64_t Length() const override { return length_; }
    int64_t ReadAt(int64_t offset, void *destination, int64_t n) override;

private:
    std::shared_ptr<ChdFile> file_;
    std::vector<Run> runs_;
    int64_t length_;
};

int64_t CdSource::ReadAt(int64_t offset, void *destination, int64_t n) {
    if (offset < 0 || n < 0) return -1;
    std::lock_guard<std::mutex> hold(file_->lock);
    auto *out = static_cast<uint8_t *>(destination);
    const uint32_t frames_per_hunk = file_->HunkBytes() / chd::kFrameBytes;
    int64_t done = 0;
    auto run = std::upper_bound(runs_.begin(), runs_.end(), offset,
                                [](int64_t at, const Run &r) { return at < r.begin; });
    if (run == runs_.begin()) return -1;
    --run;
    while (done < n && offset < length_) {
        while (run + 1 != runs_.end() && offset >= (run + 1)->begin) ++run;
        const int64_t size = run->data + (run->subcode ? chd::kSubcodeBytes : 0);
        const int64_t sector = (offset - run->begin) / size, into = (offset - run->begin) % size;
        const int64_t frame = run->frame + sector;
        const uint8_t *hunk = file_->Hunk(frame / frames_per_hunk);
        if (!hunk) return -1;
        const uint8_t *f = hunk + (frame % frames_per_hunk) * chd::kFrameBytes;
        const int64_t take = std::min(n - done, size - into);
        const int64_t data = std::max<int64_t>(std::min<int64_t>(run->data - into, take), 0);
        if (run->audio) {
            for (int64_t k = 0; k < data; ++k) out[done + k] = f[(into + k) ^ 1];
        } else {
            std::memcpy(out + done, f + into, size_t(data));
        }
        if (take > data)
            std::memcpy(out + done + data, f + chd::kSectorBytes + (into + data - run->data), size_t(take - data));
        done += take;
        offset += take;
    }
    return done;
}

// "KEY:VALUE KEY:VALUE ..." of a track's metadata.
std::string_view Field(std::string_view text, std::string_view key) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view word = text.substr(at, end - at);
        if (word.size() > key.size() && word.substr(0, key.size()) == key && word[key.size()] == ':')
            return word.substr(key.size() + 1);
        at = end + 1;
    }
    return {};
}

bool Number(std::string_view text, int32_t *value) {
    if (text.empty() || text.size() > 9) return false;
    int32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

struct TrackType {
    std::string_view name;
    int32_t data;
    int32_t format;
    bool probe;
};
constexpr TrackType kTrackTypes[] = {
    {"MODE1", 2048, kFormatMode1_2048, false},          {"MODE1/2048", 2048, kFormatMode1_2048, false},
    {"MODE1_RAW", 2352, kFormatMode1_2352, false},      {"MODE1/2352", 2352, kFormatMode1_2352, false},
    {"MODE2", 2336, kFormatMode2_2336, true},           {"MODE2/2336", 2336, kFormatMode2_2336, true},
    {"MODE2_FORM1", 2048, kFormatMode2_2048, false},    {"MODE2/2048", 2048, kFormatMode2_2048, false},
    {"MODE2_FORM2", 2324, kFormatMode2_2324, false},    {"MODE2/2324", 2324, kFormatMode2_2324, false},
    {"MODE2_FORM_MIX", 2336, kFormatMode2_2336, true},  {"MODE2_RAW", 2352, kFormatMode2_2352, true},
    {"MODE2/2352", 2352, kFormatMode2_2352, true},      {"AUDIO", 2352, kFormatAudio, false},
};

Status ReadCdTracks(const std::vector<ChdFile::Metadata> &metadata, std::vector<ChdTrack> *tracks) {
    for (const ChdFile::Metadata &m : metadata) {
        const bool gd = m.tag == chd::FourCc("CHGD");
        if (!gd && m.tag != chd::FourCc("CHT2") && m.tag != chd::FourCc("CHTR")) continue;
        ChdTrack t;
        const std::string_view type = Field(m.text, "TYPE");
        const TrackType *found = nullptr;
        for (const TrackType &k : kTrackTypes)
            if (k.name == type) found = &k;
        if (!found || !Number(Field(m.text, "TRACK"), &t.number) || !Number(Field(m.text, "FRAMES"), &t.frames))
            return Code::kUnknownFormat;
        if (gd) {
            // A GD-ROM track's FRAMES runs to where the next one starts (the high-density area at 45000): its
            // last PAD frames are not the track's.
            int32_t pad = 0;
            if (!Number(Field(m.text, "PAD"), &pad) || pad < 0 || pad >= t.frames) return Code::kUnknownFormat;
            t.frames -= pad;
            t.pad = pad;
        }
        if (m.tag != chd::FourCc("CHTR")) {
            const std::string_view pregap_type = Field(m.text, "PGTYPE");
            if (!Number(Field(m.text, "PREGAP"), &t.pregap) || !Number(Field(m.text, "POSTGAP"), &t.postgap))
                return Code::kUnknownFormat;
            // A pregap type starting with V: the pregap's sectors are stored, counted in FRAMES.
            t.pregap_stored = !pregap_type.empty() && pregap_type[0] == 'V';
            if (t.pregap_stored && t.pregap > t.frames) return Code::kUnknownFormat;
        }
        const std::string_view subtype = Field(m.text, "SUBTYPE");
        const bool subcode = found->data == 2352 && (subtype == "RW" || subtype == "RW_RAW");
        t.format = found->format;
        t.probe_mode2 = found->probe && !subcode;
        if (subcode)
            t.format = t.format == kFormatAudio ? kFormatAudio2448
                       : t.format == kFormatMode1_2352 ? kFormatMode1_2448 : kFormatMode2_2448;
        t.sector_bytes = found->data + (subcode ? int32_t(chd::kSubcodeBytes) : 0);
        if (tracks->size() >= 99 || t.frames <= 0) return Code::kUnknownFormat;
        tracks->push_back(t);
    }
    std::sort(tracks->begin(), tracks->end(), [](const ChdTrack &a, const ChdTrack &b) { return a.number < b.number; });
    return Status::Ok();
}
}  // namespace

Status OpenChd(const std::string &path, ChdImage *image) {
    auto file = std::make_shared<ChdFile>();
    QORVEX_TRY(file->Open(path));
    std::vector<ChdTrack> tracks;
    QORVEX_TRY(ReadCdTracks(file->metadata, &tracks));
    if (tracks.empty()) {
        image->tracks.clear();
        image->source = std::make_shared<PlainSource>(std::move(file));
        return Status::Ok();
    }
    if (file->HunkBytes() % chd::kFrameBytes != 0) return Code::kUnknownFormat;
    std::vector<CdSource::Run> runs;
    int64_t frame = 0, stream = 0;
    for (ChdTrack &t : tracks) {
        t.begin = stream;
        const int32_t data = t.sector_bytes - (t.sector_bytes > int32_t(chd::kSectorBytes) ? 96 : 0);
        runs.push_back(CdSource::Run{stream, frame, t.frames, data, t.sector_bytes != data, t.format == kFormatAudio ||
                                                                                              t.format == kFormatAudio2448});
        stream += int64_t(t.frames) * t.sector_bytes;
        frame += (int64_t(t.frames) + t.pad + kCdPadding - 1) / kCdPadding * kCdPadding;
    }
    // Sanity check that the tracks' frames lie in the image.
    if (frame * chd::kFrameBytes > file->Logical() + int64_t(kCdPadding) * chd::kFrameBytes)
        return Code::kUnknownFormat;
    image->tracks = std::move(tracks);
    image->source = std::make_shared<CdSource>(std::move(file), std::move(runs), stream);
    return Status::Ok();
}

}  // namespace qorvex::containers
