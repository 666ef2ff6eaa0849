#include "image/sector_format.h"

#include <algorithm>
#include <array>
#include <climits>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define QORVEX_EDC_FOLD 1
#endif

#include "image/raw_sector.h"

namespace qorvex {

namespace {
// Format 13 keeps the user size of a Form 1 sector (2048) until a file system sets its block size: a read
// then never runs past the 2336-byte stored sector, and a file system of 2048-byte blocks reads as it is.
constexpr std::array<SectorFormat, kFormatCount> kFormats = {{
    {"AUDIO", 2352, 0, 2352, 2352, false, 0, EdcCheck::kNone},
    {"DATA", 2352, 16, 2048, 2352, true, 1, EdcCheck::kNone},
    {"MODE0", 2352, 16, 2336, 2352, true, 0, EdcCheck::kNone},
    {"MODE1/2352", 2352, 16, 2048, 2352, true, 1, EdcCheck::kMode1},
    {"MODE2", 2352, 16, 2336, 2352, true, 2, EdcCheck::kNone},
    {"MODE2/2352", 2352, 16, 2336, 2352, true, 2, EdcCheck::kNone},
    {"MODE2FORM1/2352", 2352, 24, 2048, 2352, true, 2, EdcCheck::kForm1},
    {"MODE2FORM2/2352", 2352, 24, 2324, 2352, true, 2, EdcCheck::kNone},
    {"MODE0/2336", 2336, 0, 2336, 2336, true, 0, EdcCheck::kNone},
    {"MODE1/2048", 2048, 0, 2048, 2048, true, 1, EdcCheck::kNone},
    {"MODE2/2336", 2336, 0, 2336, 2336, true, 2, EdcCheck::kNone},
    {"MODE2/2048", 2048, 0, 2048, 2048, true, 2, EdcCheck::kNone},
    {"MODE2/2324", 2324, 0, 2324, 2324, true, 2, EdcCheck::kNone},
    {"MODE2/2336", 2336, 8, 2048, 2336, true, 2, EdcCheck::kForm1In2336},
    {"AUDIO/2448", 2448, 0, 2352, 2352, false, 0, EdcCheck::kNone},
    {"MODE1/2448", 2448, 16, 2048, 2352, true, 1, EdcCheck::kMode1},
    {"MODE2/2448", 2448, 16, 2336, 2352, true, 2, EdcCheck::kNone},
    {"MODE2FORM1/2448", 2448, 24, 2048, 2352, true, 2, EdcCheck::kForm1},
    {"MODE2FORM2/2448", 2448, 24, 2324, 2352, true, 2, EdcCheck::kNone},
    {"DVD", 2048, 0, 2048, 2048, true, 0, EdcCheck::kNone},
    {"UNKNOWN", 2048, 0, 0, 2048, false, 0, EdcCheck::kNone},
}};

// Tables of the reflected EDC polynomial (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1), built once at load.
// entries[0] is the byte-at-a-time table; entries[k] advances a byte over k more zero bytes, so that eight
// bytes are folded in per step.
struct EdcTable {
    std::array<std::array<uint32_t, 256>, 8> entries{};
    EdcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t edc = i;
            for (int bit = 0; bit < 8; ++bit) edc = (edc >> 1) ^ ((edc & 1) ? 0xD8018001u : 0u);
            entries[0][i] = edc;
        }
        for (size_t k = 1; k < 8; ++k)
            for (size_t i = 0; i < 256; ++i)
                entries[k][i] = (entries[k - 1][i] >> 8) ^ entries[0][entries[k - 1][i] & 0xFF];
    }
};
const EdcTable kEdcTable;

uint32_t Load32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Eight bytes at a time through the tables.
uint32_t TableEdc(uint32_t edc, const uint8_t *data, size_t n) {
    const auto &t = kEdcTable.entries;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint32_t one = Load32(data + i) ^ edc;
        const uint32_t two = Load32(data + i + 4);
        edc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
              t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
    }
    for (; i < n; ++i) edc = (edc >> 8) ^ t[0][(edc ^ data[i]) & 0xFF];
    return edc;
}

#ifdef QORVEX_EDC_FOLD
// Folding with carry-less multiplication: 16-byte blocks stand for polynomials, and a block moved d bits further
// along the message is multiplied by x^d mod P, which keeps the remainder. Four blocks are folded 512 bits at a
// time, then into one, 128 bits at a time; the last block and the tail go through the tables, since any prefix
// may be replaced by a block congruent to it. The constants are x^n mod P bit-reflected (as the EDC runs) and
// shifted left by one, the product of two reflected operands being one bit short.
uint64_t FoldConstant(int n) {
    const uint64_t p = 0x18001801Bull;  // x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (uint64_t{1} << 32)) r ^= p;
    }
    uint64_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit)
        if (r & (uint64_t{1} << bit)) reflected |= uint64_t{1} << (31 - bit);
    return reflected << 1;
}

struct FoldConstants {
    uint64_t by4[2] = {FoldConstant(4 * 128 + 32), FoldConstant(4 * 128 - 32)};
    uint64_t by1[2] = {FoldConstant(128 + 32), FoldConstant(128 - 32)};
};
const FoldConstants kFold;

// Moves `block` forward by the distance of `k` and adds `next` there (by reference: no vector crosses a call).
__attribute__((target("pclmul,sse4.1"), always_inline)) inline void Fold(__m128i &block, const __m128i &k,
                                                                         const __m128i &next) {
    const __m128i low = _mm_clmulepi64_si128(block, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(block, k, 0x11);
    block = _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// `edc` of the bytes before is added to the first four bytes: an EDC going on from a value is the EDC from zero
// of the message with that value added to its start.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldedEdc(uint32_t edc, const uint8_t *data, size_t n) {
    const __m128i by4 = _mm_set_epi64x(static_cast<long long>(kFold.by4[1]), static_cast<long long>(kFold.by4[0]));
    const __m128i by1 = _mm_set_epi64x(static_cast<long long>(kFold.by1[1]), static_cast<long long>(kFold.by1[0]));
    const auto *blocks = reinterpret_cast<const __m128i *>(data);  // read unaligned
    __m128i a = _mm_xor_si128(_mm_loadu_si128(blocks), _mm_cvtsi32_si128(static_cast<int>(edc)));
    __m128i b = _mm_loadu_si128(blocks + 1);
    __m128i c = _mm_loadu_si128(blocks + 2), d = _mm_loadu_si128(blocks + 3);
    size_t k = 4;
    for (; 16 * (k + 4) <= n; k += 4) {
        Fold(a, by4, _mm_loadu_si128(blocks + k));
        Fold(b, by4, _mm_loadu_si128(blocks + k + 1));
        Fold(c, by4, _mm_loadu_si128(blocks + k + 2));
        Fold(d, by4, _mm_loadu_si128(blocks + k + 3));
    }
    Fold(a, by1, b);
    Fold(a, by1, c);
    Fold(a, by1, d);
    for (; 16 * (k + 1) <= n; ++k) Fold(a, by1, _mm_loadu_si128(blocks + k));
    const size_t i = 16 * k;
    uint8_t last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(last), a);
    return TableEdc(TableEdc(0, last, sizeof last), data + i, n - i);
}

bool CanFold() {
    static const bool can = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return can;
}
#endif

}  // namespace

const SectorFormat &GetSectorFormat(int32_t code) {
    if (code < 0 || code >= kFormatCount) return kFormats[kFormatUnknown];
    return kFormats[static_cast<size_t>(code)];
}

uint32_t ComputeEdc(const uint8_t *data, size_t n) {
    return ContinueEdc(0, data, n);
}

uint32_t ContinueEdc(uint32_t edc, const uint8_t *data, size_t n) {
#ifdef QORVEX_EDC_FOLD
    if (n >= 64 && CanFold()) return FoldedEdc(edc, data, n);
#endif
    return TableEdc(edc, data, n);
}

uint32_t ComputeEdcByTables(const uint8_t *data, size_t n) {
    return TableEdc(0, data, n);
}

bool CheckSectorEdc(EdcCheck check, const uint8_t *sector) {
    return CheckSectorEdcInPieces(check, sector, INT32_MAX, nullptr, 0, nullptr);
}

bool CheckSectorEdcInPieces(EdcCheck check, const uint8_t *head, int32_t head_size, const uint8_t *user,
                            int32_t user_size, const uint8_t *tail) {
    // The bytes the EDC covers; it is stored in the four after them.
    int64_t from = 0, to = 0;
    switch (check) {
        case EdcCheck::kNone: return true;
        // ECMA-130 14.3: Mode 1 EDC over sync, header and data (bytes 0-2063), stored at 2064.
        case EdcCheck::kMode1: to = 2064; break;
        // Mode 2 Form 1: over subheader and data (16-2071), stored at 2072.
        case EdcCheck::kForm1: from = raw_sector::kSubheader, to = 2072; break;
        // The same without sync and header; a Form 2 sector carries no Form 1 EDC there.
        case EdcCheck::kForm1In2336: to = 2056; break;
    }
    const uint8_t *pieces[3] = {head, user, tail};
    const int64_t starts[4] = {0, head_size, int64_t(head_size) + user_size, INT64_MAX};
    auto at = [&](int64_t k) {
        int p = 0;
        while (k >= starts[p + 1]) ++p;
        return pieces[p][k - starts[p]];
    };
    if (check == EdcCheck::kForm1In2336 && (at(raw_sector::kSubmodeIn2336) & raw_sector::kSubmodeForm2)) return true;
    uint32_t edc = 0;
    for (int p = 0; p < 3; ++p) {
        const int64_t lo = std::max(from, starts[p]), hi = std::min(to, starts[p + 1]);
        if (lo < hi) edc = ContinueEdc(edc, pieces[p] + (lo - starts[p]), static_cast<size_t>(hi - lo));
    }
    const uint32_t stored = uint32_t(at(to)) | (uint32_t(at(to + 1)) << 8) | (uint32_t(at(to + 2)) << 16) |
                            (uint32_t(at(to + 3)) << 24);
    return edc == stored;
}

}  // namespace qorvex
