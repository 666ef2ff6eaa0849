// Writers of the container files the engine reads besides plain images, following their published layouts,
// and an ECMA-130 parity check independent of the engine's generator.
//
//   std::vector<uint8_t> ecm = EncodeEcm(bin);   // x.bin.ecm for x.bin
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qorvex::test {

// Whether a 2352-byte sector's P and Q parity hold (ECMA-130 Annex A), by their syndromes: every P and Q
// code word c of n bytes has sum(c_i) = 0 and sum(alpha^(n-1-i) c_i) = 0. A Mode 2 Form 1 sector's parity
// counts its header as zero (`zero_header`).
bool ParityHolds(const uint8_t *sector, bool zero_header);

// An ECM file of a raw image: Mode 1 sectors and the 2336 bytes of Mode 2 Form 1 / Form 2 sectors whose sync,
// EDC and parity can be made again are stored without them; everything else byte for byte.
std::vector<uint8_t> EncodeEcm(const std::vector<uint8_t> &bin);

// How an ISZ writer stores a chunk (the kinds of ISZ 1.00: zeros, as it is, zlib, bzip2).
enum class IszChunk : uint8_t { kZeros = 0, kStored = 1, kZlib = 2, kBzip2 = 3 };
// An ISZ file of a 2048-byte image in chunks of `chunk_size` bytes, chunk i stored as kinds[i % size] (an
// all-zero chunk always as zeros), with 3-byte chunk pointers; `has_password` is written as given.
std::vector<uint8_t> EncodeIsz(const std::vector<uint8_t> &iso, uint32_t chunk_size, const std::vector<IszChunk> &kinds,
                               uint8_t has_password = 0);

// How a CHD writer stores a hunk: as it is, raw deflate (the header's first codec, "zlib"), the same as
// hunk `self`, or (version 4) as its first eight bytes, which the hunk repeats.
struct ChdHunk {
    enum Kind : uint8_t { kStored, kZlib, kSelf, kMini } kind = kStored;
    uint32_t self = 0;
};
struct ChdLayout {
    uint64_t logical = 0;  // bytes of the image the header states; 0: the image's size
    uint32_t hunk_bytes = 8192;
    uint32_t unit_bytes = 2048;
    std::vector<std::pair<std::string, std::string>> metadata;  // tag and text, in the chain's order
    bool parent = false;                                        // a parent's SHA-1 in the header
    bool zstd = false;  // compressed hunks in zstd rather than deflate (where the writer has zstd)
    // Compressed hunks of 2448-byte frames in the CD codec of that compressor (cdzl, cdzs): sectors and subcode
    // apart, the sync and parity of every sector whose parity holds left out (version 5).
    bool cd_codec = false;
    uint32_t version = 5;  // 4: the older header, a plain map of 16-byte entries and CRC-32 (no unit size)
};
// A CHD version 5 file of `image` in hunks (the last padded with zeros; hunks past the image are zeros),
// hunk i stored as kinds[i] (past the list, as its last). The compressed map codes every type in 4 bits.
std::vector<uint8_t> EncodeChd(const std::vector<uint8_t> &image, const std::vector<ChdHunk> &kinds,
                               const ChdLayout &layout);

}  // namespace qorvex::test
