#include "support/container_writers.h"

#include <zlib.h>
#ifdef QORVEX_TEST_ZSTD  // set where libzstd was found
#include <zstd.h>
#endif
#ifdef QORVEX_TEST_BZIP2  // set where libbz2 was found
#include <bzlib.h>
#endif

#include <algorithm>
#include <cstring>

#include "support/raw_sectors.h"

namespace qorvex::test {

namespace {
constexpr size_t kRaw = 2352;
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

uint8_t TimesAlpha(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1D : 0));
}

// Syndromes of the code words of one byte plane: word w of vector v of data (i < length) is
// (v * start + i * step) mod (vectors * length); its two parity words are v and v + vectors after the data.
bool PlaneHolds(const uint8_t *from12, const uint8_t *parity, int plane, int vectors, int length, int start, int step) {
    for (int v = 0; v < vectors; ++v) {
        uint8_t s0 = 0, s1 = 0;
        auto add = [&](uint8_t c) {
            s0 ^= c;
            s1 = static_cast<uint8_t>(TimesAlpha(s1) ^ c);
        };
        for (int i = 0; i < length; ++i) add(from12[((v * start + i * step) % (vectors * length)) * 2 + plane]);
        add(parity[v * 2 + plane]);
        add(parity[(v + vectors) * 2 + plane]);
        if (s0 != 0 || s1 != 0) return false;
    }
    return true;
}

uint32_t StoredEdc(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// The ECM type a raw sector can be stored as: 1 Mode 1, 2 Mode 2 Form 1, 3 Mode 2 Form 2; 0 none.
int SectorType(const uint8_t *s) {
    if (std::memcmp(s, kSync, 12) != 0) return 0;
    if (s[15] == 1) {
        static const uint8_t zero[8] = {};
        const bool ok = ReferenceEdc(s, 0x810) == StoredEdc(s + 0x810) && std::memcmp(s + 0x814, zero, 8) == 0 &&
                        ParityHolds(s, false);
        return ok ? 1 : 0;
    }
    if (s[15] != 2 || std::memcmp(s + 16, s + 20, 4) != 0) return 0;
    if (s[18] & 0x20) return ReferenceEdc(s + 16, 0x91C) == StoredEdc(s + 0x92C) ? 3 : 0;
    return ReferenceEdc(s + 16, 0x808) == StoredEdc(s + 0x818) && ParityHolds(s, true) ? 2 : 0;
}

struct EcmWriter {
    std::vector<uint8_t> out{'E', 'C', 'M', 0};
    int type = -1;
    uint64_t count = 0;
    std::vector<uint8_t> payload;

    void Header(int t, uint64_t n) {  // n: the count less one
        out.push_back(static_cast<uint8_t>(t | (n & 0x1F) << 2 | (n > 0x1F ? 0x80 : 0)));
        for (n >>= 5; n != 0; n >>= 7) out.push_back(static_cast<uint8_t>((n & 0x7F) | (n > 0x7F ? 0x80 : 0)));
    }
    void Flush() {
        if (count == 0) return;
        Header(type, count - 1);
        out.insert(out.end(), payload.begin(), payload.end());
        payload.clear();
        count = 0;
    }
    void Item(int t, const uint8_t *data, size_t n, uint64_t items) {
        if (t != type) Flush();
        type = t;
        payload.insert(payload.end(), data, data + n);
        count += items;
    }
};
}  // namespace

bool ParityHolds(const uint8_t *sector, bool zero_header) {
    uint8_t s[kRaw];
    std::memcpy(s, sector, kRaw);
    if (zero_header) std::memset(s + 12, 0, 4);
    for (int plane = 0; plane < 2; ++plane)
        if (!PlaneHolds(s + 12, s + 0x81C, plane, 43, 24, 1, 43) ||
            !PlaneHolds(s + 12, s + 0x8C8, plane, 26, 43, 43, 44))
            return false;
    return true;
}

std::vector<uint8_t> EncodeEcm(const std::vector<uint8_t> &bin) {
    EcmWriter w;
    size_t at = 0;
    for (; at + kRaw <= bin.size(); at += kRaw) {
        const uint8_t *s = bin.data() + at;
        switch (SectorType(s)) {
            case 1:
                w.Item(1, s + 12, 3, 1);
                w.Item(1, s + 16, 2048, 0);
                break;
            case 2:
            case 3: {
                w.Item(0, s, 16, 16);  // sync and header as they are
                const int t = SectorType(s);
                w.Item(t, s + 16, 4, 1);
                w.Item(t, s + 24, t == 2 ? 2048 : 2324, 0);
                break;
            }
            default: w.Item(0, s, kRaw, kRaw);
        }
    }
    if (at < bin.size()) w.Item(0, bin.data() + at, bin.size() - at, bin.size() - at);
    w.Flush();
    w.Header(0, 0xFFFFFFFFu);
    const uint32_t edc = ReferenceEdc(bin.data(), bin.size());
    for (int i = 0; i < 4; ++i) w.out.push_back(static_cast<uint8_t>(edc >> (8 * i)));
    return w.out;
}

std::vector<uint8_t> EncodeIsz(const std::vector<uint8_t> &iso, uint32_t chunk_size, const std::vector<IszChunk> &kinds,
                               uint8_t has_password) {
    constexpr uint32_t kHeader = 64, kPointer = 3;
    const uint32_t chunks = static_cast<uint32_t>((iso.size() + chunk_size - 1) / chunk_size);
    std::vector<uint8_t> out(kHeader + size_t(chunks) * kPointer, 0);
    auto put = [&](size_t at, uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(out.data(), "IsZ!", 4);
    put(4, kHeader, 1);
    put(5, 1, 1);      // version
    put(10, 2048, 2);  // sector size
    put(12, iso.size() / 2048, 4);
    put(16, has_password, 1);
    put(25, chunks, 4);
    put(29, chunk_size, 4);
    put(33, kPointer, 1);
    put(35, kHeader, 4);     // chunk table right after the header
    put(43, out.size(), 4);  // data after the table
    for (uint32_t i = 0; i < chunks; ++i) {
        const size_t begin = size_t(i) * chunk_size, size = std::min<size_t>(chunk_size, iso.size() - begin);
        const uint8_t *data = iso.data() + begin;
        IszChunk kind = kinds[i % kinds.size()];
        if (std::all_of(data, data + size, [](uint8_t b) { return b == 0; })) kind = IszChunk::kZeros;
        std::vector<uint8_t> stored;
#ifndef QORVEX_TEST_BZIP2
        if (kind == IszChunk::kBzip2) kind = IszChunk::kZlib;  // a build without libbz2
#endif
        if (kind == IszChunk::kStored) stored.assign(data, data + size);
        if (kind == IszChunk::kZlib) {
            uLongf n = compressBound(size);
            stored.resize(n);
            compress2(stored.data(), &n, data, size, 9);
            stored.resize(n);
        }
#ifdef QORVEX_TEST_BZIP2
        if (kind == IszChunk::kBzip2) {
            unsigned int n = static_cast<unsigned int>(size + size / 100 + 600);
            stored.resize(n);
            BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(stored.data()), &n,
                                     const_cast<char *>(reinterpret_cast<const char *>(data)),
                                     static_cast<unsigned>(size), 9, 0, 0);
            stored.resize(n);
        }
#endif
        if (kind != IszChunk::kZeros && kind != IszChunk::kStored && stored.size() >= size) {
            kind = IszChunk::kStored;  // what does not compress is kept as it is
            stored.assign(data, data + size);
        }
        const uint32_t length =
            kind == IszChunk::kZeros ? static_cast<uint32_t>(size) : static_cast<uint32_t>(stored.size());
        put(kHeader + size_t(i) * kPointer, uint32_t(kind) << 22 | length, kPointer);
        out.insert(out.end(), stored.begin(), stored.end());
    }
    static const uint8_t key[4] = {0xB6, 0x8C, 0xA5, 0xDE};  // the table is kept XORed with ~"IsZ!"
    for (size_t i = 0; i < size_t(chunks) * kPointer; ++i) out[kHeader + i] ^= key[i % 4];
    return out;
}

namespace {
uint16_t ChdCrc16(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

// `bytes` may exceed 8: the bytes above the value are zeros.
void PutBe(std::vector<uint8_t> &out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(i >= 8 ? 0 : static_cast<uint8_t>(v >> (8 * i)));
}

struct BitWriter {
    std::vector<uint8_t> bytes;
    int used = 8;
    void Put(uint64_t v, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used == 8) bytes.push_back(0), used = 0;
            bytes.back() |= static_cast<uint8_t>(((v >> i) & 1) << (7 - used++));
        }
    }
};
}  // namespace

namespace {

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t> &data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> packed(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<uint8_t *>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return packed;
}

std::vector<uint8_t> ChdCompress(const std::vector<uint8_t> &data, bool zstd) {
    if (!zstd) return RawDeflate(data);
    std::vector<uint8_t> packed;
#ifdef QORVEX_TEST_ZSTD
    packed.resize(ZSTD_compressBound(data.size()));
    packed.resize(ZSTD_compress(packed.data(), packed.size(), data.data(), data.size(), 19));
#endif
    return packed;
}

// A hunk of 2448-byte frames as the CD codecs keep it: a bit per frame (lowest first) for sectors stored
// without their sync and P/Q parity (the Mode 1 and Form 1 sectors ECM would shorten), the length of the
// compressed sectors (2 bytes, 3 from hunks of 64 KiB), the compressed sectors and the compressed subcode.
std::vector<uint8_t> ChdPackCdHunk(const std::vector<uint8_t> &hunk, bool zstd) {
    const size_t frames = hunk.size() / 2448;
    std::vector<uint8_t> out((frames + 7) / 8, 0), sectors, subcode;
    for (size_t f = 0; f < frames; ++f) {
        const auto frame = hunk.begin() + static_cast<ptrdiff_t>(f * 2448);
        std::vector<uint8_t> sector(frame, frame + 2352);
        const int type = SectorType(sector.data());
        if (type == 1 || type == 2) {  // Mode 1, Mode 2 Form 1: sync and parity made again by the reader
            out[f / 8] |= static_cast<uint8_t>(1u << (f % 8));
            std::fill_n(sector.begin(), 12, 0);
            std::fill(sector.begin() + 0x81C, sector.end(), 0);
        }
        sectors.insert(sectors.end(), sector.begin(), sector.end());
        subcode.insert(subcode.end(), frame + 2352, frame + 2448);
    }
    const std::vector<uint8_t> base = ChdCompress(sectors, zstd), rest = ChdCompress(subcode, zstd);
    PutBe(out, base.size(), hunk.size() < 65536 ? 2 : 3);
    out.insert(out.end(), base.begin(), base.end());
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// The metadata chain at the end of `out`, each entry pointing at the next; where it starts (0: none).
uint64_t PutChdMetadata(std::vector<uint8_t> &out, const ChdLayout &layout) {
    const uint64_t meta_at = layout.metadata.empty() ? 0 : out.size();
    for (size_t i = 0; i < layout.metadata.size(); ++i) {
        const auto &[tag, text] = layout.metadata[i];
        const uint64_t next = i + 1 < layout.metadata.size() ? out.size() + 16 + text.size() + 1 : 0;
        for (char c : tag) out.push_back(static_cast<uint8_t>(c));
        PutBe(out, uint32_t(text.size() + 1) | 0x01000000u, 4);
        PutBe(out, next, 8);
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
    }
    return meta_at;
}

// Version 4: header, the map of 16-byte entries, metadata, hunks.
std::vector<uint8_t> EncodeChdV4(const std::vector<uint8_t> &image, const std::vector<ChdHunk> &kinds,
                                 const ChdLayout &layout) {
    const uint32_t hb = layout.hunk_bytes;
    const uint64_t logical = layout.logical ? layout.logical : image.size();
    const uint64_t hunks = (logical + hb - 1) / hb;
    std::vector<uint8_t> out(108 + hunks * 16, 0);
    const uint64_t meta_at = PutChdMetadata(out, layout);
    std::vector<uint8_t> fields;
    PutBe(fields, 108, 4);
    PutBe(fields, 4, 4);
    PutBe(fields, layout.parent ? 1 : 0, 4);  // flags
    PutBe(fields, 1, 4);                      // zlib
    PutBe(fields, hunks, 4);
    PutBe(fields, logical, 8);
    PutBe(fields, meta_at, 8);
    PutBe(fields, hb, 4);
    std::memcpy(out.data(), "MComprHD", 8);
    std::memcpy(out.data() + 8, fields.data(), fields.size());
    for (uint64_t i = 0; i < hunks; ++i) {
        const ChdHunk &k = kinds[std::min<size_t>(i, kinds.size() - 1)];
        std::vector<uint8_t> hunk(hb, 0);
        if (i * hb < image.size())
            std::copy_n(image.begin() + static_cast<ptrdiff_t>(i * hb), std::min<uint64_t>(hb, image.size() - i * hb),
                        hunk.begin());
        std::vector<uint8_t> entry;
        uint64_t length = 0;
        uint8_t type = 0;
        if (k.kind == ChdHunk::kSelf || k.kind == ChdHunk::kMini) {
            uint64_t value = 0;
            for (size_t b = 0; b < 8; ++b) value = value << 8 | hunk[b];
            PutBe(entry, k.kind == ChdHunk::kMini ? value : k.self, 8);
            type = k.kind == ChdHunk::kMini ? 3 : 4;
        } else {
            const std::vector<uint8_t> stored = k.kind == ChdHunk::kStored ? hunk : RawDeflate(hunk);
            PutBe(entry, out.size(), 8);
            out.insert(out.end(), stored.begin(), stored.end());
            length = stored.size();
            type = k.kind == ChdHunk::kStored ? 2 : 1;
        }
        PutBe(entry, crc32(0, hunk.data(), hb), 4);
        PutBe(entry, length & 0xFFFF, 2);
        entry.push_back(static_cast<uint8_t>(length >> 16));
        entry.push_back(type);
        std::copy(entry.begin(), entry.end(), out.begin() + static_cast<ptrdiff_t>(108 + i * 16));
    }
    return out;
}

}  // namespace

std::vector<uint8_t> EncodeChd(const std::vector<uint8_t> &image, const std::vector<ChdHunk> &kinds,
                               const ChdLayout &layout) {
    if (layout.version == 4) return EncodeChdV4(image, kinds, layout);
    const uint32_t hb = layout.hunk_bytes;
    const uint64_t logical = layout.logical ? layout.logical : image.size();
    const uint64_t hunks = (logical + hb - 1) / hb;
    std::vector<uint8_t> out(124, 0);
    std::memcpy(out.data(), "MComprHD", 8);
    std::vector<uint8_t> fields;
    PutBe(fields, 124, 4);
    PutBe(fields, 5, 4);
    const char *codec = layout.cd_codec ? (layout.zstd ? "cdzs" : "cdzl") : layout.zstd ? "zstd" : "zlib";
    PutBe(fields, uint32_t(codec[0]) << 24 | uint32_t(codec[1]) << 16 | uint32_t(codec[2]) << 8 | uint32_t(codec[3]),
          4);
    PutBe(fields, 0, 12);
    PutBe(fields, logical, 8);
    std::memcpy(out.data() + 8, fields.data(), fields.size());
    // Metadata first, each entry pointing at the next.
    const uint64_t meta_at = PutChdMetadata(out, layout);
    const uint64_t first = out.size();
    std::vector<uint8_t> records;
    BitWriter bits;
    for (int i = 0; i < 16; ++i) bits.Put(4, 4);  // every type's code 4 bits long: its own value
    std::vector<uint8_t> types;
    for (uint64_t i = 0; i < hunks; ++i) {
        const ChdHunk &k = kinds[std::min<size_t>(i, kinds.size() - 1)];
        types.push_back(k.kind == ChdHunk::kSelf ? 5 : k.kind == ChdHunk::kStored ? 4 : 0);
        bits.Put(types.back(), 4);
    }
    for (uint64_t i = 0; i < hunks; ++i) {
        const ChdHunk &k = kinds[std::min<size_t>(i, kinds.size() - 1)];
        if (k.kind == ChdHunk::kSelf) {
            bits.Put(k.self, 32);
            records.push_back(5);
            PutBe(records, 0, 3);
            PutBe(records, k.self, 6);
            PutBe(records, 0, 2);
            continue;
        }
        std::vector<uint8_t> hunk(hb, 0);
        if (i * hb < image.size())
            std::copy_n(image.begin() + static_cast<ptrdiff_t>(i * hb), std::min<uint64_t>(hb, image.size() - i * hb),
                        hunk.begin());
        const uint16_t crc = ChdCrc16(hunk.data(), hunk.size());
        const uint64_t at = out.size();
        uint64_t length = 0;
        if (k.kind == ChdHunk::kStored) {
            out.insert(out.end(), hunk.begin(), hunk.end());
            length = hb;
            bits.Put(crc, 16);
        } else {
            const std::vector<uint8_t> packed =
                layout.cd_codec ? ChdPackCdHunk(hunk, layout.zstd) : ChdCompress(hunk, layout.zstd);
            out.insert(out.end(), packed.begin(), packed.end());
            length = packed.size();
            bits.Put(length, 24);
            bits.Put(crc, 16);
        }
        records.push_back(types[i]);
        PutBe(records, length, 3);
        PutBe(records, at, 6);
        PutBe(records, crc, 2);
    }
    const uint64_t map_at = out.size();
    PutBe(out, bits.bytes.size(), 4);
    PutBe(out, first, 6);
    PutBe(out, ChdCrc16(records.data(), records.size()), 2);
    out.insert(out.end(), {24, 32, 0, 0});
    out.insert(out.end(), bits.bytes.begin(), bits.bytes.end());
    fields.clear();
    PutBe(fields, map_at, 8);
    PutBe(fields, meta_at, 8);
    PutBe(fields, hb, 4);
    PutBe(fields, layout.unit_bytes, 4);
    std::memcpy(out.data() + 40, fields.data(), fields.size());
    if (layout.parent) out[110] = 0x5A;
    return out;
}

}  // namespace qorvex::test
