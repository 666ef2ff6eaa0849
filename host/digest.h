// Message digests of extracted bytes, fed block by block as the engine delivers them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace host {

// Lower-case hexadecimal of the bytes.
std::string HexOf(const uint8_t *bytes, size_t n);

// The 64-byte blocks of MD5, SHA-1 and SHA-256: whole blocks go to `block` straight from the caller's bytes, the
// rest waits here; the end is 0x80, zeros and the bit length in the last 8 bytes, in the digest's byte order.
class BlockBuffer {
public:
    template <typename F>
    void Feed(const void *data, size_t n, F block) {
        auto *p = static_cast<const uint8_t *>(data);
        size_t held = static_cast<size_t>(length_ % 64);
        length_ += n;
        if (held) {
            const size_t take = n < 64 - held ? n : 64 - held;
            Copy(held, p, take);
            p += take, n -= take, held += take;
            if (held < 64) return;
            block(buffer_.data());
        }
        for (; n >= 64; p += 64, n -= 64) block(p);
        Copy(0, p, n);
    }
    template <typename F>
    void Pad(bool big_endian, F block) {
        uint8_t tail[72] = {0x80};
        const size_t zeros = static_cast<size_t>((55 - length_ % 64 + 64) % 64);
        const uint64_t bits = length_ * 8;
        for (int i = 0; i < 8; ++i)
            tail[1 + zeros + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (big_endian ? 56 - 8 * i : 8 * i));
        Feed(tail, 1 + zeros + 8, block);
    }

private:
    void Copy(size_t at, const uint8_t *p, size_t n);
    std::array<uint8_t, 64> buffer_{};
    uint64_t length_ = 0;
};

class Digest {
public:
    virtual ~Digest() = default;
    virtual void Update(const void *data, size_t size) = 0;
    // Lower-case hex of the digest; the object is spent afterwards.
    virtual std::string Finish() = 0;
};

// "sha256" or "md5"; nullptr for any other name.
std::unique_ptr<Digest> MakeDigest(const std::string &name);

// FIPS 180-4 SHA-256; on x86 processors with the SHA extensions the blocks go through them unless
// `may_accelerate` is false.
class Sha256 : public Digest {
public:
    explicit Sha256(bool may_accelerate = true);
    void Update(const void *data, size_t size) override;
    std::string Finish() override;

private:
    void Block(const uint8_t *p);
    std::array<uint32_t, 8> h_;
    BlockBuffer blocks_;
    bool accelerated_;
};

// RFC 1321 MD5.
class Md5 : public Digest {
public:
    Md5();
    void Update(const void *data, size_t size) override;
    std::string Finish() override;

private:
    void Block(const uint8_t *p);
    std::array<uint32_t, 4> h_;
    BlockBuffer blocks_;
};

}  // namespace host
