#include "disc_hash.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace host {

namespace {

uint32_t RotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Both digests pad alike: a 1 bit, zeros to 56 bytes mod 64, then the bit length (little-endian for MD5).
template <typename Hash>
void Pad(Hash &hash, uint64_t length, bool big_endian) {
    uint8_t tail[72] = {0x80};
    const size_t zeros = (55 - length % 64 + 64) % 64;
    const uint64_t bits = length * 8;
    for (int i = 0; i < 8; ++i) tail[1 + zeros + i] = static_cast<uint8_t>(bits >> (big_endian ? 56 - 8 * i : 8 * i));
    hash.Update(tail, 1 + zeros + 8);
}

std::string Hex(const uint8_t *bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

// Feeds whole 64-byte blocks to `block`, keeping the rest in `buffer` for the next call.
template <typename BlockFn>
void Feed(uint8_t (&buffer)[64], uint64_t &length, const uint8_t *data, size_t n, BlockFn block) {
    size_t held = static_cast<size_t>(length % 64);
    length += n;
    if (held) {
        const size_t take = std::min(n, 64 - held);
        std::memcpy(buffer + held, data, take);
        data += take, n -= take, held += take;
        if (held < 64) return;
        block(buffer);
    }
    for (; n >= 64; data += 64, n -= 64) block(data);
    std::memcpy(buffer, data, n);
}

// RFC 1321 3.4: the shifts of each round's steps, and the sines.
constexpr int kMd5Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
const std::array<uint32_t, 64> kMd5Sines = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

}  // namespace

void Md5::Block(const uint8_t *block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | (uint32_t(block[4 * i + 1]) << 8) | (uint32_t(block[4 * i + 2]) << 16) |
               (uint32_t(block[4 * i + 3]) << 24);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // One loop per round, so that each is unrolled with its function and message order fixed.
    const auto step = [&](uint32_t f, int i, int k) {
        const uint32_t rotated =
            RotateLeft(a + f + kMd5Sines[static_cast<size_t>(i)] + x[k], kMd5Shifts[i / 16][i % 4]);
        a = d, d = c, c = b, b = b + rotated;
    };
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) step((b & c) | (~b & d), i, i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i) step((b & d) | (c & ~d), i, (5 * i + 1) % 16);
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i) step(b ^ c ^ d, i, (3 * i + 5) % 16);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i) step(c ^ (b | ~d), i, (7 * i) % 16);
    state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d;
}

void Md5::Update(const uint8_t *data, size_t n) {
    Feed(buffer_, length_, data, n, [this](const uint8_t *block) { Block(block); });
}

std::array<uint8_t, 16> Md5::Finish() {
    Pad(*this, length_, false);
    std::array<uint8_t, 16> digest;
    for (int i = 0; i < 16; ++i) digest[static_cast<size_t>(i)] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
    return digest;
}

// FIPS 180-4 6.1.2.
void Sha1::Block(const uint8_t *block) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = (uint32_t(block[4 * t]) << 24) | (uint32_t(block[4 * t + 1]) << 16) | (uint32_t(block[4 * t + 2]) << 8) |
               uint32_t(block[4 * t + 3]);
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    const auto step = [&](uint32_t f, uint32_t k, int t) {
        const uint32_t temp = RotateLeft(a, 5) + f + e + k + w[t];
        e = d, d = c, c = RotateLeft(b, 30), b = a, a = temp;
    };
#pragma GCC unroll 20
    for (int t = 0; t < 20; ++t) step((b & c) ^ (~b & d), 0x5A827999u, t);
#pragma GCC unroll 20
    for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ED9EBA1u, t);
#pragma GCC unroll 20
    for (int t = 40; t < 60; ++t) step((b & c) ^ (b & d) ^ (c & d), 0x8F1BBCDCu, t);
#pragma GCC unroll 20
    for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xCA62C1D6u, t);
    state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d, state_[4] += e;
}

void Sha1::Update(const uint8_t *data, size_t n) {
    Feed(buffer_, length_, data, n, [this](const uint8_t *block) { Block(block); });
}

std::array<uint8_t, 20> Sha1::Finish() {
    Pad(*this, length_, true);
    std::array<uint8_t, 20> digest;
    for (int i = 0; i < 20; ++i)
        digest[static_cast<size_t>(i)] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

void DiscHasher::Update(const uint8_t *data, size_t n) {
    size_ += n;
    // zlib takes a 32-bit length.
    for (size_t done = 0; done < n;) {
        const size_t take = std::min<size_t>(n - done, 1u << 30);
        crc_ = static_cast<uint32_t>(crc32(crc_, data + done, static_cast<uInt>(take)));
        done += take;
    }
    md5_.Update(data, n);
    sha1_.Update(data, n);
}

DiscHash DiscHasher::Finish() {
    DiscHash h;
    h.size = size_;
    const uint8_t crc[4] = {static_cast<uint8_t>(crc_ >> 24), static_cast<uint8_t>(crc_ >> 16),
                            static_cast<uint8_t>(crc_ >> 8), static_cast<uint8_t>(crc_)};
    h.crc32 = Hex(crc, 4);
    const auto md5 = md5_.Finish();
    h.md5 = Hex(md5.data(), md5.size());
    const auto sha1 = sha1_.Finish();
    h.sha1 = Hex(sha1.data(), sha1.size());
    return h;
}

}  // namespace host
