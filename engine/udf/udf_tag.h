// ECMA-167 descriptor tags: identifiers, little-endian fields and the descriptor CRC.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorvex::udf {

enum : uint16_t {
    kTagEmpty = 0,
    kTagPvd = 1,
    kTagAvdp = 2,
    kTagVdp = 3,
    kTagIuvd = 4,
    kTagPd = 5,
    kTagLvd = 6,
    kTagUsd = 7,
    kTagTd = 8,
    kTagLvid = 9,
    kTagFsd = 256,
    kTagFid = 257,
    kTagFe = 261,
    kTagUse = 263,
    kTagSbd = 264,
    kTagEfe = 266,
};

constexpr size_t kTagSize = 16;

inline uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t TagIdentifier(const uint8_t *d) {
    return Le16(d);
}
inline uint16_t TagCrc(const uint8_t *d) {
    return Le16(d + 8);
}
inline uint16_t TagCrcLength(const uint8_t *d) {
    return Le16(d + 10);
}
inline uint32_t TagLocation(const uint8_t *d) {
    return Le32(d + 12);
}

// CRC-CCITT as ECMA-167 uses it: polynomial 0x1021, initial value 0, no final XOR, MSB first.
uint16_t Crc16(const uint8_t *data, size_t n, uint16_t crc = 0);

// The descriptor test: the CRC over the CRC-length bytes after the tag equals the stored one. `available`
// is how many bytes from d on were really read; a tag or CRC range running past them fails the test.
bool DescriptorCrcOk(const uint8_t *d, size_t available);

}  // namespace qorvex::udf
