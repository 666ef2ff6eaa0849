// ECMA-130 Annex A: the Reed-Solomon product code (P and Q parity) of Mode 1 and Mode 2 Form 1 sectors.
//
// The 2340 bytes from the header on are 1170 16-bit words whose two bytes lie in two planes coded alike, so
// the code is read byte-wise: 86 P codewords of 26 bytes (24 + 2 parity: column c is bytes c, c + 86, ...),
// and 52 Q codewords of 45 bytes (43 + 2 parity) running diagonally through the same bytes and the P parity.
// Each codeword V of length n satisfies sum V[i] = 0 and sum V[i] a^(n-1-i) = 0 in GF(2^8) with
// x^8 + x^4 + x^3 + x^2 + 1; two parity bytes find and fix one wrong byte per codeword.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorvex::ecc {

constexpr size_t kCovered = 2340;  // bytes from the header (raw byte 12) to the end of the sector
constexpr size_t kPParity = 2064;  // P parity: 172 bytes at raw byte 2076
constexpr size_t kQParity = 2236;  // Q parity: 104 bytes at raw byte 2248
constexpr int kPasses = 16;        // P then Q again, while a pass still fixes bytes

// The covered bytes of one sector, copied out (a Mode 2 Form 1 sector's header is coded as zeros).
struct Block {
    alignas(8) uint8_t bytes[kCovered + 8];  // + room for the last word of a row to be read whole
};

// True when every P and Q codeword of the block holds.
bool Holds(const Block &block);
// Fixes one byte per codeword, P then Q, until every codeword holds or a pass fixes nothing. True when the
// block holds at the end; without `header_coded` (Form 1: zeros stand for the header) a fix landing in the
// header shows the block was miscorrected and fails it.
bool Correct(Block &block, bool header_coded);
// Writes the P and Q parity of the block (the ECC of a sector being made or rebuilt).
void Encode(Block &block);

}  // namespace qorvex::ecc
