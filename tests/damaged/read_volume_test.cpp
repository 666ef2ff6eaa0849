// How much of an image a small extraction reads. A hostile or merely large image must not make every
// one-sector system part cost a large read.
#include <gtest/gtest.h>

#include "support/harness/damage_harness.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

TEST(ReadVolume, OneSectorPartsReadLittleOfTheImage) {
    qorvex::test::TempDir dir;
    MakeSourceTree(dir.path());
    std::vector<uint8_t> image = MakeWithTool(dir.path(), "genisoimage -quiet -udf -J -o {out} {src}");
    if (image.empty()) GTEST_SKIP() << "genisoimage is not installed";
    image.resize(image.size() + 2000 * 2048, 0);  // 4 MB of unused sectors behind the volume
    qorvex::test::WriteFile(dir / "big.iso", image);

    const std::string report = RunWatched([&] {
        return WithOpen(dir / "big.iso", 0, [](QorvexHandle h) {
            std::string out;
            for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF})
                ForEach(h, kind, true, [&](const EntryInfo &info) {
                    if (info.sectors != 1) return;
                    const int64_t before = BytesRead();
                    const int32_t result = QorvexExtractCurrentModule(h, nullptr);
                    const int64_t read = BytesRead() - before;
                    if (result != 0 || read > 64 * 1024)
                        out += std::string(info.name) + ": " + Code(result) + ", " + std::to_string(read) + " bytes\n";
                });
            return out;
        });
    });
    EXPECT_EQ(report, "") << "parts of one sector that failed or read more than 64 KiB";
}

}  // namespace
}  // namespace damaged
