#include "support/raw_sectors.h"

#include <cstring>

namespace qorvex::test {

namespace {
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

uint8_t Bcd(int v) {
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Shape {
    int32_t stored;
    enum Kind { kPlain, kMode1, kMode0, kMode2, kForm1, kForm2, kXa, kAudio } kind;
    bool subchannel;
};

Shape ShapeOf(int32_t format) {
    switch (format) {
        case 0: return {2352, Shape::kAudio, false};
        case 1: return {2352, Shape::kMode1, false};
        case 2: return {2352, Shape::kMode0, false};
        case 3: return {2352, Shape::kMode1, false};
        case 4: return {2352, Shape::kMode2, false};
        case 5: return {2352, Shape::kMode2, false};
        case 6: return {2352, Shape::kForm1, false};
        case 7: return {2352, Shape::kForm2, false};
        case 8: return {2336, Shape::kPlain, false};
        case 10: return {2336, Shape::kPlain, false};
        case 12: return {2324, Shape::kPlain, false};
        case 13: return {2336, Shape::kXa, false};
        case 14: return {2448, Shape::kAudio, true};
        case 15: return {2448, Shape::kMode1, true};
        case 16: return {2448, Shape::kMode2, true};
        case 17: return {2448, Shape::kForm1, true};
        case 18: return {2448, Shape::kForm2, true};
        default: return {2048, Shape::kPlain, false};  // 9, 11, 19, 20
    }
}
}  // namespace

uint32_t ReferenceEdc(const uint8_t *data, size_t n) {
    uint32_t edc = 0;
    for (size_t i = 0; i < n; ++i) {
        edc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) edc = (edc >> 1) ^ ((edc & 1) ? 0xD8018001u : 0u);
    }
    return edc;
}

void PutHeaderAddress(uint8_t *header3, int32_t lba) {
    const int a = lba + 150;
    header3[0] = Bcd(a / 4500);
    header3[1] = Bcd((a / 75) % 60);
    header3[2] = Bcd(a % 75);
}

int32_t StoredSize(int32_t format) {
    return ShapeOf(format).stored;
}

std::vector<uint8_t> MakeSector(int32_t format, int32_t lba, const uint8_t *user, bool form2) {
    const Shape shape = ShapeOf(format);
    std::vector<uint8_t> s(static_cast<size_t>(shape.stored), 0);
    uint8_t zeros[2048] = {};
    if (!user) user = zeros;
    auto raw_header = [&](uint8_t mode) {
        std::memcpy(s.data(), kSync, 12);
        PutHeaderAddress(s.data() + 12, lba);
        s[15] = mode;
    };
    auto subheader = [&](uint8_t *p, bool is_form2) {
        const uint8_t sub[4] = {0, 0, static_cast<uint8_t>(is_form2 ? 0x28 : 0x08), 0};
        std::memcpy(p, sub, 4);
        std::memcpy(p + 4, sub, 4);
    };
    switch (shape.kind) {
        case Shape::kPlain: std::memcpy(s.data(), user, 2048); break;
        case Shape::kAudio: std::memcpy(s.data(), user, 2048); break;
        case Shape::kMode1:
            raw_header(1);
            std::memcpy(s.data() + 16, user, 2048);
            PutLe32(s.data() + 2064, ReferenceEdc(s.data(), 2064));
            break;
        case Shape::kMode0:
            raw_header(0);
            std::memcpy(s.data() + 16, user, 2048);
            break;
        case Shape::kMode2:
            raw_header(2);
            std::memcpy(s.data() + 16, user, 2048);
            break;
        case Shape::kForm1:
        case Shape::kForm2: {
            const bool is_form2 = form2 || shape.kind == Shape::kForm2;
            raw_header(2);
            subheader(s.data() + 16, is_form2);
            std::memcpy(s.data() + 24, user, 2048);
            if (is_form2)
                PutLe32(s.data() + 2348, ReferenceEdc(s.data() + 16, 2332));
            else
                PutLe32(s.data() + 2072, ReferenceEdc(s.data() + 16, 2056));
            break;
        }
        case Shape::kXa:
            subheader(s.data(), form2);
            std::memcpy(s.data() + 8, user, 2048);
            if (form2)
                PutLe32(s.data() + 2332, ReferenceEdc(s.data(), 2332));
            else
                PutLe32(s.data() + 2056, ReferenceEdc(s.data(), 2056));
            break;
    }
    if (shape.subchannel)
        for (size_t i = 2352; i < s.size(); ++i) s[i] = 0xA5;
    return s;
}

std::vector<uint8_t> WrapSectors(const std::vector<uint8_t> &user, int32_t format, const RawOptions &options) {
    const Shape shape = ShapeOf(format);
    const int32_t count = static_cast<int32_t>(user.size() / 2048);
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(count + 151) * static_cast<size_t>(shape.stored));
    auto append = [&](int32_t lba, const uint8_t *data) {
        std::vector<uint8_t> s = MakeSector(format, lba, data, lba == options.form2_sector);
        if (lba == options.corrupt_edc_sector) {
            const size_t at = shape.kind == Shape::kMode1   ? 2064
                              : shape.kind == Shape::kForm1 ? 2072
                              : shape.kind == Shape::kXa    ? 2056
                                                            : 2048 - 1;
            s[at] ^= 0x01;
        }
        out.insert(out.end(), s.begin(), s.end());
    };
    if (options.pregap)
        for (int32_t lba = -150; lba < 0; ++lba) append(lba, nullptr);
    for (int32_t lba = 0; lba < count; ++lba) {
        append(lba, user.data() + static_cast<size_t>(lba) * 2048);
        if (lba == options.duplicate_sector) append(lba, user.data() + static_cast<size_t>(lba) * 2048);
    }
    if (options.tail_adjust < 0) {
        const size_t cut = static_cast<size_t>(-options.tail_adjust);
        out.resize(cut >= out.size() ? 0 : out.size() - cut);
    } else if (options.tail_adjust > 0) {
        out.resize(out.size() + static_cast<size_t>(options.tail_adjust), 0);
    }
    return out;
}

}  // namespace qorvex::test
