#include "containers/chd_huffman.h"

#include <algorithm>

namespace qorvex::containers::chd {

uint32_t BitReader::Peek(int count) const {
    if (count == 0) return 0;
    uint64_t value = 0;
    // Up to five bytes cover 32 bits at any bit position.
    const uint64_t first = position_ / 8;
    for (uint64_t i = 0; i < 5; ++i) {
        const uint64_t at = first + i;
        value = (value << 8) | (at < size_ ? data_[at] : 0);
    }
    const int shift = 40 - static_cast<int>(position_ % 8) - count;
    return static_cast<uint32_t>((value >> shift) & ((uint64_t(1) << count) - 1));
}

uint32_t BitReader::Read(int count) {
    const uint32_t value = Peek(count);
    Skip(count);
    return value;
}

HuffmanDecoder::HuffmanDecoder(uint32_t codes, int max_bits)
    : codes_(codes), max_bits_(max_bits), lengths_(codes, 0), lookup_(size_t(1) << max_bits, 0) {}

bool HuffmanDecoder::ImportRle(BitReader &bits) {
    const int width = max_bits_ >= 16 ? 5 : max_bits_ >= 8 ? 4 : 3;
    uint32_t at = 0;
    while (at < codes_) {
        uint32_t length = bits.Read(width);
        if (length != 1) {
            lengths_[at++] = static_cast<uint8_t>(length);
            continue;
        }
        // 1 escapes: 1 again is a literal 1, anything else is a length repeated 3 + the next field times.
        length = bits.Read(width);
        if (length == 1) {
            lengths_[at++] = 1;
            continue;
        }
        const uint32_t repeat = bits.Read(width) + 3;
        if (repeat > codes_ - at) return false;
        std::fill_n(lengths_.begin() + at, repeat, static_cast<uint8_t>(length));
        at += repeat;
    }
    return !bits.Overrun() && Build();
}

bool HuffmanDecoder::ImportHuffman(BitReader &bits) {
    // The lengths' own code: 24 symbols of at most 6 bits, their lengths in 3 bits each (7: none).
    HuffmanDecoder small(24, 6);
    small.lengths_[0] = static_cast<uint8_t>(bits.Read(3));
    const uint32_t first = bits.Read(3) + 1;
    uint32_t last_read = 0;
    for (uint32_t i = 1; i < 24; ++i) {
        if (i < first || last_read == 7) {
            small.lengths_[i] = 0;
        } else {
            last_read = bits.Read(3);
            small.lengths_[i] = static_cast<uint8_t>(last_read == 7 ? 0 : last_read);
        }
    }
    if (!small.Build()) return false;
    // Symbol 0 repeats the last length (2 + 3 bits times, and at 9 more bits as wide as the table needs).
    int run_bits = 0;
    for (uint32_t t = codes_ - 9; t != 0; t >>= 1) ++run_bits;
    uint32_t at = 0;
    uint8_t last = 0;
    while (at < codes_) {
        const uint32_t value = small.Decode(bits);
        if (bits.Overrun()) return false;
        if (value != 0) {
            last = static_cast<uint8_t>(value - 1);
            lengths_[at++] = last;
            continue;
        }
        uint32_t count = bits.Read(3) + 2;
        if (count == 9) count += bits.Read(run_bits);
        for (; count != 0 && at < codes_; --count) lengths_[at++] = last;
    }
    return !bits.Overrun() && Build();
}

bool HuffmanDecoder::Build() {
    // Codes per length, then the first code of each length from the longest down.
    uint32_t first[33] = {};
    for (uint8_t length : lengths_) {
        if (length > max_bits_) return false;
        ++first[length];
    }
    uint32_t start = 0;
    for (int length = 32; length > 0; --length) {
        const uint32_t sum = start + first[length];
        if (length != 1 && (sum & 1) != 0) return false;
        first[length] = start;
        start = sum >> 1;
    }
    std::fill(lookup_.begin(), lookup_.end(), 0);
    for (uint32_t symbol = 0; symbol < codes_; ++symbol) {
        const int length = lengths_[symbol];
        if (length == 0) continue;
        const uint32_t code = first[length]++;
        const int shift = max_bits_ - length;
        const uint64_t begin = uint64_t(code) << shift, end = uint64_t(code + 1) << shift;
        if (end > lookup_.size()) return false;
        std::fill(lookup_.begin() + static_cast<ptrdiff_t>(begin), lookup_.begin() + static_cast<ptrdiff_t>(end),
                  static_cast<uint16_t>((symbol << 5) | uint32_t(length)));
    }
    return true;
}

}  // namespace qorvex::containers::chd
