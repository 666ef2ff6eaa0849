// Extraction to an output path takes a faster route than extraction to the callback (the data of 2048-byte
// images is copied inside the kernel, in runs); both must give the same result codes and bytes when the image
// ends inside an entry (whole images of every stored format are extracted both ways in image_tracks_test).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

struct Outcome {
    int32_t result = -1;
    std::vector<uint8_t> bytes;
};

// Extracts the entry named `name` of kind `kind` to a file and, separately, to the callback.
std::pair<Outcome, Outcome> ExtractBothWays(const std::string &image, const std::string &name, const TempDir &dir) {
    Opened h(image);
    EXPECT_TRUE(h) << std::hex << h.error();
    std::pair<Outcome, Outcome> both;
    if (!h) return both;
    const auto files = ListEntries(h.get(), 0, KIND_ISO9660);
    const auto it = std::find_if(files.begin(), files.end(), [&](const Listed &e) { return e.name() == name; });
    EXPECT_NE(it, files.end()) << name;
    if (it == files.end()) return both;
    const size_t index = static_cast<size_t>(it - files.begin());
    auto select = [&] {
        EntryInfo info;
        QorvexGetFileStart(h.get(), 0, KIND_ISO9660);
        for (size_t i = 0; i <= index; ++i) QorvexGetNextFile(h.get(), &info);
    };
    select();
    const std::string out = dir / "out.bin";
    both.first.result = QorvexExtractCurrentFile(h.get(), out.c_str());
    both.first.bytes = ReadFile(out);

    Collector collector;
    QorvexSetCallback(h.get(), Collector::Callback, &collector);
    select();
    both.second.result = QorvexExtractCurrentFile(h.get(), nullptr);
    both.second.bytes = collector.Joined();
    return both;
}

TEST(OutputPath, FileAndCallbackAgreeOnACutImage) {
    TempDir dir;
    const std::vector<uint8_t> big = Pattern(10 * 2048 + 700, 7);  // ends inside its 11th sector
    IsoImage iso = BuildIso({File("SMALL.TXT;1", "small"), File("BIG.BIN;1", big)});
    const IsoPlacement placed = iso.iso.at("\\BIG.BIN;1");

    // The image cut after four sectors of the file: both ways fail alike; the file keeps its full preset
    // length with the four sectors that were present and zeros after them.
    std::vector<uint8_t> cut(iso.bytes.begin(), iso.bytes.begin() + (placed.extent + 4) * 2048);
    WriteFile(dir / "cut.iso", cut);
    const auto [to_file, to_callback] = ExtractBothWays(dir / "cut.iso", "\\BIG.BIN;1", dir);
    EXPECT_EQ(to_file.result, ENGINE_READ_FAILED);
    EXPECT_EQ(to_callback.result, ENGINE_READ_FAILED);
    ASSERT_EQ(to_file.bytes.size(), big.size());
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + 4 * 2048, to_file.bytes.begin()));
    EXPECT_TRUE(std::all_of(to_file.bytes.begin() + 4 * 2048, to_file.bytes.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(to_callback.bytes, std::vector<uint8_t>(big.begin(), big.begin() + 4 * 2048));
}

}  // namespace
}  // namespace qorvex::test
