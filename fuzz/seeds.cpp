#include "seeds.h"

#include "support/disc_builder.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace fuzz {

namespace {
using qorvex::test::Dir;
using qorvex::test::File;

// A fuzz_cue input: the sheet, a NUL, the bytes of the file it names.
std::vector<uint8_t> SheetInput(const std::string &sheet, const std::vector<uint8_t> &file) {
    std::vector<uint8_t> input(sheet.begin(), sheet.end());
    input.push_back(0);
    input.insert(input.end(), file.begin(), file.end());
    return input;
}

// The sheets of fuzz_cue, each naming only disc.bin / disc.wav.
void AddSheetSeeds(const std::vector<uint8_t> &iso, std::vector<std::vector<uint8_t>> &out) {
    using qorvex::test::Msf;
    const std::vector<uint8_t> data = qorvex::test::WrapSectors(iso, 3);
    const int64_t data_sectors = static_cast<int64_t>(iso.size() / 2048);
    std::vector<uint8_t> mixed = data;
    const std::vector<uint8_t> audio = qorvex::test::AudioPattern(40, 3);
    mixed.insert(mixed.end(), audio.begin(), audio.end());
    const std::string tracks = "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 " +
                               Msf(data_sectors) + "\n    INDEX 01 " + Msf(data_sectors + 10) + "\n";
    out.push_back(SheetInput("CATALOG 0000000000000\r\nFILE \"disc.bin\" BINARY\r\n" + tracks, mixed));
    out.push_back(
        SheetInput("REM SESSION 01\nFILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                   "REM SESSION 02\n  TRACK 02 MODE1/2352\n    INDEX 01 00:00:40\n",
                   [&] {
                       std::vector<uint8_t> extra = audio;
                       extra.insert(extra.end(), data.begin(), data.end());
                       return extra;
                   }()));
    std::vector<uint8_t> wave = qorvex::test::WavHeader(static_cast<uint32_t>(audio.size()));
    wave.insert(wave.end(), audio.begin(), audio.end());
    out.push_back(
        SheetInput("FILE disc.wav WAVE\n  TRACK 01 AUDIO\n    ISRC XX0000000000\n    PREGAP 00:00:30\n"
                   "    INDEX 01 00:00:00\n    INDEX 02 00:00:20\n    POSTGAP 00:00:05\n"
                   "FILE disc.bin MOTOROLA\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
                   wave));
    out.push_back(
        SheetInput("FILE C:\\rips\\DISC.BIN BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
                   "FILE disc.bin BINARY\n  TRACK 02 CDI/2336\n    INDEX 00 00:00:00\n    INDEX 01 00:00:02\n",
                   qorvex::test::WrapSectors(iso, 6)));
}

// The TOC files of fuzz_toc: a mixed disc as cdrdao read-cd writes it, and every kind of piece.
void AddTocSeeds(const std::vector<uint8_t> &iso, std::vector<std::vector<uint8_t>> &out) {
    std::vector<uint8_t> mixed = qorvex::test::WrapSectors(iso, 3);
    const std::string data_bytes = std::to_string(mixed.size());
    const std::vector<uint8_t> audio = qorvex::test::AudioPattern(40, 4);
    mixed.insert(mixed.end(), audio.begin(), audio.end());
    out.push_back(SheetInput("CD_ROM\nCATALOG \"0000000000000\"\nTRACK MODE1_RAW\nDATAFILE \"disc.bin\" " + data_bytes +
                                 "\nTRACK AUDIO\nISRC \"XX0000000000\"\nFILE \"disc.bin\" #" + data_bytes +
                                 " 0 00:00:20\nSTART 00:00:05\nINDEX 00:00:10\n"
                                 "TRACK AUDIO\nPREGAP 00:00:02\nFILE \"disc.bin\" #" +
                                 data_bytes + " 00:00:20\n",
                             mixed));
    std::vector<uint8_t> wave = qorvex::test::WavHeader(static_cast<uint32_t>(audio.size()));
    wave.insert(wave.end(), audio.begin(), audio.end());
    out.push_back(
        SheetInput("CD_DA\nCD_TEXT { LANGUAGE_MAP { 0 : EN } LANGUAGE 0 { TITLE \"t\" } }\n"
                   "TRACK AUDIO\nSILENCE 00:00:03\nFILE \"disc.wav\" 0\nZERO AUDIO 00:00:01\n"
                   "TRACK AUDIO RW_RAW\nAUDIOFILE \"disc.bin\" 0 1176\n",
                   wave));
    out.push_back(
        SheetInput("CD_ROM_XA\nTRACK MODE2_RAW\nDATAFILE \"disc.bin\"\nTRACK MODE2_FORM_MIX\n"
                   "DATAFILE \"disc.bin\" #0 4672\n",
                   qorvex::test::WrapSectors(iso, 6)));
}

// The control files of fuzz_ccd, written by the disc builder.
void AddCcdSeeds(const std::vector<uint8_t> &iso, std::vector<std::vector<uint8_t>> &out) {
    const qorvex::test::TempDir dir;
    using qorvex::test::MakeTrack;
    const std::vector<std::vector<qorvex::test::DiscTrack>> discs = {
        {MakeTrack(3, qorvex::test::WrapSectors(iso, 3)), MakeTrack(0, qorvex::test::AudioPattern(30, 5), 10)},
        {MakeTrack(0, qorvex::test::AudioPattern(20, 6)), MakeTrack(6, qorvex::test::WrapSectors(iso, 6), 150)},
    };
    for (const auto &disc : discs) {
        const std::string ccd = qorvex::test::WriteCcdDisc(dir.path(), "disc", disc);
        const std::vector<uint8_t> text = qorvex::test::ReadFile(ccd);
        out.push_back(SheetInput(std::string(text.begin(), text.end()), qorvex::test::ReadFile(dir / "disc.img")));
    }
}

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
    // Every stored format the probe recognises.
    for (int32_t format : {3, 5, 6, 7, 10, 12, 13, 15, 16, 17, 18})
        image.push_back(qorvex::test::WrapSectors(iso.bytes, format));
    qorvex::test::RawOptions shifted;
    shifted.pregap = true;
    shifted.duplicate_sector = 18;
    image.push_back(qorvex::test::WrapSectors(iso.bytes, 3, shifted));
    // A file in three extents, a hidden file, a Joliet name outside ASCII, a Joliet root that falls back
    // to the path table.
    qorvex::test::IsoNode split_iso = qorvex::test::File("SPLIT.BIN;1", qorvex::test::Pattern(6000));
    split_iso.extent_size = 2048;
    qorvex::test::IsoNode hidden = qorvex::test::File("HIDDEN.TXT;1", "h");
    hidden.hidden = true;
    qorvex::test::IsoNode named = qorvex::test::File("NAMED.TXT;1", "n");
    named.joliet = u"名前.txt";
    const auto varied = qorvex::test::BuildIso({split_iso, hidden, qorvex::test::Dir("X", {named})}, joliet);
    auto joliet_fallback = qorvex::test::BuildIso({Dir("J", {File("K.TXT;1", "k")})}, joliet);
    joliet_fallback.SetDataLength(joliet_fallback.joliet.at("\\").record, 33);
    image.push_back(varied.bytes);
    seeds["fuzz_iso"] = {From(iso.bytes, 16), From(short_root.bytes, 16), From(varied.bytes, 16),
                         From(joliet_fallback.bytes, 16)};

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
    // Long descriptors, extended attributes, a hidden file, a type 2 map, a space entry, two file sets.
    qorvex::test::UdfOptions other;
    qorvex::test::UdfNode attributes = qorvex::test::UdfFileNode("EA.TXT", "attributes", qorvex::test::UdfAd::Long);
    attributes.ea_length = 64;
    attributes.hidden = true;
    other.root.children = {
        attributes,
        qorvex::test::UdfDirNode("SUB", {qorvex::test::UdfFileNode("C", "c", qorvex::test::UdfAd::Embedded)})};
    other.type2_map = true;
    other.space_entry = true;
    other.file_sets = 2;
    other.nsr = "NSR03";
    const auto second = qorvex::test::BuildUdf(other);
    seeds["fuzz_udf"].push_back(From(second.bytes, 19));
    image.push_back(second.bytes);
    // An Extended File Entry, which refuses the volume unless a mutation turns it into a File Entry.
    qorvex::test::UdfOptions refused;
    qorvex::test::UdfNode extended = qorvex::test::UdfFileNode("EXT.TXT", "extended");
    extended.extended_entry = true;
    refused.root.children = {extended};
    seeds["fuzz_udf"].push_back(From(qorvex::test::BuildUdf(refused).bytes, 19));

    AddSheetSeeds(iso.bytes, seeds["fuzz_cue"]);
    AddTocSeeds(iso.bytes, seeds["fuzz_toc"]);
    AddCcdSeeds(iso.bytes, seeds["fuzz_ccd"]);

    seeds["fuzz_decode"] = {
        {8, 'N', 'A', 'M', 'E'},
        {16, 0x65, 0xE5, 0x67, 0x2C},
        {0x1C, 0x12, 0xE4, 0x07, 5, 6, 7, 8, 9, 0, 0, 0, 0x31, 0x39, 0x39, 0x39, 0x31, 0x32, 0x33, 0x31},
    };
    return seeds;
}

}  // namespace fuzz
