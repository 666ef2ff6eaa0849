#include "image/sector_ecc.h"

#include <array>
#include <cstring>

namespace qorvex {

namespace {
// ECMA-130 A.3: the parity bytes cover the 2340 bytes from the header on (the P bytes themselves for Q),
// taken as 16-bit words split into a most and a least significant byte plane; each plane is a matrix of
// 1118 bytes read down columns (P: 43 vectors of 26, stepping 43 words) or diagonals (Q: 26 vectors of 45,
// stepping 44 words). Addressed in bytes: a word offset times 2, plus the plane.
constexpr int kHeader = 12;
constexpr int kPOffset = 0x81C;
constexpr int kQOffset = 0x8C8;
constexpr int kPVectors = 43, kPLength = 24, kQVectors = 26, kQLength = 43;

// GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1 (A.2).
struct Field {
    std::array<uint8_t, 256> times_alpha{};  // x * alpha
    std::array<uint8_t, 256> solve{};        // the y with y * (alpha + 1) = x
    Field() {
        for (int i = 0; i < 256; ++i) {
            const int t = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
            times_alpha[size_t(i)] = static_cast<uint8_t>(t);
            solve[size_t(i ^ t) & 0xFF] = static_cast<uint8_t>(i);
        }
    }
};
const Field kField;

// The two parity bytes of each vector of both byte planes: `vectors` vectors of `length` data words; vector v
// starts at word v * `start_step` (as columns, P) and moves `step` words a byte, wrapping in the matrix.
// With the syndromes S0 = sum(v_i) and S1 = sum(alpha^(n-1-i) v_i) both zero over data and parity:
// the parity pair (p0, p1) satisfies p0 + p1 = a and alpha*p0 + p1 = b (a, b from the data). The two planes
// are independent codes, worked on side by side.
void PlaneParity(const uint8_t *data, int vectors, int length, int start_step, int step, uint8_t *out) {
    const int words = vectors * length;
    for (int v = 0; v < vectors; ++v) {
        int word = (v * start_step) % words;
        uint8_t sum0 = 0, weighted0 = 0, sum1 = 0, weighted1 = 0;
        for (int i = 0; i < length; ++i) {
            const uint8_t byte0 = data[word * 2], byte1 = data[word * 2 + 1];
            sum0 ^= byte0;
            sum1 ^= byte1;
            weighted0 = kField.times_alpha[weighted0 ^ byte0];
            weighted1 = kField.times_alpha[weighted1 ^ byte1];
            word += step;
            if (word >= words) word -= words;
        }
        // weighted = sum(alpha^(length-i) v_i); the parity bytes are the two last terms of the code word.
        const uint8_t p0 = kField.solve[kField.times_alpha[weighted0] ^ sum0];
        const uint8_t p1 = kField.solve[kField.times_alpha[weighted1] ^ sum1];
        out[v * 2] = p0;
        out[v * 2 + 1] = p1;
        out[(v + vectors) * 2] = static_cast<uint8_t>(p0 ^ sum0);
        out[(v + vectors) * 2 + 1] = static_cast<uint8_t>(p1 ^ sum1);
    }
}
}  // namespace

void WriteSectorEcc(uint8_t *sector, bool zero_header) {
    uint8_t saved[4];
    std::memcpy(saved, sector + kHeader, 4);
    if (zero_header) std::memset(sector + kHeader, 0, 4);
    PlaneParity(sector + kHeader, kPVectors, kPLength, 1, kPVectors, sector + kPOffset);
    PlaneParity(sector + kHeader, kQVectors, kQLength, kPVectors, kPVectors + 1, sector + kQOffset);
    std::memcpy(sector + kHeader, saved, 4);
}

}  // namespace qorvex
