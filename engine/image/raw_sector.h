// ECMA-130 raw sector layout (2352 bytes, or 2448 with subchannel data): the offsets this engine reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorvex::raw_sector {

constexpr size_t kSyncSize = 12;   // 00 FF x10 00
constexpr size_t kAddress = 12;    // minute, second, frame in BCD
constexpr size_t kMode = 15;       // 1 or 2
constexpr size_t kData = 16;       // Mode 1 user data, Mode 2 data (or XA subheader)
constexpr size_t kSubheader = 16;  // Mode 2 XA: file, channel, submode, coding, recorded twice
constexpr size_t kSubheaderCopy = 20;
constexpr size_t kSubmode = 18;
constexpr size_t kXaData = 24;  // Mode 2 XA user data
constexpr uint8_t kSubmodeForm2 = 0x20;
constexpr int32_t kFramesPerSecond = 75;
constexpr int32_t kAddressOffset = 150;  // header addresses are sector + 150 (the 2-second pregap)

// The same layout without sync and header: a 2336-byte Mode 2 sector starts with the XA subheader.
constexpr size_t kSubmodeIn2336 = 2;

}  // namespace qorvex::raw_sector
