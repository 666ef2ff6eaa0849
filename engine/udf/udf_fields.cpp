#include "udf/udf_fields.h"

#include <string_view>

#include "platform/text.h"
#include "udf/udf_tag.h"

namespace qorvex::udf {

ExtentAd ReadExtentAd(const uint8_t *p) {
    return {Le32(p), Le32(p + 4)};
}

ShortAd ReadShortAd(const uint8_t *p) {
    return {Le32(p), Le32(p + 4)};
}

LongAd ReadLongAd(const uint8_t *p) {
    return {Le32(p), Le32(p + 4), Le16(p + 8)};
}

LongAd ReadExtendedAd(const uint8_t *p) {
    return {Le32(p), Le32(p + 12), Le16(p + 16)};
}

int32_t TimestampToUnix(const uint8_t *t) {
    const int year = Le16(t + 2);
    if (year == 0) return 0;
    const int month = t[4], day = t[5], hour = t[6], minute = t[7], second = t[8];
    // Fields a calendar cannot hold give no date rather than a normalised, wrong one.
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return 0;
    int zone = Le16(t) & 0x0FFF;
    if (zone & 0x0800) zone -= 0x1000;
    if (zone == -2047) zone = 0;
    return platform::RecordedDateToUnix(year, month, day, hour, minute, second, zone);
}

int32_t Cs0Decode(size_t n, const uint8_t *cs0, char16_t *out, size_t capacity) {
    if (n == 0) return -1;
    const uint8_t id = cs0[0];
    if (id != 8 && id != 16) return -1;
    size_t count = 0;
    for (size_t i = 1; i < n && count < capacity;) {
        char16_t unit;
        if (id == 16) {
            unit = static_cast<char16_t>(cs0[i++] << 8);
            if (i < n) unit = static_cast<char16_t>(unit | cs0[i++]);
        } else {
            unit = cs0[i++];
        }
        out[count++] = unit;
    }
    return static_cast<int32_t>(count);
}

std::string UnitsToText(const char16_t *units, size_t count) {
    size_t end = 0;
    while (end < count && units[end] != 0) ++end;
    return platform::Utf16ToMultiByte(std::u16string_view(units, end));
}

}  // namespace qorvex::udf
