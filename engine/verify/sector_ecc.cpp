#include "verify/sector_ecc.h"

#include <array>
#include <cstring>

namespace qorvex::ecc {

namespace {

constexpr int kPLanes = 86, kPLength = 26;  // columns of the 43 x 26 word matrix, both planes
constexpr int kQLanes = 52, kQLength = 45;  // diagonals through it, both planes
constexpr int kQData = 43;
constexpr int kPWords = 11, kQWords = 7;  // 64-bit words holding a row of lanes (86 and 52 bytes, padded)
constexpr int kRowBytes = kPLanes;
constexpr int kMatrixWords = 1118;  // 43 x 26: the words the Q diagonals run through

struct Tables {
    std::array<uint8_t, 512> exp{};
    std::array<int16_t, 256> log{};
    // Byte of the block at step i of Q codeword `lane` (i < 45).
    std::array<std::array<uint16_t, kQLanes>, kQLength> q_index{};
    // The Q codeword each byte of the block lies in (every byte lies in one).
    std::array<uint8_t, kCovered> q_lane{};

    Tables() {
        int x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[static_cast<size_t>(i)] = exp[static_cast<size_t>(i) + 255] = static_cast<uint8_t>(x);
            log[static_cast<size_t>(x)] = static_cast<int16_t>(i);
            x <<= 1;
            if (x & 0x100) x ^= 0x11D;
        }
        log[0] = -1;
        for (int lane = 0; lane < kQLanes; ++lane) {
            const int diagonal = lane / 2, plane = lane % 2;
            // ECMA-130 A.4: word 44 * Mq + 43 * Nq (mod 1118) is step Mq of diagonal Nq; its parity follows.
            for (int step = 0; step < kQData; ++step) {
                const int word = (44 * step + 43 * diagonal) % kMatrixWords;
                q_index[static_cast<size_t>(step)][static_cast<size_t>(lane)] = static_cast<uint16_t>(2 * word + plane);
            }
            q_index[kQData][static_cast<size_t>(lane)] = static_cast<uint16_t>(kQParity + static_cast<size_t>(lane));
            q_index[kQData + 1][static_cast<size_t>(lane)] =
                static_cast<uint16_t>(kQParity + kQLanes + static_cast<size_t>(lane));
            for (const auto &step : q_index) q_lane[step[static_cast<size_t>(lane)]] = static_cast<uint8_t>(lane);
        }
    }
    uint8_t Divide(uint8_t a, uint8_t b) const {
        if (a == 0) return 0;
        return exp[static_cast<size_t>((log[a] - log[b] + 255) % 255)];
    }
};
const Tables kTables;

// Eight bytes multiplied by x at once.
inline uint64_t Times2(uint64_t v) {
    const uint64_t high = v & 0x8080808080808080ull;
    return ((v & 0x7F7F7F7F7F7F7F7Full) << 1) ^ ((high >> 7) * 0x1D);
}

// The two syndromes of every lane of a code whose codewords are read row by row (Horner's rule on the second).
template <int kWords>
struct Syndromes {
    alignas(8) uint8_t s0[kWords * 8];
    alignas(8) uint8_t s1[kWords * 8];
};

template <int kWords, typename Row>
Syndromes<kWords> Compute(int length, Row row) {
    uint64_t a[kWords] = {}, b[kWords] = {};
    for (int i = 0; i < length; ++i) {
        const uint8_t *r = row(i);
        for (int w = 0; w < kWords; ++w) {
            uint64_t v;
            std::memcpy(&v, r + 8 * w, 8);
            a[w] ^= v;
            b[w] = Times2(b[w]) ^ v;
        }
    }
    Syndromes<kWords> s;
    std::memcpy(s.s0, a, sizeof a);
    std::memcpy(s.s1, b, sizeof b);
    return s;
}

Syndromes<kPWords> PSyndromes(const Block &block) {
    // Column c of row r is byte 86 r + c: a row of every P codeword lies whole in the block.
    return Compute<kPWords>(kPLength, [&](int i) { return block.bytes + i * kRowBytes; });
}

Syndromes<kQWords> QSyndromes(const Block &block) {
    alignas(8) uint8_t row[kQWords * 8] = {};
    return Compute<kQWords>(kQLength, [&](int i) {
        const auto &index = kTables.q_index[static_cast<size_t>(i)];
        for (int lane = 0; lane < kQLanes; ++lane) row[lane] = block.bytes[index[static_cast<size_t>(lane)]];
        return row;
    });
}

template <int kWords>
int Failing(const Syndromes<kWords> &s, int lanes) {
    int failing = 0;
    for (int lane = 0; lane < lanes; ++lane) failing += (s.s0[lane] | s.s1[lane]) != 0;
    return failing;
}

// One wrong byte e at position i of a codeword of length n gives s0 = e and s1 = e a^(n-1-i). A codeword with
// more wrong bytes is left for the other code. Two wrong bytes can pass for one at a third place; such a false
// fix is mostly told apart by the other code, which holds at that place (`plausible` false). Answers whether
// any byte was fixed.
template <int kWords, typename Place, typename Plausible>
bool FixLanes(Block &block, const Syndromes<kWords> &s, int lanes, int length, bool header_coded, Place place,
              Plausible plausible) {
    bool fixed = false;
    for (int lane = 0; lane < lanes; ++lane) {
        const uint8_t s0 = s.s0[lane], s1 = s.s1[lane];
        if (s0 == 0 || s1 == 0) continue;  // holds, or more than one byte wrong
        const int power = (kTables.log[s1] - kTables.log[s0] + 255) % 255;
        if (power >= length) continue;
        const size_t at = place(length - 1 - power, lane);
        if (!header_coded && at < 4) continue;  // the header is zeros here: a fix there is false
        if (!plausible(at)) continue;
        block.bytes[at] ^= s0;
        fixed = true;
    }
    return fixed;
}

size_t PPlace(int i, int lane) {
    return static_cast<size_t>(i * kRowBytes + lane);
}
size_t QPlace(int i, int lane) {
    return kTables.q_index[static_cast<size_t>(i)][static_cast<size_t>(lane)];
}

}  // namespace

bool Holds(const Block &block) {
    return Failing(PSyndromes(block), kPLanes) == 0 && Failing(QSyndromes(block), kQLanes) == 0;
}

namespace {

// Passes of one code then the other until the block holds or a pass fixes nothing.
bool Iterate(Block &block, bool header_coded, bool q_first, bool check_plausible) {
    auto p_before = PSyndromes(block);
    auto q_before = QSyndromes(block);
    int failing = Failing(p_before, kPLanes) + Failing(q_before, kQLanes);
    for (int pass = 0; pass < kPasses; ++pass) {
        // A fix is plausible where the other code failed before the pass (a false fix makes its own codeword
        // hold, so the syndromes after it tell nothing).
        const auto in_failed_q = [&](size_t at) {
            const uint8_t lane = kTables.q_lane[at];
            return !check_plausible || (q_before.s0[lane] | q_before.s1[lane]) != 0;
        };
        const auto in_failed_p = [&](size_t at) {
            return !check_plausible || at >= kQParity || (p_before.s0[at % kPLanes] | p_before.s1[at % kPLanes]) != 0;
        };
        for (int half = 0; half < 2; ++half) {
            if ((half == 0) != q_first)
                FixLanes(block, PSyndromes(block), kPLanes, kPLength, header_coded, PPlace, in_failed_q);
            else
                FixLanes(block, QSyndromes(block), kQLanes, kQLength, header_coded, QPlace, in_failed_p);
        }
        p_before = PSyndromes(block);
        q_before = QSyndromes(block);
        const int now = Failing(p_before, kPLanes) + Failing(q_before, kQLanes);
        if (now == 0) return true;
        // A pass that leaves as many codewords failing is making false fixes, not progress (a sector of noise).
        if (now >= failing) return false;
        failing = now;
    }
    return false;
}

}  // namespace

bool Correct(Block &block, bool header_coded) {
    // P then Q first; where a false fix led that astray, the other orders from the same start.
    const Block start = block;
    const bool orders[3][2] = {{false, true}, {true, true}, {false, false}};
    for (const auto &order : orders) {
        if (Iterate(block, header_coded, order[0], order[1])) return true;
        block = start;
    }
    return false;
}

void Encode(Block &block) {
    // Parity (p0 at n-2, p1 at n-1) that cancels the data's syndromes: p0 + p1 = s0, a p0 + p1 = s1.
    auto fill = [&](auto syndromes, int lanes, auto place, int length) {
        for (int lane = 0; lane < lanes; ++lane) {
            const uint8_t s0 = syndromes.s0[lane], s1 = syndromes.s1[lane];
            const uint8_t p0 = kTables.Divide(s0 ^ s1, 3);
            block.bytes[place(length - 2, lane)] = p0;
            block.bytes[place(length - 1, lane)] = s0 ^ p0;
        }
    };
    std::memset(block.bytes + kPParity, 0, kCovered - kPParity);
    fill(PSyndromes(block), kPLanes, PPlace, kPLength);
    fill(QSyndromes(block), kQLanes, QPlace, kQLength);
}

}  // namespace qorvex::ecc
