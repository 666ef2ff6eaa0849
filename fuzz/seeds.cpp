#include "seeds.h"

#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/udf_builder.h"

namespace fuzz {

namespace {
using qorvex::test::Dir;
using qorvex::test::File;

std::vector<uint8_t> From(const std::vector<uint8_t> &image, size_t sector) {
    return std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(sector * 2048), image.end());
}
}  // namespace

std::map<std::string, std::vector<std::vector<uint8_t>>> MakeSeeds() {
    std::map<std::string, std::vector<std::vector<uint8_t>>> seeds;

    qorvex::test::IsoOptions joliet;
    joliet.joliet = true;
    const auto iso = qorvex::test::BuildIso(
        {Dir("DIR", {File("FILE.TXT;1", "hello"), Dir("SUB", {File("DEEP.BIN;1", qorvex::test::Pattern(5000))})}),
         File("ROOT.TXT;1", "root")},
        joliet);
    auto short_root = qorvex::test::BuildIso({Dir("A", {File("B.TXT;1", "b")})}, joliet);
    short_root.SetDataLength(short_root.iso.at("\\").record, 33);  // the path-table fallback
    auto &image = seeds["fuzz_image"];
    image.push_back(iso.bytes);
    for (int32_t format : {3, 6, 13, 15, 12}) image.push_back(qorvex::test::WrapSectors(iso.bytes, format));
    qorvex::test::RawOptions shifted;
    shifted.pregap = true;
    shifted.duplicate_sector = 18;
    image.push_back(qorvex::test::WrapSectors(iso.bytes, 3, shifted));
    seeds["fuzz_iso"] = {From(iso.bytes, 16), From(short_root.bytes, 16)};

    qorvex::test::UdfOptions udf;
    qorvex::test::UdfNode split = qorvex::test::UdfFileNode("SPLIT.BIN", std::string(9000, 's'));
    split.extents = 3;
    qorvex::test::UdfNode wide = qorvex::test::UdfFileNode("x", "wide name");
    wide.name = u"日本語.txt";
    wide.wide = true;
    udf.root.children = {
        qorvex::test::UdfFileNode("A.TXT", "hello"),
        qorvex::test::UdfFileNode("EMBED.TXT", "inside the entry", qorvex::test::UdfAd::Embedded),
        qorvex::test::UdfDirNode("DOCS", {qorvex::test::UdfFileNode("B.TXT", "x", qorvex::test::UdfAd::Long)}), split,
        wide};
    udf.space_bitmap = true;
    const auto volume = qorvex::test::BuildUdf(udf);
    image.push_back(volume.bytes);
    seeds["fuzz_udf"] = {From(volume.bytes, 19)};

    seeds["fuzz_decode"] = {
        {8, 'N', 'A', 'M', 'E'},
        {16, 0x65, 0xE5, 0x67, 0x2C},
        {0x1C, 0x12, 0xE4, 0x07, 5, 6, 7, 8, 9, 0, 0, 0, 0x31, 0x39, 0x39, 0x39, 0x31, 0x32, 0x33, 0x31},
    };
    return seeds;
}

}  // namespace fuzz
