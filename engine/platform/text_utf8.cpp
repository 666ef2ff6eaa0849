#include "platform/text_utf8.h"

#include <cstdint>
#include <limits>

#include "platform/text.h"

namespace qorvex::platform {

namespace detail {
namespace {
void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

void AppendUtf16AsUtf8(std::u16string_view text, std::string &out) {
    size_t i = 0;
    // A run of ASCII goes over unit by unit.
    for (; i < text.size() && text[i] < 0x80; ++i) out += static_cast<char>(text[i]);
    ForEachCodePoint(text.substr(i), [&](char32_t c) {
        if (c == 0xFFFFFFFF)
            out += '?';
        else
            AppendUtf8(out, c);
    });
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    AppendUtf16AsUtf8(text, out);
    return out;
}

namespace {
// Decodes UTF-8, handing each UTF-16 unit to `emit`; false from emit stops.
template <typename F>
void ForEachUtf16Unit(std::string_view text, F &&emit) {
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (!emit(char16_t(b))) return;
            ++i;
            continue;
        }
        char32_t c = 0;
        size_t len = 0;
        if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        }
        bool ok = len > 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (t & 0x3F);
        }
        if (ok && ((len == 2 && c < 0x80) || (len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                   (c >= 0xD800 && c <= 0xDFFF)))
            ok = false;
        if (!ok) {
            if (!emit(u'\uFFFD')) return;
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            if (!emit(char16_t(0xD800 + ((c - 0x10000) >> 10)))) return;
            if (!emit(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)))) return;
        } else if (!emit(char16_t(c))) {
            return;
        }
        i += len;
    }
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    ForEachUtf16Unit(text, [&](char16_t unit) {
        out += unit;
        return true;
    });
    return out;
}

size_t Utf8ToUtf16(std::string_view text, char16_t *out, size_t capacity) {
    size_t n = 0;
    ForEachUtf16Unit(text, [&](char16_t unit) {
        if (n == capacity) return false;
        out[n++] = unit;
        return true;
    });
    return n;
}

}  // namespace detail

int64_t RecordedDateToInstant(int year, int month, int day, int hour, int minute, int second, int offset_minutes) {
    // Days from civil (proleptic Gregorian), with month and day normalised like mktime does.
    int64_t y = year;
    int64_t m = month - 1;
    y += m / 12;
    m %= 12;
    if (m < 0) {
        m += 12;
        --y;
    }
    ++m;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (m + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + 1 - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468 + (static_cast<int64_t>(day) - 1);
    return days * 86400 + int64_t(hour) * 3600 + int64_t(minute) * 60 + second - int64_t(offset_minutes) * 60;
}

int32_t RecordedDateToUnix(int year, int month, int day, int hour, int minute, int second, int offset_minutes) {
    const int64_t seconds = RecordedDateToInstant(year, month, day, hour, minute, second, offset_minutes);
    if (seconds < std::numeric_limits<int32_t>::min() || seconds > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(seconds);
}

}  // namespace qorvex::platform
