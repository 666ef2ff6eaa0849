// Number and date texts shared by the lists, the summary and the volume information.
#pragma once

#include <cstdint>
#include <string>

namespace lumast {

// Decimal digits with a "," before every group of three from the right ("1234567" -> "1,234,567").
std::string GroupThousands(const std::string &digits);
std::string GroupedNumber(int64_t value);
std::string GroupedNumber(uint64_t value);
inline std::string GroupedNumber(int32_t value) {
    return GroupedNumber(static_cast<int64_t>(value));
}
inline std::string GroupedNumber(uint32_t value) {
    return GroupedNumber(static_cast<uint64_t>(value));
}

// Seconds since 1970 as local "%Y/%m/%d %H:%M:%S"; 0 shows "----/--/-- --:--:--".
std::string ListDate(int64_t seconds);

// printf into a std::string.
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

// UTF-16 big-endian bytes as UTF-8 (the system code page on POSIX); an odd last byte is dropped.
std::string Utf16BeToUtf8(const uint8_t *data, size_t length);
std::string TrimTrailingBlanks(std::string text);

}  // namespace lumast
