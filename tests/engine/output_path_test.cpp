// Extraction to an output path takes a faster route than extraction to the callback (the data of 2048-byte
// images is copied inside the kernel, in runs); both must give the same result codes and bytes when the image
// ends inside an entry (whole images of every stored format are extracted both ways in image_tracks_test).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

TEST(OutputPath, FileAndCallbackAgreeOnACutImage) {
    TempDir dir;
    const std::vector<uint8_t> big = Pattern(10 * 2048 + 700, 7);  // ends inside its 11th sector
    IsoImage iso = BuildIso({File("SMALL.TXT;1", "small"), File("BIG.BIN;1", big)});
    const IsoPlacement placed = iso.iso.at("\\BIG.BIN;1");

    // The image cut after four sectors of the file: both ways fail alike; the file keeps its full preset
    // length with the four sectors that were present and zeros after them.
    std::vector<uint8_t> cut(iso.bytes.begin(), iso.bytes.begin() + (placed.extent + 4) * 2048);
    WriteFile(dir / "cut.iso", cut);
    Opened h(dir / "cut.iso");
    ASSERT_TRUE(h) << std::hex << h.error();
    ASSERT_EQ(QorvexGetFileStart(h.get(), 0, KIND_ISO9660), 2);
    EntryInfo info{};
    while (QorvexGetNextFile(h.get(), &info) != 0) {
    }
    ASSERT_EQ(std::string(info.name), "\\BIG.BIN;1");
    const std::string out = dir / "out.bin";
    EXPECT_EQ(QorvexExtractCurrentFile(h.get(), out.c_str()), ENGINE_READ_FAILED);
    Collector collector;
    QorvexSetCallback(h.get(), Collector::Callback, &collector);
    EXPECT_EQ(QorvexExtractCurrentFile(h.get(), nullptr), ENGINE_READ_FAILED);
    const std::vector<uint8_t> to_file = ReadFile(out);
    ASSERT_EQ(to_file.size(), big.size());
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + 4 * 2048, to_file.begin()));
    EXPECT_TRUE(std::all_of(to_file.begin() + 4 * 2048, to_file.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(collector.Joined(), std::vector<uint8_t>(big.begin(), big.begin() + 4 * 2048));
}

}  // namespace
}  // namespace qorvex::test
