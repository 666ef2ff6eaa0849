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

uint8_t GfMultiply(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    for (; b; b >>= 1) {
        if (b & 1) product ^= a;
        a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1D : 0));  // x^8 + x^4 + x^3 + x^2 + 1
    }
    return product;
}

// The two parity bytes (positions n-2, n-1) of one codeword whose bytes lie at `at` in `covered`:
// sum v[i] = 0 and sum v[i] a^(n-1-i) = 0.
void PutCodewordParity(uint8_t *covered, const std::vector<size_t> &at) {
    const size_t n = at.size();
    uint8_t s0 = 0, s1 = 0;
    for (size_t i = 0; i < n; ++i) {  // s1 by Horner's rule, the parity counted as zero
        const uint8_t v = i + 2 < n ? covered[at[i]] : 0;
        s0 ^= v;
        s1 = GfMultiply(s1, 2) ^ v;
    }
    // p0 + p1 = s0 and a p0 + p1 = s1: p0 = (s0 + s1) / (a + 1).
    static const uint8_t inverse3 = [] {
        uint8_t x = 1;
        while (GfMultiply(x, 3) != 1) ++x;
        return x;
    }();
    const uint8_t p0 = GfMultiply(s0 ^ s1, inverse3);
    covered[at[n - 2]] = p0;
    covered[at[n - 1]] = s0 ^ p0;
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

void PutEcc(uint8_t *sector, bool form1) {
    uint8_t header[4];
    std::memcpy(header, sector + 12, 4);
    if (form1) std::memset(sector + 12, 0, 4);
    uint8_t *covered = sector + 12;  // 1170 words from the header on, two planes of bytes
    for (size_t plane = 0; plane < 2; ++plane) {
        for (size_t np = 0; np < 43; ++np) {  // P: word 43 Mp + Np, Mp = 0..25
            std::vector<size_t> at;
            for (size_t mp = 0; mp < 26; ++mp) at.push_back(2 * (43 * mp + np) + plane);
            PutCodewordParity(covered, at);
        }
        for (size_t nq = 0; nq < 26; ++nq) {  // Q: word 44 Mq + 43 Nq mod 1118, then words 1118 + Nq, 1144 + Nq
            std::vector<size_t> at;
            for (size_t mq = 0; mq < 43; ++mq) at.push_back(2 * ((44 * mq + 43 * nq) % 1118) + plane);
            at.push_back(2 * (1118 + nq) + plane);
            at.push_back(2 * (1144 + nq) + plane);
            PutCodewordParity(covered, at);
        }
    }
    std::memcpy(sector + 12, header, 4);
}

void PutSubchannelQ(uint8_t *subchannel, int32_t lba, bool interleaved) {
    uint8_t q[12] = {0x41, 0x01, 0x01};
    PutHeaderAddress(q + 3, lba - 150);  // relative time: from the track start (MSF of lba)
    PutHeaderAddress(q + 7, lba);        // absolute time (lba + 150)
    uint16_t crc = 0;
    for (int bit = 0; bit < 80; ++bit) {  // x^16 + x^12 + x^5 + 1, bit by bit
        const bool in = (q[bit / 8] >> (7 - bit % 8)) & 1;
        const bool top = (crc >> 15) & 1;
        crc = static_cast<uint16_t>(crc << 1);
        if (in != top) crc ^= 0x1021;
    }
    crc = static_cast<uint16_t>(~crc);
    q[10] = static_cast<uint8_t>(crc >> 8);
    q[11] = static_cast<uint8_t>(crc);
    std::memset(subchannel, 0, 96);
    if (!interleaved) {
        std::memcpy(subchannel + 12, q, 12);
        return;
    }
    for (int bit = 0; bit < 96; ++bit)
        if ((q[bit / 8] >> (7 - bit % 8)) & 1) subchannel[bit] |= 0x40;
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
            PutEcc(s.data(), false);
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
            if (!is_form2) PutEcc(s.data(), true);
            break;
        }
        case Shape::kXa:
            subheader(s.data(), form2);
            std::memcpy(s.data() + 8, user, 2048);
            if (form2) {
                PutLe32(s.data() + 2332, ReferenceEdc(s.data(), 2332));
            } else {
                PutLe32(s.data() + 2056, ReferenceEdc(s.data(), 2056));
                std::vector<uint8_t> raw(2352, 0);  // the parity of the same sector with sync and header
                std::memcpy(raw.data() + 16, s.data(), 2336);
                PutEcc(raw.data(), true);
                std::memcpy(s.data(), raw.data() + 16, 2336);
            }
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
