// Descriptor tags and CRC, CS0 names and timestamps.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/bytes.h"
#include "support/udf_builder.h"
#include "udf/udf_structures.h"

namespace qorvex::udf {
namespace {

// The CRC as ECMA-167 defines it, one bit at a time.
uint16_t BitwiseCrc(const uint8_t *data, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

TEST(UdfTag, CrcIsCcittWithZeroStart) {
    // Every length around the 16-byte steps of the table method, over irregular bytes.
    std::array<uint8_t, 600> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 3));
    for (size_t n = 0; n < 70; ++n) ASSERT_EQ(Crc16(bytes.data() + 3, n), BitwiseCrc(bytes.data() + 3, n)) << n;
    EXPECT_EQ(Crc16(bytes.data(), 600), BitwiseCrc(bytes.data(), 600));
    const char *text = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t *>(text), 9), 0x31C3);
    EXPECT_EQ(Crc16(nullptr, 0), 0);
}

TEST(UdfTag, WindowCrcsAreThoseOfTheBytes) {
    std::vector<uint8_t> bytes(70000);
    uint32_t x = 12345;
    for (uint8_t &b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    WindowCrc crcs(ByteView(bytes.data(), bytes.size()));
    for (size_t from : {0, 1, 255, 256, 257, 1000, 4097})
        for (size_t n : {0, 15, 1023, 1024, 1025, 4096, 4351, 65535}) {
            ASSERT_EQ(crcs.Of(from, n), Crc16(bytes.data() + from, n)) << from << " " << n;
            ASSERT_EQ(crcs.Of(bytes.size() - n, n), Crc16(bytes.data() + bytes.size() - n, n)) << n;
        }
    // Through the descriptor test: a long descriptor that passes, and one byte changed that fails.
    const size_t at = 3001;
    test::Put16Le(bytes.data() + at + 10, 5000);
    const uint16_t crc = Crc16(bytes.data() + at + 16, 5000);
    test::Put16Le(bytes.data() + at + 8, crc);
    WindowCrc again(ByteView(bytes.data(), bytes.size()));
    EXPECT_TRUE(DescriptorCrcOk(again, at));
    bytes[at + 4000] ^= 1;
    WindowCrc changed(ByteView(bytes.data(), bytes.size()));
    EXPECT_FALSE(DescriptorCrcOk(changed, at));
}

TEST(UdfTag, DescriptorTestUsesOnlyTheCrc) {
    std::array<uint8_t, 512> d{};
    EXPECT_TRUE(DescriptorCrcOk(ByteView(d.data(), d.size())));  // a zero block: length 0, CRC 0
    d[0] = 1;
    d[16] = 0xAB;
    d[100] = 0x5C;
    d[10] = 0xF0;  // CRC length 496
    d[11] = 0x01;
    const uint16_t crc = Crc16(d.data() + 16, 496);
    d[8] = static_cast<uint8_t>(crc);
    d[9] = static_cast<uint8_t>(crc >> 8);
    d[4] = 0x77;   // wrong checksum
    d[12] = 0x99;  // tag location unrelated to where it lies
    EXPECT_TRUE(DescriptorCrcOk(ByteView(d.data(), d.size())));
    d[200] ^= 1;
    EXPECT_FALSE(DescriptorCrcOk(ByteView(d.data(), d.size())));
    d[200] ^= 1;
    // A CRC range past the bytes read is refused, not read beyond.
    EXPECT_FALSE(DescriptorCrcOk(ByteView(d.data(), 300)));
    EXPECT_FALSE(DescriptorCrcOk(ByteView(d.data(), 15)));
}

TEST(UdfCs0, DecodesBothWidthsByTheirRules) {
    ASSERT_TRUE(platform::SetCodePage("UTF-8"));
    std::array<char16_t, 256> out{};
    const uint8_t only_id[] = {8};
    EXPECT_EQ(Cs0Decode(1, only_id, out.data(), out.size()), 0);
    const uint8_t narrow[] = {8, 'A', 0xE9, 'z'};
    ASSERT_EQ(Cs0Decode(4, narrow, out.data(), out.size()), 3);
    EXPECT_EQ(out[1], 0xE9);
    EXPECT_EQ(UnitsToText(out.data(), 3), "A\xC3\xA9z");
    // 16-bit units are big-endian; an odd number of data bytes leaves a last unit with only its high byte.
    const uint8_t wide[] = {16, 0x30, 0x42, 0x00, 0x41, 0x12};
    ASSERT_EQ(Cs0Decode(6, wide, out.data(), out.size()), 3);
    EXPECT_EQ(std::u16string(out.data(), 3), (std::u16string{0x3042, 0x0041, 0x1200}));
    const uint8_t bad0[] = {0, 'A'}, bad254[] = {254, 'A'};
    EXPECT_EQ(Cs0Decode(2, bad0, out.data(), out.size()), -1);
    EXPECT_EQ(Cs0Decode(2, bad254, out.data(), out.size()), -1);
    EXPECT_EQ(Cs0Decode(0, narrow, out.data(), out.size()), -1);
    // Never more units than the destination holds.
    std::array<uint8_t, 300> long_name{};
    long_name[0] = 8;
    std::memset(long_name.data() + 1, 'x', 299);
    EXPECT_EQ(Cs0Decode(long_name.size(), long_name.data(), out.data(), 10), 10);
    const char16_t with_zero[] = {u'a', 0, u'b'};
    EXPECT_EQ(UnitsToText(with_zero, 3), "a");
}

std::array<uint8_t, 12> Stamp(int zone, int year, int month, int day, int hour, int minute, int second) {
    std::array<uint8_t, 12> t{};
    test::PutTimestamp(t.data(), {year, month, day, hour, minute, second, zone});
    t[9] = 99;  // centiseconds: dropped
    return t;
}

TEST(UdfTimestamp, GivesTrueUtcInstants) {
    const int32_t utc = 1588748889;  // 2020-05-06 07:08:09 UTC
    struct Case {
        std::array<uint8_t, 12> stamp;
        int32_t expected;
        const char *why;
    } cases[] = {
        {Stamp(0, 2020, 5, 6, 7, 8, 9), utc, "UTC"},
        {Stamp(540, 2020, 5, 6, 7, 8, 9), utc - 540 * 60, "east of UTC"},
        {Stamp(-60, 2020, 5, 6, 7, 8, 9), utc + 3600, "west of UTC: a negative 12-bit zone"},
        {Stamp(-2047, 2020, 5, 6, 7, 8, 9), utc, "no zone recorded"},
        {Stamp(0, 0, 5, 6, 7, 8, 9), 0, "year 0"},
        {Stamp(0, 2020, 13, 6, 7, 8, 9), 0, "month 13 (a field a calendar cannot hold)"},
        {Stamp(0, 2200, 1, 1, 0, 0, 0), 0, "beyond 32-bit seconds"},
    };
    for (const Case &c : cases) EXPECT_EQ(TimestampToUnix(ByteView(c.stamp.data(), 12)), c.expected) << c.why;
    EXPECT_EQ(TimestampToUnix(ByteView(cases[0].stamp.data(), 11)), 0) << "cut short";
}

}  // namespace
}  // namespace qorvex::udf
