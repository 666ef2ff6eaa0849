// The bit reader and canonical Huffman decoder of CHD version 5: the hunk map's compression types and the
// "huff" codec are coded with them. Bits are read most significant first; a code's length comes from a table
// sent ahead of the data, and the longest codes take the lowest values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorvex::containers::chd {

class BitReader {
public:
    BitReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    // The next `count` (0..32) bits; zeros past the end, which Overrun() then reports.
    uint32_t Read(int count);
    uint32_t Peek(int count) const;
    void Skip(int count) { position_ += static_cast<uint64_t>(count); }
    bool Overrun() const { return position_ > uint64_t(size_) * 8; }
    // Bytes taken so far, the last one counted whole.
    size_t BytesUsed() const { return static_cast<size_t>((position_ + 7) / 8); }

private:
    const uint8_t *data_;
    size_t size_;
    uint64_t position_ = 0;
};

class HuffmanDecoder {
public:
    HuffmanDecoder(uint32_t codes, int max_bits);
    // The code lengths as the map sends them: raw lengths with an escape for runs.
    bool ImportRle(BitReader &bits);
    // The code lengths coded with a small Huffman code of their own (the "huff" codec).
    bool ImportHuffman(BitReader &bits);
    uint32_t Decode(BitReader &bits) const {
        const uint16_t entry = lookup_[bits.Peek(max_bits_)];
        bits.Skip(entry & 0x1F);
        return entry >> 5;
    }

private:
    // Gives every symbol its canonical code from the lengths and fills the lookup table; false when the
    // lengths describe no complete code.
    bool Build();

    uint32_t codes_;
    int max_bits_;
    std::vector<uint8_t> lengths_;
    std::vector<uint16_t> lookup_;  // symbol << 5 | code length, indexed by the next max_bits bits
};

}  // namespace qorvex::containers::chd
