// ECMA-167 field types: extent and allocation descriptors, timestamps and compressed Unicode (CS0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorvex::udf {

// Low 30 bits of an allocation descriptor length are bytes; the top 2 bits are the extent type.
constexpr uint32_t kAdLengthMask = 0x3FFFFFFF;

struct ExtentAd {  // extent_ad: a run of sectors of the track
    uint32_t length = 0;
    uint32_t location = 0;
};

struct ShortAd {  // short_ad: blocks of the partition of the entry that holds it
    uint32_t length = 0;
    uint32_t position = 0;
    uint32_t Bytes() const { return length & kAdLengthMask; }
    uint32_t Type() const { return length >> 30; }
};

struct LongAd {  // long_ad: blocks of the partition that the reference selects
    uint32_t length = 0;
    uint32_t block = 0;
    uint16_t partition = 0;
    uint32_t Bytes() const { return length & kAdLengthMask; }
    uint32_t Type() const { return length >> 30; }
};

ExtentAd ReadExtentAd(const uint8_t *p);
ShortAd ReadShortAd(const uint8_t *p);
LongAd ReadLongAd(const uint8_t *p);
// ext_ad (20 bytes): extent length, recorded length, information length, extent location (lb_addr).
LongAd ReadExtendedAd(const uint8_t *p);

// Seconds since 1970 (UTC) of a 12-byte timestamp; 0 when the year is 0 or a field is out of range.
// The zone value -2047 ("no zone recorded") is taken as UTC.
int32_t TimestampToUnix(const uint8_t *timestamp);

// Decodes n bytes of CS0 (compression identifier included) into at most `capacity` units;
// returns the units written, or -1 when the identifier is neither 8 nor 16. Writes no terminator.
int32_t Cs0Decode(size_t n, const uint8_t *cs0, char16_t *out, size_t capacity);

// Multibyte text of decoded units, ending at the first zero unit.
std::string UnitsToText(const char16_t *units, size_t count);

}  // namespace qorvex::udf
