#include "disc_text.h"

#include <cinttypes>
#include <cstdio>
#include <iterator>

namespace host {
namespace {

constexpr const char *kFormatNames[] = {
    "AUDIO",           "DATA",
    "MODE0",           "MODE1/2352",
    "MODE2",           "MODE2/2352",
    "MODE2FORM1/2352", "MODE2FORM2/2352",
    "MODE0/2336",      "MODE1/2048",
    "MODE2/2336",      "MODE2/2048",
    "MODE2/2324",      "MODE2/2336",
    "AUDIO/2448",      "MODE1/2448",
    "MODE2/2448",      "MODE2FORM1/2448",
    "MODE2FORM2/2448", "DVD",
    "UNKNOWN",
};

}  // namespace

const char *FormatName(int32_t format) {
    if (format < 0 || format >= static_cast<int32_t>(std::size(kFormatNames))) return "UNKNOWN";
    return kFormatNames[format];
}

std::string SectorTime(int64_t sectors) {
    const bool negative = sectors < 0;
    const uint64_t a = negative ? 0 - static_cast<uint64_t>(sectors) : static_cast<uint64_t>(sectors);
    char text[48];
    std::snprintf(text, sizeof text, "%s%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64, negative ? "-" : "", a / 4500,
                  a / 75 % 60, a % 75);
    return text;
}

}  // namespace host
