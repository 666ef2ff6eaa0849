#include "seeds.h"

#include <algorithm>
#include <cstdio>

#include "support/bytes.h"
#include "support/container_writers.h"
#include "support/dat_builder.h"
#include "support/descriptor_writers.h"
#include "support/disc_builder.h"
#include "support/eltorito_builder.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/susp_entries.h"
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
    const std::vector<uint8_t> audio = qorvex::test::AudioPattern(3, 3);
    mixed.insert(mixed.end(), audio.begin(), audio.end());
    const std::string tracks = "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 " +
                               Msf(data_sectors) + "\n    INDEX 01 " + Msf(data_sectors + 2) + "\n";
    out.push_back(SheetInput("CATALOG 0000000000000\r\nFILE \"disc.bin\" BINARY\r\n" + tracks, mixed));
    out.push_back(
        SheetInput("REM SESSION 01\nFILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                   "REM SESSION 02\n  TRACK 02 MODE1/2352\n    INDEX 01 00:00:04\n",
                   [&] {
                       std::vector<uint8_t> extra = audio;
                       extra.insert(extra.end(), data.begin(), data.end());
                       return extra;
                   }()));
    // CD-TEXT: the file beside the sheet starts with the packs (the track reads past them).
    std::vector<uint8_t> text = qorvex::test::CdTextPacks({{"Disc", "Band"}, {"One", "\t"}}, true);
    const std::vector<uint8_t> short_audio = qorvex::test::AudioPattern(2, 4);
    text.insert(text.end(), short_audio.begin(), short_audio.end());
    out.push_back(
        SheetInput("CDTEXTFILE disc.wav\nFILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", text));
    std::vector<uint8_t> wave = qorvex::test::WavHeader(static_cast<uint32_t>(audio.size()));
    wave.insert(wave.end(), audio.begin(), audio.end());
    out.push_back(
        SheetInput("FILE disc.wav WAVE\n  TRACK 01 AUDIO\n    ISRC XX0000000000\n    PREGAP 00:00:30\n"
                   "    INDEX 01 00:00:00\n    INDEX 02 00:00:02\n    POSTGAP 00:00:05\n"
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
    const std::vector<uint8_t> audio = qorvex::test::AudioPattern(8, 4);
    mixed.insert(mixed.end(), audio.begin(), audio.end());
    out.push_back(SheetInput("CD_ROM\nCATALOG \"0000000000000\"\nTRACK MODE1_RAW\nDATAFILE \"disc.bin\" " + data_bytes +
                                 "\nTRACK AUDIO\nISRC \"XX0000000000\"\nFILE \"disc.bin\" #" + data_bytes +
                                 " 0 00:00:04\nSTART 00:00:01\nINDEX 00:00:02\n"
                                 "TRACK AUDIO\nPREGAP 00:00:02\nFILE \"disc.bin\" #" +
                                 data_bytes + " 00:00:04\n",
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
        {MakeTrack(3, qorvex::test::WrapSectors(iso, 3)), MakeTrack(0, qorvex::test::AudioPattern(1, 5), 1)},
        {MakeTrack(0, qorvex::test::AudioPattern(2, 6)), MakeTrack(6, qorvex::test::WrapSectors(iso, 6), 1)},
    };
    for (const auto &disc : discs) {
        const std::string ccd = qorvex::test::WriteCcdDisc(dir.path(), "disc", disc);
        const std::vector<uint8_t> text = qorvex::test::ReadFile(ccd);
        out.push_back(SheetInput(std::string(text.begin(), text.end()), qorvex::test::ReadFile(dir / "disc.img")));
    }
    // Two sessions, and the disc's CD-TEXT as [CDText] entries.
    const std::string ccd = qorvex::test::WriteCcdDisc(
        dir.path(), "disc",
        {MakeTrack(0, qorvex::test::AudioPattern(2, 7)), MakeTrack(3, qorvex::test::WrapSectors(iso, 3), 0, 2)});
    const std::vector<uint8_t> bytes = qorvex::test::ReadFile(ccd);
    const std::vector<uint8_t> packs = qorvex::test::CdTextPacks({{"Disc", "Band"}, {"One", "Singer"}}, false);
    std::string text(bytes.begin(), bytes.end());
    text += "[CDText]\nEntries=" + std::to_string(packs.size() / 18) + "\n";
    for (size_t at = 0; at < packs.size(); at += 18) {
        text += "Entry " + std::to_string(at / 18) + "=";
        for (size_t i = 0; i < 16; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", packs[at + i]);
            text += hex;
        }
        text += "\n";
    }
    out.push_back(SheetInput(text, qorvex::test::ReadFile(dir / "disc.img")));
}

// The Nero images of fuzz_nrg, written by the disc builder in each form: a mixed disc, a data disc and a
// two-session disc, kept small.
void AddNrgSeeds(const std::vector<uint8_t> &iso, std::vector<std::vector<uint8_t>> &out) {
    const qorvex::test::TempDir dir;
    using qorvex::test::MakeTrack;
    using qorvex::test::NrgForm;
    const std::vector<uint8_t> head(iso.begin(), iso.begin() + std::min<size_t>(iso.size(), 20 * 2048));
    const std::vector<std::vector<qorvex::test::DiscTrack>> discs = {
        {MakeTrack(3, qorvex::test::WrapSectors(head, 3), 2), MakeTrack(0, qorvex::test::AudioPattern(2, 5), 3)},
        {MakeTrack(9, iso, 4)},
        {MakeTrack(0, qorvex::test::AudioPattern(2, 6)), MakeTrack(6, qorvex::test::WrapSectors(head, 6), 0, 2)},
        {MakeTrack(0, qorvex::test::AudioPattern(8, 7), 2), MakeTrack(0, qorvex::test::AudioPattern(6, 8))},
    };
    // The last disc: pregaps the image does not hold (track 1 at sector 150), and CD-TEXT.
    std::vector<std::vector<qorvex::test::DiscTrack>> gapped = discs;
    gapped.back()[0].absent_pregap = 150;
    gapped.back()[1].absent_pregap = 3;
    const std::vector<uint8_t> text = qorvex::test::CdTextPacks({{"Disc", "Band"}, {"One", "\t"}, {"Two", "\t"}}, true);
    for (size_t d = 0; d < gapped.size(); ++d)
        for (NrgForm form : {NrgForm::kDaoV2, NrgForm::kDaoV1, NrgForm::kTaoV2})
            out.push_back(qorvex::test::ReadFile(qorvex::test::WriteNrgDisc(
                dir.path(), "disc", gapped[d], form, d + 1 == gapped.size() ? text : std::vector<uint8_t>())));
}

// The descriptors of fuzz_mds, written by the descriptor writer: a mixed disc with pregaps held and not, two
// sessions, subchannel sectors, Mode 2 sectors, a DVD, an image in parts and UTF-16 names.
void AddMdsSeeds(const std::vector<uint8_t> &iso, std::vector<std::vector<uint8_t>> &out) {
    const qorvex::test::TempDir dir;
    using qorvex::test::MakeTrack;
    using qorvex::test::MdsForm;
    const std::vector<uint8_t> head(iso.begin(), iso.begin() + std::min<size_t>(iso.size(), 20 * 2048));
    const auto audio = [](int32_t sectors, uint32_t seed) { return qorvex::test::AudioPattern(sectors, seed); };
    const std::vector<qorvex::test::DiscTrack> mixed = {MakeTrack(3, qorvex::test::WrapSectors(head, 3)),
                                                        MakeTrack(0, audio(2, 5), 3)};
    MdsForm apart, parts, wide, dvd;
    apart.pregaps_held = false;
    parts.parts = 2;
    wide.wide_names = true;
    dvd.dvd = true;
    const struct {
        std::vector<qorvex::test::DiscTrack> tracks;
        MdsForm form;
    } discs[] = {
        {mixed, {}},
        {mixed, apart},
        {{MakeTrack(0, audio(2, 6)), MakeTrack(6, qorvex::test::WrapSectors(head, 6), 0, 2)}, wide},
        {{MakeTrack(15, qorvex::test::WrapSectors(head, 15)), MakeTrack(14, qorvex::test::Pattern(2 * 2448, 7))},
         parts},
        {{MakeTrack(10, qorvex::test::WrapSectors(head, 10))}, {}},
        {{MakeTrack(9, iso)}, dvd},
    };
    for (const auto &d : discs)
        out.push_back(qorvex::test::ReadFile(qorvex::test::WriteMdsDisc(dir.path(), "disc", d.tracks, d.form)));
}

// The DiscJuggler descriptors of fuzz_cdi in each version, behind the offset where the sectors end: an audio
// session and a Mode 2 data session, a Mode 1 disc, and a mixed disc with subchannel sectors.
void AddCdiSeeds(const std::vector<uint8_t> &iso, std::vector<std::vector<uint8_t>> &out) {
    const qorvex::test::TempDir dir;
    using qorvex::test::CdiVersion;
    using qorvex::test::MakeTrack;
    const std::vector<uint8_t> head(iso.begin(), iso.begin() + std::min<size_t>(iso.size(), 20 * 2048));
    const std::vector<std::vector<qorvex::test::DiscTrack>> discs = {
        {MakeTrack(0, qorvex::test::AudioPattern(4, 5)), MakeTrack(13, qorvex::test::WrapSectors(head, 13), 0, 2)},
        {MakeTrack(9, head)},
        {MakeTrack(15, qorvex::test::WrapSectors(head, 15)), MakeTrack(14, qorvex::test::Pattern(2 * 2448, 7), 2)},
    };
    for (const auto &disc : discs)
        for (CdiVersion version : {CdiVersion::k2, CdiVersion::k3, CdiVersion::k35}) {
            const std::vector<uint8_t> image =
                qorvex::test::ReadFile(qorvex::test::WriteCdiDisc(dir.path(), "disc", disc, version));
            // The descriptor follows the sectors: where, the last word says (3.5: counted from the end).
            const size_t word = qorvex::test::Get32Le(&image[image.size() - 4]);
            const size_t sectors = version == CdiVersion::k35 ? image.size() - word : word;
            std::vector<uint8_t> input(8);
            for (size_t i = 0; i < 8; ++i) input[i] = static_cast<uint8_t>(sectors >> (8 * i));
            input.insert(input.end(), image.begin() + static_cast<std::ptrdiff_t>(sectors), image.end());
            out.push_back(std::move(input));
        }
}

// The sheet text of a pipeline sheet input (everything before its first NUL): a parser-level input.
std::vector<std::vector<uint8_t>> SheetTexts(const std::vector<std::vector<uint8_t>> &inputs) {
    std::vector<std::vector<uint8_t>> texts;
    for (const auto &input : inputs)
        texts.emplace_back(input.begin(), std::find(input.begin(), input.end(), uint8_t{0}));
    return texts;
}

// The chunk chain of a Nero image behind its footer's offset (64-bit, big-endian): a fuzz_nrg_chunks input.
std::vector<uint8_t> NrgChain(const std::vector<uint8_t> &image) {
    const bool v2 = image.size() >= 12 && std::equal(image.end() - 12, image.end() - 8, "NER5");
    const size_t footer = image.size() - (v2 ? 12 : 8);
    uint64_t offset = 0;
    for (size_t i = footer + 4; i < image.size(); ++i) offset = offset << 8 | image[i];
    std::vector<uint8_t> input(8);
    for (size_t i = 0; i < 8; ++i) input[i] = static_cast<uint8_t>(offset >> (56 - 8 * i));
    input.insert(input.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                 image.begin() + static_cast<std::ptrdiff_t>(footer));
    return input;
}

// System use areas of fuzz_susp_entries: a flag byte (1: the root's "." record), then the area.
std::vector<std::vector<uint8_t>> SuspAreas() {
    namespace susp = qorvex::test::susp;
    const std::vector<uint8_t> stamp = {120, 5, 6, 7, 8, 9, 0};
    const std::vector<uint8_t> long_stamp = {'2', '0', '2', '0', '0', '1', '0', '2', '0',
                                             '3', '0', '4', '0', '5', '0', '6', 4};
    const std::vector<std::vector<uint8_t>> areas = {
        susp::Join({{1}, susp::Sp(), susp::Px(040755, 3), susp::Ce(20, 0, 100), susp::Er()}),
        susp::Join({{0},
                    susp::Px(0100755, 1, 1000, 100, 7),
                    susp::Nm("long name ", 1),
                    susp::Nm("continued"),
                    susp::Tf(0x0F, {stamp, stamp, stamp, stamp})}),
        susp::Join({{0}, susp::Px(0100600), susp::Nm("b"), susp::Tf(0x86, {long_stamp, long_stamp})}),
        susp::Join({{0}, susp::Px(0020644), susp::Nm("dev"), susp::Pn(0x0000000100000002ull), susp::Zf(40000)}),
        susp::Join({{0},
                    susp::Px(0120777),
                    susp::Nm("link"),
                    susp::Sl({{0x08, ""}, {0, "usr"}, {0x01, "li"}}, 0x01),
                    susp::Sl({{0, "b"}, {0x04, ""}, {0x02, ""}})}),
        susp::Join({{0}, susp::Nm("place"), susp::Cl(30), susp::Re(), susp::St(), susp::Nm("unread")}),
        susp::Join({{0}, susp::Nm("", 0x02), susp::Nm("", 0x04), susp::Entry("PL", {30, 0, 0, 0, 0, 0, 0, 30})}),
    };
    return areas;
}

// The sector records of the parser-level volume targets (fuzz::LaySectors): the input of a pipeline target laid
// from sector `first` of a track of at least `sectors` sectors, as one record per sector that holds anything
// (its trailing zeros left out) and one for the last sector, which keeps the track's length.
std::vector<uint8_t> SectorRecords(const std::vector<uint8_t> &input, size_t first, size_t sectors) {
    const size_t end = std::max(sectors, first + (input.size() + 2047) / 2048);
    std::vector<uint8_t> records;
    for (size_t s = first; s < end; ++s) {
        const size_t at = (s - first) * 2048;
        size_t used = at < input.size() ? std::min<size_t>(2048, input.size() - at) : 0;
        while (used > 0 && input[at + used - 1] == 0) --used;
        if (used == 0 && s + 1 < end) continue;
        const uint8_t head[4] = {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(used),
                                 static_cast<uint8_t>(used >> 8)};
        records.insert(records.end(), head, head + 4);
        records.insert(records.end(), input.begin() + static_cast<std::ptrdiff_t>(at),
                       input.begin() + static_cast<std::ptrdiff_t>(at + used));
    }
    return records;
}

std::vector<std::vector<uint8_t>> AllSectorRecords(const std::vector<std::vector<uint8_t>> &inputs, size_t first,
                                                   size_t sectors) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto &input : inputs) out.push_back(SectorRecords(input, first, sectors));
    return out;
}

std::vector<uint8_t> From(const std::vector<uint8_t> &image, size_t sector) {
    return std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(sector * 2048), image.end());
}
// Rock Ridge: every entry the reader knows, a continuation area holding ER, a relocated folder and its place.
std::vector<uint8_t> RockRidgeSeed() {
    namespace susp = qorvex::test::susp;
    using qorvex::test::IsoNode;
    auto rr = [](IsoNode node, uint32_t mode, const std::vector<uint8_t> &extra) {
        node.system_use = susp::Join({susp::Px(mode, 1, 1000, 100, 7), extra});
        return node;
    };
    const std::vector<uint8_t> stamp = {120, 5, 6, 7, 8, 9, 0};
    const std::vector<uint8_t> long_stamp = {'2', '0', '2', '0', '0', '1', '0', '2', '0',
                                             '3', '0', '4', '0', '5', '0', '6', 4};
    std::vector<uint8_t> real(40000, 0);
    for (size_t i = 0; i < 5000; ++i) real[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> zisofs = susp::Zisofs(real);  // a block of data, then one of zeros
    IsoNode moved = rr(Dir("DEEP", {rr(File("IN.TXT;1", "inside"), 0100644, susp::Nm("inside.txt"))}), 040755,
                       susp::Join({susp::Nm("deep"), susp::Re()}));
    moved.self_system_use = susp::Px(040700, 2);
    const std::vector<IsoNode> root = {
        rr(File("A.TXT;1", "hello"), 0100755,
           susp::Join(
               {susp::Nm("long name ", 1), susp::Nm("continued"), susp::Tf(0x0F, {stamp, stamp, stamp, stamp})})),
        rr(File("B.TXT;1", "b"), 0100600, susp::Join({susp::Nm("b"), susp::Tf(0x86, {long_stamp, long_stamp})})),
        rr(File("DEV.;1", ""), 0020644, susp::Join({susp::Nm("dev"), susp::Pn(0x0000000100000002ull)})),
        rr(File("Z.TXT;1", zisofs), 0100644, susp::Join({susp::Nm("z"), susp::Zf(40000)})),
        rr(File("LINK.;1", ""), 0120777,
           susp::Join({susp::Nm("link"), susp::Sl({{0x08, ""}, {0, "usr"}, {0x01, "li"}}, 0x01),
                       susp::Sl({{0, "b"}, {0x04, ""}, {0x02, ""}})})),
        rr(File("PLACE.;1", ""), 0040755, susp::Join({susp::Nm("place"), susp::Cl(0)})),
        rr(Dir("RR_MOVED", {moved}), 040755, susp::Nm("rr_moved")),
        rr(File("E.TXT;1", "e"), 0100644, susp::Join({susp::St(), susp::Nm("unread")})),
    };
    qorvex::test::IsoOptions options;
    options.root_system_use = susp::Join({susp::Sp(), susp::Px(040755, 3), susp::Ce(0, 0, 0)});
    options.trailing_sectors = 2;
    qorvex::test::IsoImage image = qorvex::test::BuildIso(root, options);
    const size_t cl = susp::EntryAt(image, image.iso.at("\\PLACE.;1").record, "CL");
    image.Put32Both(cl + 4, image.iso.at("\\RR_MOVED\\DEEP\\").extent);
    const uint32_t area = image.Sectors() - 2;
    const std::vector<uint8_t> er = susp::Er();
    std::copy(er.begin(), er.end(), image.bytes.begin() + static_cast<std::ptrdiff_t>(area) * 2048);
    const size_t ce = susp::EntryAt(image, image.iso.at("\\").extent * size_t{2048}, "CE");
    image.Put32Both(ce + 4, area);
    image.Put32Both(ce + 20, static_cast<uint32_t>(er.size()));
    return image.bytes;
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
    // The wrapped formats and the sheets' data tracks hold the smallest volume, so that their inputs stay small.
    const std::vector<uint8_t> tiny = qorvex::test::BuildIso({File("A.TXT;1", "a")}).bytes;
    auto &image = seeds["fuzz_image"];
    image.push_back(iso.bytes);
    // Every stored format the probe recognises.
    for (int32_t format : {3, 5, 6, 7, 10, 12, 13, 15, 16, 17, 18})
        image.push_back(qorvex::test::WrapSectors(tiny, format));
    qorvex::test::RawOptions shifted;
    shifted.pregap = true;
    shifted.duplicate_sector = 18;
    image.push_back(qorvex::test::WrapSectors(tiny, 3, shifted));
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
    // UDF 2.x: every map kind with extended entries, a spared packet, a strategy 4096 entry. The harness
    // writes an anchor over the last sector, so a virtual partition gets one more sector after its VAT.
    using qorvex::test::UdfMapping;
    for (UdfMapping mapping : {UdfMapping::Virtual, UdfMapping::Sparable, UdfMapping::Metadata}) {
        qorvex::test::UdfOptions layered;
        layered.mapping = mapping;
        layered.all_extended = true;
        layered.nsr = "NSR03";
        if (mapping == UdfMapping::Sparable) {
            layered.partition_start = 320;
            layered.packet_length = 16;
            layered.spared_packets = {16};
        }
        qorvex::test::UdfNode versioned = qorvex::test::UdfFileNode("V.TXT", "first");
        versioned.newer_data = "second";
        qorvex::test::UdfNode split_long = qorvex::test::UdfFileNode("S.BIN", std::string(5000, 'l'));
        split_long.extents = 2;
        layered.root.children = {
            versioned, split_long,
            qorvex::test::UdfDirNode("D", {qorvex::test::UdfFileNode("E", "e", qorvex::test::UdfAd::Embedded)})};
        std::vector<uint8_t> bytes = From(qorvex::test::BuildUdf(layered).bytes, 19);
        if (mapping == UdfMapping::Virtual) bytes.resize(bytes.size() + 2048, 0);
        seeds["fuzz_udf"].push_back(bytes);
    }

    // Boot catalogues: a BIOS image with EFI and Mac sections (one entry with extensions), a floppy, a hard
    // disk with a partition table, and an EFI image whose placeholder load size leaves its FAT to tell its size.
    auto &boot = seeds["fuzz_eltorito"];
    auto bootable = [&](const std::vector<qorvex::test::BootSection> &sections) {
        auto volume = qorvex::test::BuildIso({File("A.TXT;1", "a")}, qorvex::test::BootDescriptors());
        qorvex::test::AddBootCatalogue(volume, sections);
        boot.push_back(From(volume.bytes, 16));
    };
    qorvex::test::BootImageSpec plain, selected, floppy, disk, efi;
    selected.extensions = 2;
    floppy.media = 2;
    disk.media = 4;
    disk.sector_count = 1;
    disk.data.assign(4096, 0);
    disk.data[446 + 4] = 0x83, disk.data[446 + 8] = 1, disk.data[446 + 12] = 7;
    disk.data[510] = 0x55, disk.data[511] = 0xAA;
    efi.sector_count = 1;
    efi.data.assign(4096, 0);
    efi.data[0] = 0xEB, efi.data[12] = 2, efi.data[13] = 1, efi.data[14] = 1, efi.data[16] = 2, efi.data[19] = 8;
    efi.data[510] = 0x55, efi.data[511] = 0xAA;
    bootable({{0x00, {plain}}, {0xEF, {efi, plain}}, {0x02, {selected}}});
    bootable({{0x00, {floppy}}});
    bootable({{0x00, {disk}}, {0x01, {plain}}});
    bootable({{0xEF, {efi}}});
    const std::vector<uint8_t> rock_ridge = RockRidgeSeed();
    image.push_back(rock_ridge);
    seeds["fuzz_susp"] = {From(rock_ridge, 16)};

    AddSheetSeeds(tiny, seeds["fuzz_cue"]);
    AddTocSeeds(tiny, seeds["fuzz_toc"]);
    AddCcdSeeds(tiny, seeds["fuzz_ccd"]);
    AddNrgSeeds(tiny, seeds["fuzz_nrg"]);
    AddMdsSeeds(tiny, seeds["fuzz_mds"]);
    AddCdiSeeds(tiny, seeds["fuzz_cdi"]);

    // The parser-level targets: the same structures without the pipeline around them.
    seeds["fuzz_cue_sheet"] = SheetTexts(seeds["fuzz_cue"]);
    seeds["fuzz_cue_sheet"].push_back(SheetTexts(
        {SheetInput("CDTEXTFILE disc.cdt\nFILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", {})})[0]);
    seeds["fuzz_toc_sheet"] = SheetTexts(seeds["fuzz_toc"]);
    seeds["fuzz_ccd_sheet"] = SheetTexts(seeds["fuzz_ccd"]);
    for (const auto &image : seeds["fuzz_nrg"]) seeds["fuzz_nrg_chunks"].push_back(NrgChain(image));
    seeds["fuzz_cd_text"] = {qorvex::test::CdTextPacks({{"Disc", "Band"}, {"One", "\t"}, {"Two", "Other"}}, true),
                             qorvex::test::CdTextPacks({{"Disc", "Band"}, {"One", "Singer"}}, false)};
    {
        const std::vector<uint8_t> packs = qorvex::test::CdTextPacks({{"Disc", "Band"}, {"One", "Singer"}}, false);
        std::string entries;
        for (size_t at = 0; at < packs.size(); at += 18) {
            for (size_t i = 0; i < 16; ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x ", packs[at + i]);
                entries += hex;
            }
            entries += "\n";
        }
        seeds["fuzz_cd_text"].emplace_back(entries.begin(), entries.end());
    }
    seeds["fuzz_iso_volume"] = AllSectorRecords(seeds["fuzz_iso"], 16, 24);
    seeds["fuzz_rock_ridge"] = AllSectorRecords(seeds["fuzz_susp"], 16, 24);
    seeds["fuzz_boot_catalogue"] = AllSectorRecords(seeds["fuzz_eltorito"], 16, 24);
    seeds["fuzz_susp_entries"] = SuspAreas();
    const auto udf_seeds = AllSectorRecords(seeds["fuzz_udf"], 19, 258);
    seeds["fuzz_udf_volume"].assign(udf_seeds.begin(), udf_seeds.begin() + 3);
    seeds["fuzz_udf_maps"].assign(udf_seeds.begin() + 3, udf_seeds.end());

    // DATs whose entries the target's two tracks match (the first whole, the second by CRC and size).
    const std::string dat = qorvex::test::DatXml(
        "Seeds & Co", {{"Other", {{"Other.bin", 2352, "ffffffff", "", ""}}},
                       {"Disc (Track 1)",
                        {{"Disc.cue", 90, "00000000", "", ""},
                         {"Disc (Track 1).bin", 2352, "01234567", "0123456789abcdef0123456789abcdef",
                          "0123456789abcdef0123456789abcdef01234567"},
                         {"Disc (Track 2).bin", 4704, "89abcdef", "", ""}}}});
    std::string machine = dat;
    machine.replace(machine.find("<game"), 5, "<!-- --><machine");
    machine.replace(machine.find("</game>"), 7, "<![CDATA[x]]></machine>");
    seeds["fuzz_dat"] = {std::vector<uint8_t>(dat.begin(), dat.end()),
                         std::vector<uint8_t>(machine.begin(), machine.end())};

    // Sectors of each checked kind after their format's number, one with a byte its parity mends.
    const auto sector_seed = [](int32_t format, bool form2 = false) {
        std::vector<uint8_t> seed = qorvex::test::MakeSector(format, 0, nullptr, form2);
        seed.insert(seed.begin(), static_cast<uint8_t>(format));
        return seed;
    };
    for (int32_t format : {3, 6, 13, 15}) seeds["fuzz_sector"].push_back(sector_seed(format));
    seeds["fuzz_sector"].push_back(sector_seed(6, true));
    seeds["fuzz_sector"].push_back(seeds["fuzz_sector"][0]);
    seeds["fuzz_sector"].back()[1001] ^= 1;

    // The containers: an ECM of the smallest volume in Mode 1 and Mode 2 Form 1 sectors, an ISZ of it in every
    // chunk kind; for salvage, a volume and the same cut short.
    using qorvex::test::IszChunk;
    seeds["fuzz_ecm"] = {qorvex::test::EncodeEcm(qorvex::test::WrapSectors(tiny, 3)),
                         qorvex::test::EncodeEcm(qorvex::test::WrapSectors(tiny, 6))};
    // The volume's first 16 sectors are zeros, so in chunks of one sector its descriptors and folders come out
    // stored, deflated and bzip2'd (a kZeros kind would blank whatever chunk it falls on); in chunks of 8 sectors
    // the last holds all of them, deflated.
    seeds["fuzz_isz"] = {qorvex::test::EncodeIsz(tiny, 2048, {IszChunk::kZlib, IszChunk::kStored, IszChunk::kBzip2}),
                         qorvex::test::EncodeIsz(tiny, 8 * 2048, {IszChunk::kZlib})};
    // A UDF volume cut a few blocks into its partition (its recorded end told against the held one), and a raw
    // volume whose last sector fails its EDC.
    qorvex::test::RawOptions bad_edc;
    bad_edc.corrupt_edc_sector = static_cast<int32_t>(tiny.size() / 2048) - 1;
    seeds["fuzz_salvage"] = {
        tiny, std::vector<uint8_t>(tiny.begin(), tiny.begin() + tiny.size() * 2 / 3),
        std::vector<uint8_t>(volume.bytes.begin(), volume.bytes.begin() + (volume.layout.partition_start + 3) * 2048),
        qorvex::test::WrapSectors(tiny, 3, bad_edc)};
    // CHD: the volume as a raw image (deflated or zstd, stored and repeated hunks), and as a CD of raw Mode 1 frames.
    using qorvex::test::ChdHunk;
    const std::vector<ChdHunk> chd_kinds = {
        {ChdHunk::kZlib}, {ChdHunk::kStored}, {ChdHunk::kSelf, 0}, {ChdHunk::kZlib}};
    qorvex::test::ChdLayout v4;
    v4.version = 4;
    seeds["fuzz_chd"] = {qorvex::test::EncodeChd(tiny, chd_kinds, {}),
                         qorvex::test::EncodeChd(tiny, {{ChdHunk::kMini}, {ChdHunk::kStored}, {ChdHunk::kZlib}}, v4)};
    qorvex::test::ChdLayout zstd;
    zstd.zstd = true;
    seeds["fuzz_chd"].push_back(qorvex::test::EncodeChd(tiny, chd_kinds, zstd));
    {
        const std::vector<uint8_t> raw = qorvex::test::WrapSectors(tiny, 3);
        std::vector<uint8_t> frames;
        for (size_t at = 0; at < raw.size(); at += 2352) {
            frames.insert(frames.end(), raw.begin() + static_cast<ptrdiff_t>(at),
                          raw.begin() + static_cast<ptrdiff_t>(at + 2352));
            frames.resize(frames.size() + 96);
        }
        qorvex::test::ChdLayout cd;
        cd.hunk_bytes = 4 * 2448;
        cd.unit_bytes = 2448;
        cd.metadata = {{"CHT2", "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:" + std::to_string(raw.size() / 2352) +
                                    " PREGAP:0 PGTYPE:MODE1 PGSUB:NONE POSTGAP:0"}};
        seeds["fuzz_chd"].push_back(qorvex::test::EncodeChd(frames, {{ChdHunk::kZlib}}, cd));
        // In the CD codecs of deflate and zstd, the sectors' sync and parity left out; the second followed by an
        // audio track, the chain naming the tracks out of order.
        cd.cd_codec = true;
        seeds["fuzz_chd"].push_back(qorvex::test::EncodeChd(frames, {{ChdHunk::kZlib}}, cd));
        cd.zstd = true;
        cd.metadata.insert(
            cd.metadata.begin(),
            {"CHT2", "TRACK:2 TYPE:AUDIO SUBTYPE:NONE FRAMES:4 PREGAP:0 PGTYPE:MODE1 PGSUB:NONE POSTGAP:0"});
        std::vector<uint8_t> with_audio = frames;
        with_audio.resize(frames.size() + 4 * 2448, 0x11);
        seeds["fuzz_chd"].push_back(
            qorvex::test::EncodeChd(with_audio, {{ChdHunk::kZlib}, {ChdHunk::kStored}, {ChdHunk::kZlib}}, cd));
        cd.zstd = cd.cd_codec = false;
        // The same frames as a GD-ROM track followed by four frames of padding.
        frames.resize(frames.size() + 4 * 2448);
        cd.metadata = {{"CHGD", "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:" + std::to_string(raw.size() / 2352 + 4) +
                                    " PAD:4 PREGAP:0 PGTYPE:MODE1 PGSUB:NONE POSTGAP:0"}};
        seeds["fuzz_chd"].push_back(qorvex::test::EncodeChd(frames, {{ChdHunk::kZlib}}, cd));
    }
    // The codecs the writer lacks, from chdman where it is installed: the volume as a raw CHD in Huffman, FLAC
    // and LZMA hunks, and as a CD track of the volume in Mode 1 sectors in cdlz and cdfl.
    if (qorvex::test::HaveProgram("chdman")) {
        qorvex::test::TempDir dir;
        // The CD's last 40 frames are zeros, so its map holds copies too (chdman 0.251 makes files it cannot
        // read again when every hunk of a CD is cdfl).
        std::vector<uint8_t> bin = qorvex::test::WrapSectors(tiny, 3);
        bin.resize(64 * 2352);
        qorvex::test::WriteFile(dir / "v.iso", tiny);
        qorvex::test::WriteFile(dir / "v.bin", bin);
        qorvex::test::WriteFile(dir / "v.cue", "FILE \"v.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
        for (const char *command :
             {"createraw -hs 8192 -us 2048 -c huff -i v.iso", "createraw -hs 8192 -us 2048 -c flac -i v.iso",
              "createraw -hs 8192 -us 2048 -c lzma -i v.iso", "createcd -c cdlz -i v.cue",
              "createcd -c cdfl -i v.cue"}) {
            if (qorvex::test::RunCommand("cd '" + dir.path() + "' && chdman " + command +
                                         " -f -o v.chd >/dev/null 2>&1") == 0)
                seeds["fuzz_chd"].push_back(qorvex::test::ReadFile(dir / "v.chd"));
            else
                std::fprintf(stderr, "seeds: chdman %s failed\n", command);
        }
    }
    // The readers alone start from the same files.
    seeds["fuzz_chd_hunks"] = seeds["fuzz_chd"];
    seeds["fuzz_ecm_records"] = seeds["fuzz_ecm"];
    seeds["fuzz_isz_chunks"] = seeds["fuzz_isz"];
    seeds["fuzz_decode"] = {
        {8, 'N', 'A', 'M', 'E'},
        {16, 0x65, 0xE5, 0x67, 0x2C},
        {0x1C, 0x12, 0xE4, 0x07, 5, 6, 7, 8, 9, 0, 0, 0, 0x31, 0x39, 0x39, 0x39, 0x31, 0x32, 0x33, 0x31},
    };
    return seeds;
}

}  // namespace fuzz
