#include "udf/udf_tag.h"

#include <array>

namespace qorvex::udf {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 8;
        for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        table[i] = static_cast<uint16_t>(c);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t Crc16(const uint8_t *data, size_t n, uint16_t crc) {
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(kCrcTable[((crc >> 8) ^ data[i]) & 0xFF] ^ (crc << 8));
    return crc;
}

bool DescriptorCrcOk(const uint8_t *d, size_t available) {
    if (available < kTagSize) return false;
    const size_t length = TagCrcLength(d);
    if (length > available - kTagSize) return false;
    return Crc16(d + kTagSize, length) == TagCrc(d);
}

}  // namespace qorvex::udf
