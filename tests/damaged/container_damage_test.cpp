// Containers that claim far more than they hold: a few KiB of ISZ said to be a 4 GiB image of 8 MiB chunks opens
// and lists within the bounded memory, its chunks decoded a few at a time.
#include <gtest/gtest.h>

#include "qorvex.h"
#include "support/container_writers.h"
#include "support/harness/damage_harness.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::IszChunk;

TEST(ContainerDamage, IszClaimingGigabytesStaysInBoundedMemory) {
    qorvex::test::TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "row " + std::to_string(i) + "\n";
    std::vector<uint8_t> iso = qorvex::test::BuildIso({qorvex::test::File("A.TXT;1", text)}).bytes;
    constexpr uint32_t kChunk = 8u << 20, kChunks = 512;  // 4 GiB
    iso.resize(kChunk);
    const std::vector<uint8_t> one = qorvex::test::EncodeIsz(iso, kChunk, {IszChunk::kZlib});
    // The same first chunk, then 511 chunks of zeros that take no bytes in the file.
    constexpr size_t kHeader = 64, kPointer = 3;
    const uint8_t key[4] = {0xB6, 0x8C, 0xA5, 0xDE};
    std::vector<uint8_t> isz(one.begin(), one.begin() + kHeader);
    Put32Le(&isz[12], kChunks * (kChunk / 2048));
    Put32Le(&isz[25], kChunks);
    Put32Le(&isz[43], kHeader + kChunks * kPointer);
    std::vector<uint8_t> table(kChunks * kPointer, 0);
    for (size_t i = 0; i < kPointer; ++i) table[i] = one[kHeader + i] ^ key[i % 4];
    for (size_t i = 0; i < table.size(); ++i) isz.push_back(table[i] ^ key[i % 4]);
    isz.insert(isz.end(), one.begin() + kHeader + kPointer, one.end());
    ASSERT_LT(isz.size(), 64u * 1024);
    qorvex::test::WriteFile(dir / "big.isz", isz);
    const std::string path = dir / "big.isz";
    EXPECT_EQ(RunWatched([&] {
                  return WithOpen(path, OPEN_DISC_SHEETS, [](QorvexHandle h) {
                      char label[33] = {};
                      int32_t sectors = 0;
                      int64_t bytes = 0;
                      QorvexGetImageInformation(h, 0, KIND_ISO9660, label, &sectors, &bytes);
                      return std::to_string(QorvexGetFileCount(h, 0, KIND_ISO9660)) + " " + label;
                  });
              }),
              "1 QORVEX");
}

}  // namespace
}  // namespace damaged
