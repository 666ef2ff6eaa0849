// CRC-32, MD5 (digest.h) and SHA-1 (FIPS 180-4) of a byte stream fed in pieces, as disc databases list them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "digest.h"

namespace host {

class Sha1 {
public:
    void Update(const uint8_t *data, size_t n);
    std::array<uint8_t, 20> Finish();

private:
    void Block(const uint8_t *block);
    uint32_t state_[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    BlockBuffer blocks_;
};

// The three digests of one stream, with its length; the results as lower-case hexadecimal.
struct DiscHash {
    uint64_t size = 0;
    std::string crc32, md5, sha1;
};

class DiscHasher {
public:
    void Update(const uint8_t *data, size_t n);
    DiscHash Finish();

private:
    uint32_t crc_ = 0;
    uint64_t size_ = 0;
    Md5 md5_;
    Sha1 sha1_;
};

}  // namespace host
