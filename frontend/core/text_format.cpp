#include "text_format.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "utf8.h"

namespace lumast {

std::string GroupThousands(const std::string &digits) {
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && n >= 4 && (n - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string GroupedNumber(int64_t value) {
    if (value < 0) return "-" + GroupThousands(std::to_string(0 - static_cast<uint64_t>(value)));
    return GroupThousands(std::to_string(value));
}

std::string GroupedNumber(uint64_t value) {
    return GroupThousands(std::to_string(value));
}

std::string ListDate(int64_t seconds) {
    if (seconds == 0) return "----/--/-- --:--:--";
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&t, &local)) return {};
    char text[64];
    if (strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local) == 0) return {};
    return text;
}

std::string Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

std::string Utf16BeToUtf8(const uint8_t *data, size_t length) {
    std::string out;
    for (size_t i = 0; i + 1 < length; i += 2) {
        uint32_t c = (uint32_t(data[i]) << 8) | data[i + 1];
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < length) {
            const uint32_t low = (uint32_t(data[i + 2]) << 8) | data[i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // unpaired surrogate
        host::AppendUtf8(out, c);
    }
    return out;
}

std::string TrimTrailingBlanks(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace lumast
