// UTF-8 and UTF-16 conversion shared by both platforms' text services (UTF-8 is the POSIX code page and one
// that Windows may be set to).
#pragma once

#include <string>
#include <string_view>

namespace qorvex::platform::detail {

// Splits UTF-16 into code points; an unpaired surrogate yields 0xFFFFFFFF.
template <typename F>
inline void ForEachCodePoint(std::u16string_view text, F &&emit) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            emit(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            emit(char32_t(0xFFFFFFFF));
        } else {
            emit(char32_t(u));
        }
    }
}

// Unpaired surrogates become "?".
std::string Utf16ToUtf8(std::u16string_view text);
void AppendUtf16AsUtf8(std::u16string_view text, std::string &out);
// Invalid, overlong and surrogate sequences become U+FFFD, one per byte skipped.
std::u16string Utf8ToUtf16(std::string_view text);
// The same into `out`, at most `capacity` units (never more than text.size() are made); the units written.
size_t Utf8ToUtf16(std::string_view text, char16_t *out, size_t capacity);

}  // namespace qorvex::platform::detail
