// A bounds-checked view of bytes read from an image: every field is read through it, by offset, and a read
// that would run past the bytes really held gives 0 and marks the view as overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qorvex {

class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const uint8_t *data, size_t size) : data_(data), size_(data ? size : 0) {}

    constexpr const uint8_t *Data() const { return data_; }
    constexpr size_t Size() const { return size_; }
    constexpr bool Has(size_t offset, size_t n) const { return offset <= size_ && n <= size_ - offset; }
    // True once a field was read past the end.
    constexpr bool Overrun() const { return overrun_; }

    uint8_t U8(size_t offset) const { return Has(offset, 1) ? data_[offset] : Miss<uint8_t>(); }
    uint16_t U16le(size_t offset) const {
        return Has(offset, 2) ? static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8)) : Miss<uint16_t>();
    }
    uint16_t U16be(size_t offset) const {
        return Has(offset, 2) ? static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]) : Miss<uint16_t>();
    }
    uint32_t U32le(size_t offset) const {
        if (!Has(offset, 4)) return Miss<uint32_t>();
        const uint8_t *p = data_ + offset;
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    uint32_t U32be(size_t offset) const {
        if (!Has(offset, 4)) return Miss<uint32_t>();
        const uint8_t *p = data_ + offset;
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    }
    uint64_t U64le(size_t offset) const {
        return Has(offset, 8) ? uint64_t(U32le(offset)) | (uint64_t(U32le(offset + 4)) << 32) : Miss<uint64_t>();
    }
    // n bytes from offset, cut to what is held.
    ByteView Sub(size_t offset, size_t n) const {
        if (offset > size_) return ByteView(data_ + size_, 0);
        return ByteView(data_ + offset, n < size_ - offset ? n : size_ - offset);
    }
    ByteView From(size_t offset) const { return Sub(offset, size_); }
    // n bytes as text (binary safe), cut to what is held.
    std::string_view Text(size_t offset, size_t n) const {
        const ByteView part = Sub(offset, n);
        return std::string_view(reinterpret_cast<const char *>(part.data_), part.size_);
    }
    bool Matches(size_t offset, std::string_view text) const { return Text(offset, text.size()) == text; }
    // The first offset from `from` up to `end` (cut to what is held) whose byte is not 0, else that end: where
    // a reader that steps over padding one zero byte at a time comes out.
    size_t SkipZeros(size_t from, size_t end) const {
        end = end < size_ ? end : size_;
        for (uint64_t word = 0; from + 8 <= end; from += 8) {
            std::memcpy(&word, data_ + from, 8);
            if (word != 0) break;
        }
        while (from < end && data_[from] == 0) ++from;
        return from;
    }

private:
    template <typename T>
    T Miss() const {
        overrun_ = true;
        return 0;
    }

    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    mutable bool overrun_ = false;
};

}  // namespace qorvex
