#include "disc_hash.h"

#include <zlib.h>

#include <algorithm>

namespace host {

namespace {

uint32_t RotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

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
    blocks_.Feed(data, n, [this](const uint8_t *block) { Block(block); });
}

std::array<uint8_t, 20> Sha1::Finish() {
    blocks_.Pad(true, [this](const uint8_t *block) { Block(block); });
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
    h.crc32 = HexOf(crc, 4);
    h.md5 = md5_.Finish();
    const auto sha1 = sha1_.Finish();
    h.sha1 = HexOf(sha1.data(), sha1.size());
    return h;
}

}  // namespace host
