#include "joliet/joliet.h"

#include <algorithm>
#include <array>

#include "platform/text.h"

namespace qorvex::joliet {

bool IsJolietDescriptor(const uint8_t *d) {
    return d[0] == 2 && d[88] == 0x25 && d[89] == 0x2F && (d[90] == 0x40 || d[90] == 0x43 || d[90] == 0x45) &&
           (d[91] == 0 || d[91] == 0x20);
}

std::string ConvertName(const uint8_t *identifier, size_t n) {
    std::array<uint8_t, 512> scratch{};
    n = std::min(n, scratch.size());
    std::copy(identifier, identifier + n, scratch.begin());
    std::u16string text;
    for (size_t i = 0; i + 1 < scratch.size() && i < n; i += 2) {
        const char16_t unit = char16_t((scratch[i] << 8) | scratch[i + 1]);
        if (unit == 0) break;
        text += unit;
    }
    return platform::Utf16ToMultiByte(text);
}

}  // namespace qorvex::joliet
