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
    h.md5 = md5_.Finish();
    const auto sha1 = sha1_.Finish();
    h.sha1 = Hex(sha1.data(), sha1.size());
    return h;
}

}  // namespace host
