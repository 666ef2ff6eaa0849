// The UDF descriptor sequences and the file-entry walk. The input is laid from sector 19 of an image that
// carries a recognition sequence (sectors 16-18) and anchors at 256 and at the last sector pointing to a main
// sequence at sector 32 and a reserve at 48; every block whose tag names a known descriptor gets a correct
// CRC, so that mutations reach past the CRC test. Each input is read without and with the UDF 2.x bit.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "qorvex.h"
#include "udf/udf_structures.h"

namespace {
void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutTag(uint8_t *block, uint16_t id, uint32_t location) {
    block[0] = static_cast<uint8_t>(id);
    block[1] = static_cast<uint8_t>(id >> 8);
    block[2] = 2;
    PutLe32(block + 12, location);
}

void FixCrc(uint8_t *block, size_t available) {
    const qorvex::ByteView bytes(block, available);
    const uint16_t id = qorvex::udf::TagIdentifier(bytes);
    if (!((id >= 1 && id <= 9) || (id >= 256 && id <= 266))) return;
    size_t length = qorvex::udf::Tag::Parse(bytes).crc_length;
    if (length == 0 || 16 + length > available) length = std::min<size_t>(available - 16, 2032);
    block[10] = static_cast<uint8_t>(length);
    block[11] = static_cast<uint8_t>(length >> 8);
    const uint16_t crc = qorvex::udf::Crc16(block + 16, length);
    block[8] = static_cast<uint8_t>(crc);
    block[9] = static_cast<uint8_t>(crc >> 8);
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4) sum = static_cast<uint8_t>(sum + block[i]);
    block[4] = sum;
}

void Anchor(uint8_t *block, uint32_t location) {
    std::memset(block, 0, 2048);
    PutTag(block, 2, location);
    PutLe32(block + 16, 16 * 2048);  // main sequence: 16 sectors at 32
    PutLe32(block + 20, 32);
    PutLe32(block + 24, 16 * 2048);  // reserve sequence: 16 sectors at 48
    PutLe32(block + 28, 48);
    FixCrc(block, 2048);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> image(19 * 2048, 0);
    const char *ids[3] = {"BEA01", "NSR02", "TEA01"};
    for (int i = 0; i < 3; ++i) {
        image[(16 + i) * 2048] = 0;
        std::memcpy(&image[(16 + i) * 2048 + 1], ids[i], 5);
        image[(16 + i) * 2048 + 6] = 1;
    }
    image.insert(image.end(), data, data + size);
    size_t sectors = std::max<size_t>((image.size() + 2047) / 2048, 258);
    image.resize(sectors * 2048, 0);
    Anchor(&image[256 * 2048], 256);
    Anchor(&image[(sectors - 1) * 2048], static_cast<uint32_t>(sectors - 1));
    for (size_t s = 19; s < sectors; ++s)
        if (s != 256 && s != sectors - 1) FixCrc(&image[s * 2048], 2048);
    const std::string path = fuzz::WriteImage(image.data(), image.size());
    fuzz::ExerciseImage(path, 0);
    fuzz::ExerciseImage(path, OPEN_UDF_2X);
    return 0;
}
