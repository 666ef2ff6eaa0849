// Texts both hosts show for tracks: sector format names and sector positions.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// Name of a sector format code ("MODE1/2352"); "UNKNOWN" outside the table.
const char *FormatName(int32_t format);

// A sector position or length as MM:SS:FF (75 frames a second), with a leading "-" when negative.
std::string SectorTime(int64_t sectors);

}  // namespace host
