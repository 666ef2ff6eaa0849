#include "digest.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QORVEX_SHA_INSTRUCTIONS 1
#endif

namespace host {
namespace {

constexpr uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}
constexpr uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

uint32_t Be32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t Le32(const uint8_t *p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// RFC 1321 3.4: the sine table and the per-round shifts.
constexpr uint32_t kMd5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

#ifdef QORVEX_SHA_INSTRUCTIONS
bool HasShaInstructions() {
    static const bool has = __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1");
    return has;
}

// One block through the SHA extensions. The state is kept as the two halves the round instruction takes,
// (A, B, E, F) and (C, D, G, H); each round instruction does two rounds, each group of four message words
// four, and the message schedule is made four words at a time.
__attribute__((target("sha,sse4.1"))) void Sha256BlockSha(std::array<uint32_t, 8> &h, const uint8_t *p) {
    const __m128i big_endian = _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h.data()));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h.data() + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    const __m128i abef_before = abef, cdgh_before = cdgh;

    __m128i w[4];
    for (int i = 0; i < 4; ++i)
        w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i)), big_endian);
    for (int group = 0; group < 16; ++group) {
        __m128i &words = w[group % 4];
        __m128i wk = _mm_add_epi32(words, _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSha256K + 4 * group)));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
        wk = _mm_shuffle_epi32(wk, 0x0E);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
        if (group < 12) {
            // Words 4 (group + 4) on: W[t-16] + s0(W[t-15]) + W[t-7], then + s1(W[t-2]).
            const __m128i next = w[(group + 1) % 4], third = w[(group + 2) % 4], last = w[(group + 3) % 4];
            const __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(words, next), _mm_alignr_epi8(last, third, 4));
            words = _mm_sha256msg2_epu32(sum, last);
        }
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h.data()), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h.data() + 4), hgfe);
}
#else
bool HasShaInstructions() {
    return false;
}
void Sha256BlockSha(std::array<uint32_t, 8> &, const uint8_t *) {}
#endif

}  // namespace

std::string HexOf(const uint8_t *bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

void BlockBuffer::Copy(size_t at, const uint8_t *p, size_t n) {
    if (n) std::memcpy(buffer_.data() + at, p, n);
}

std::unique_ptr<Digest> MakeDigest(const std::string &name) {
    if (name == "sha256") return std::make_unique<Sha256>();
    if (name == "md5") return std::make_unique<Md5>();
    return nullptr;
}

Sha256::Sha256(bool may_accelerate)
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      accelerated_(may_accelerate && HasShaInstructions()) {}

void Sha256::Block(const uint8_t *p) {
    if (accelerated_) return Sha256BlockSha(h_, p);
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = Be32(p + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256K[i] + w[i];
        const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e, h_[5] += f, h_[6] += g, h_[7] += h;
}

void Sha256::Update(const void *data, size_t size) {
    blocks_.Feed(data, size, [this](const uint8_t *p) { Block(p); });
}

std::string Sha256::Finish() {
    blocks_.Pad(true, [this](const uint8_t *p) { Block(p); });
    uint8_t out[32];
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(h_[i] >> (24 - 8 * j));
    return HexOf(out, sizeof out);
}

Md5::Md5() : h_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Block(const uint8_t *p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = Le32(p + 4 * i);
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        switch (i / 16) {
            case 0: f = (b & c) | (~b & d), g = i; break;
            case 1: f = (d & b) | (~d & c), g = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d, g = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d), g = (7 * i) % 16; break;
        }
        const uint32_t t = d;
        d = c, c = b;
        b = b + Rotl(a + f + kMd5K[i] + m[g], kMd5Shift[i / 16][i % 4]);
        a = t;
    }
    h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d;
}

void Md5::Update(const void *data, size_t size) {
    blocks_.Feed(data, size, [this](const uint8_t *p) { Block(p); });
}

std::string Md5::Finish() {
    blocks_.Pad(false, [this](const uint8_t *p) { Block(p); });
    uint8_t out[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(h_[i] >> (8 * j));
    return HexOf(out, sizeof out);
}

}  // namespace host
