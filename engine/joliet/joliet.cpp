#include "joliet/joliet.h"

#include <algorithm>
#include <array>

#include "platform/text.h"

namespace qorvex::joliet {

namespace {
constexpr size_t kMaxNameBytes = 512;
// ECMA-119 8.5: volume descriptor type (BP 1) and escape sequences (BP 89-120).
constexpr size_t kType = 0, kEscapes = 88;
constexpr uint8_t kSupplementary = 2;
}  // namespace

bool IsJolietDescriptor(ByteView d) {
    // "%/@", "%/C" or "%/E": UCS-2 levels 1 to 3.
    const uint8_t level = d.U8(kEscapes + 2);
    return d.U8(kType) == kSupplementary && d.U8(kEscapes) == 0x25 && d.U8(kEscapes + 1) == 0x2F &&
           (level == 0x40 || level == 0x43 || level == 0x45) && (d.U8(kEscapes + 3) == 0 || d.U8(kEscapes + 3) == 0x20);
}

void AppendName(ByteView identifier, std::string &out) {
    const size_t n = std::min(identifier.Size(), kMaxNameBytes);
    std::array<char16_t, kMaxNameBytes / 2> text;
    size_t units = 0;
    // An odd last byte is the high half of a unit whose low half is 0.
    for (size_t i = 0; i < n && i + 1 < kMaxNameBytes; i += 2) {
        const char16_t unit = static_cast<char16_t>((identifier.U8(i) << 8) | (i + 1 < n ? identifier.U8(i + 1) : 0));
        if (unit == 0) break;
        text[units++] = unit;
    }
    platform::AppendMultiByte(std::u16string_view(text.data(), units), out);
}

std::string ConvertName(ByteView identifier) {
    std::string text;
    AppendName(identifier, text);
    return text;
}

}  // namespace qorvex::joliet
