// The hunk codecs of CHD version 5: general ones (zlib, lzma, huff, flac, zstd) that code a hunk as it is,
// and CD ones (cdzl, cdlz, cdfl, cdzs) that code a hunk of 2448-byte frames as its 2352-byte sectors and its
// 96-byte subcode apart, the sectors' sync and ECC left out where they can be made again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qorvex::containers::chd {

enum class Codec : uint8_t { kNone, kZlib, kLzma, kHuff, kFlac, kZstd, kCdZlib, kCdLzma, kCdFlac, kCdZstd, kUnknown };

constexpr uint32_t FourCc(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 | uint32_t(uint8_t(text[2])) << 8 |
           uint8_t(text[3]);
}
Codec CodecOf(uint32_t fourcc);

// CD frames as the CD codecs see them.
constexpr uint32_t kFrameBytes = 2448;
constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kSubcodeBytes = 96;

// The decoders of one open file, kept from hunk to hunk.
class HunkDecoder {
public:
    explicit HunkDecoder(uint32_t hunk_bytes);
    ~HunkDecoder();
    HunkDecoder(const HunkDecoder &) = delete;
    HunkDecoder &operator=(const HunkDecoder &) = delete;

    // Decodes `size` stored bytes into exactly `hunk_bytes` bytes at `out`; false for a stream that is damaged
    // or decodes to another length.
    bool Decode(Codec codec, const uint8_t *in, size_t size, uint8_t *out);

private:
    struct State;
    bool Inflate(const uint8_t *in, size_t size, uint8_t *out, size_t out_size);
    bool Lzma(const uint8_t *in, size_t size, uint8_t *out, size_t out_size);
    bool Zstd(const uint8_t *in, size_t size, uint8_t *out, size_t out_size);
    bool Huff(const uint8_t *in, size_t size, uint8_t *out, size_t out_size);
    // 16-bit stereo samples (out_size / 4 of them) written big-endian or little-endian; `used` takes the
    // stored bytes the FLAC frames filled.
    bool Flac(const uint8_t *in, size_t size, uint8_t *out, size_t out_size, uint32_t block, bool big_endian,
              size_t *used);
    bool CdFrames(Codec codec, const uint8_t *in, size_t size, uint8_t *out);

    uint32_t hunk_bytes_;
    std::unique_ptr<State> state_;
    std::vector<uint8_t> split_;  // a CD hunk's sectors, then its subcode
};

}  // namespace qorvex::containers::chd
