// Real images cut short and damaged, opened with OPEN_SALVAGE: everything the held structures describe is listed,
// a file whose sectors are not all there is marked with exactly the bytes it lacks, and every byte given is the
// source's (a missing one given as zero only when asked for).
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <tuple>

#include "qorvex_ext.h"
#include "support/disc_builder.h"
#include "support/harness/damage_harness.h"
#include "support/peers.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace damaged {
namespace {

using qorvex::test::TempDir;
using qorvex::test::UdfMapping;

// How the sectors are stored: a plain image, or the data file of a CloneCD (with .sub), Nero, or per-track cue
// image (an audio track after it, its pregap at the tail of the data track's file).
enum class Box { kPlain, kCcd, kNrg, kCue };
struct Source {
    const char *name;
    const char *command;  // null: the project's UDF 2.x builder with `mapping`
    int32_t format;       // 9: the tool's own 2048-byte image
    Box box = Box::kPlain;
    UdfMapping mapping = UdfMapping::Physical;
};

const Source kSources[] = {
    {"genisoimage_ISO_Joliet_UDF", "genisoimage -quiet -udf -J -iso-level 3 -V BRIDGE -o {out} {src}", 9},
    {"xorriso_Rock_Ridge_Joliet", "xorriso -as mkisofs -quiet -R -J -o {out} {src}", 9},
    {"genisoimage_in_MODE1_2352", "genisoimage -quiet -udf -J -o {out} {src}", 3},
    {"xorriso_in_MODE1_2448", "xorriso -as mkisofs -quiet -J -o {out} {src}", 15},
    {"genisoimage_in_MODE2FORM1_2448", "genisoimage -quiet -udf -J -o {out} {src}", 17},
    {"UDF_metadata_partition", nullptr, 9, Box::kPlain, UdfMapping::Metadata},
    {"UDF_VAT", nullptr, 9, Box::kPlain, UdfMapping::Virtual},
    {"UDF_sparing", nullptr, 9, Box::kPlain, UdfMapping::Sparable},
    {"genisoimage_in_CloneCD", "genisoimage -quiet -udf -J -o {out} {src}", 3, Box::kCcd},
    {"genisoimage_in_NRG", "genisoimage -quiet -J -o {out} {src}", 3, Box::kNrg},
    {"genisoimage_in_cue_per_track", "genisoimage -quiet -udf -J -o {out} {src}", 3, Box::kCue},
    {"sample_iso", "cp \"$QORVEX_SOURCE_DIR/samples/sample.iso\" {out}", 9},
};

// The source tree of MakeSourceTree as a UDF 2.x volume of the project's builder.
std::vector<uint8_t> BuildUdfTree(const Source &source) {
    using namespace qorvex::test;
    UdfOptions o;
    o.root.children = {UdfFileNode("A.BIN", PatternText(5000, 1)), UdfFileNode("C.TXT", "one sector\n"),
                       UdfDirNode("D", {UdfFileNode("B.BIN", PatternText(9000, 2)), UdfFileNode("G.TXT", "g\n"),
                                        UdfDirNode("E", {UdfFileNode("F.BIN", PatternText(20000, 3))})})};
    o.nsr = "NSR03", o.all_extended = true, o.mapping = source.mapping;
    if (source.mapping == UdfMapping::Sparable) o.partition_start = 320;
    return BuildUdf(o).bytes;
}

// The image files of a source: the one opened, and the one cut (user sector 0 at its byte 0) with its bytes.
std::tuple<std::string, std::string, std::vector<uint8_t>> Store(const Source &source, const std::string &dir,
                                                                 const std::vector<uint8_t> &user) {
    using namespace qorvex::test;
    std::vector<DiscTrack> disc = {
        MakeTrack(source.format, source.format == 9 ? user : WrapSectors(user, source.format))};
    std::string open = dir + "/image.img", cut = open;
    if (source.box == Box::kPlain) WriteFile(open, disc[0].data);
    if (source.box == Box::kCcd) open = WriteCcdDisc(dir, "image", disc, true);
    if (source.box == Box::kNrg) open = cut = WriteNrgDisc(dir, "image", disc);
    if (source.box == Box::kCue)
        disc.push_back(MakeTrack(0, AudioPattern(300, 2), 150)), cut = dir + "/image (Track 01).bin";
    if (source.box == Box::kCue) open = WriteCueDisc(dir, "image", disc, CueForm::kSplitTail);
    return {open, cut, ReadFile(cut)};
}

// The bytes file `index` of the walk gives through the copy export, with the flags.
std::vector<uint8_t> Copy(QorvexHandle h, int32_t kind, int32_t index, uint32_t flags, int32_t *result) {
    FILE *f = std::tmpfile();
    *result = QorvexExCopyFile(h, 0, kind, index, fileno(f), 0, flags, nullptr, nullptr);
    std::fseek(f, 0, SEEK_END);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(0L, std::ftell(f))));
    std::rewind(f);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    return bytes;
}

// Everything wrong with a salvaged open of an image cut to `held` whole user sectors: files not listed that
// should be (`whole` kinds lost no folder), a flag or a range that does not follow from the cut, a byte that
// is not the source's, a report that does not tell the cut against the `recorded` end (when every kind is
// whole). Empty when all holds.
std::string Check(const std::string &path, uint32_t options, const Listing &intact, int64_t held,
                  const std::set<int32_t> &whole, int64_t recorded, bool all_whole) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options | OPEN_SALVAGE, &error);
    if (!h) return whole.empty() ? "" : "open " + Code(error) + "\n";
    QorvexExSalvage report{sizeof report, 0, 0, 0, 0, 0, {}};
    QorvexExGetSalvage(h, 0, &report);
    const bool cut = (report.flags & QORVEX_EX_SALVAGE_CUT) != 0;
    std::string out;
    if (report.held_end != held || (all_whole && (report.recorded_end != recorded || cut != (held < recorded))))
        out += "report: held " + std::to_string(report.held_end) + ", recorded " + std::to_string(report.recorded_end);
    for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF}) {
        const int32_t listed = QorvexGetFileCount(h, 0, kind);
        if (whole.count(kind) && static_cast<size_t>(listed) != intact.files.at(kind).size())
            out += "kind " + std::to_string(kind) + ": " + std::to_string(listed) + " files listed\n";
        int32_t index = 0;
        ForEach(h, kind, false, [&](const EntryInfo &info) {
            const std::string name = info.name;
            const int32_t i = index++;
            QorvexExEntry ex{};
            ex.struct_size = sizeof ex;
            QorvexExGetCurrentFile(h, &ex);
            const uint64_t have = info.start >= held ? 0 : uint64_t(held - info.start) * 2048 - uint64_t(info.offset);
            const uint64_t size = info.size_low | uint64_t(info.size_high) << 32;
            const bool damaged = size > have;
            QorvexExRange range{};
            const int32_t ranges = QorvexExGetDamage(h, 0, kind, i, 0, &range, 1);
            if (((ex.flags & QORVEX_EX_DAMAGED) != 0) != damaged || ranges != (damaged ? 1 : 0) ||
                (damaged && (range.offset != have || range.offset + range.length != size)))
                out += name + ": damage told wrong\n";
            if (damaged && !cut) out += name + ": damaged with no cut reported\n";
            const auto source = intact.contents.find(std::to_string(kind) + ":" + name);
            if (source == intact.contents.end()) return;
            int32_t result = 0;
            std::vector<uint8_t> bytes = Copy(h, kind, i, damaged ? QORVEX_EX_COPY_ZERO_FILL : 0, &result);
            std::vector<uint8_t> expected = source->second;
            if (damaged) std::fill(expected.begin() + static_cast<std::ptrdiff_t>(have), expected.end(), 0);
            if (result != 0 || bytes != expected) out += name + ": wrong bytes (" + Code(result) + ")\n";
            if (damaged && (Copy(h, kind, i, 0, &result), result == 0))
                out += name + ": copied without the zero-fill flag\n";
        });
    }
    QorvexClose(h);
    return out;
}

class Salvage : public ::testing::TestWithParam<Source> {};

TEST_P(Salvage, EveryCutListsWhatIsHeldAndMarksWhatIsNot) {
    const Source &source = GetParam();
    TempDir dir;
    MakeSourceTree(dir.path());
    const std::vector<uint8_t> user = source.command ? MakeWithTool(dir.path(), source.command) : BuildUdfTree(source);
    if (user.empty()) GTEST_SKIP() << "the image tool is not installed";
    const uint32_t options = (source.command ? 0 : OPEN_UDF_2X) | (source.box != Box::kPlain ? OPEN_DISC_SHEETS : 0);
    const auto [open, cut_path, bytes] = Store(source, dir.path(), user);
    const int64_t stored = qorvex::test::StoredSize(source.format);
    const int64_t total = static_cast<int64_t>(user.size() / 2048);
    const Listing intact = ListImage(open, options);
    // With the bit, an image that opened before gives the same, and no cut is told of it.
    ASSERT_EQ(Observe(open, options | OPEN_SALVAGE, &intact), Observe(open, options, &intact));
    QorvexExSalvage report{sizeof report, 0, 0, 0, 0, 0, {}};
    WithOpen(open, options | OPEN_SALVAGE,
             [&](QorvexHandle h) { return std::to_string(QorvexExGetSalvage(h, 0, &report)); });
    EXPECT_TRUE(report.flags == 0 && report.recorded_end > 16 && report.recorded_end <= total) << report.recorded_end;

    // Cuts inside and right after each structure and file, each also a few bytes into the next sector.
    std::set<int64_t> cuts = {17, 18, 20, total - 1};
    for (const auto &lists : {intact.parts, intact.files})
        for (const auto &[kind, entries] : lists)
            for (const Entry &x : entries)
                for (int64_t at : {x.start + 1, x.start + std::max<int64_t>(x.sectors, 1)})
                    if (at > 16 && at < total) cuts.insert(at);
    for (int64_t held : cuts)
        for (int64_t extra : {int64_t(0), stored / 2}) {
            std::set<int32_t> whole;  // the kinds whose every folder and descriptor is still held
            bool all_whole = true;
            for (const auto &[kind, parts] : intact.parts)
                if (!parts.empty() && std::all_of(parts.begin(), parts.end(), [&](const Entry &p) {
                        return p.name.find("path table") != std::string::npos || p.name.rfind("AVDP", 0) == 0 ||
                               p.start + std::max<int64_t>(p.sectors, 1) <= held;
                    }))
                    whole.insert(kind);
                else
                    all_whole = all_whole && parts.empty();
            qorvex::test::WriteFile(cut_path,
                                    std::vector<uint8_t>(bytes.begin(), bytes.begin() + held * stored + extra));
            EXPECT_EQ(
                RunWatched([&] { return Check(open, options, intact, held, whole, report.recorded_end, all_whole); }),
                "")
                << "cut to " << held << " sectors and " << extra << " bytes of " << total;
            // At least as many files with data as the better of 7-Zip and bsdtar finds in the cut image.
            if (source.box != Box::kPlain || qorvex::test::MissingAny({"7z", "bsdtar"})) continue;
            size_t peer = 0, bsdtar = 0, ours = 0;
            for (const auto &[name, item] : qorvex::test::SevenZipList(cut_path)) peer += !item.folder && item.size > 0;
            for (const auto &[name, item] : qorvex::test::BsdtarList(cut_path))
                bsdtar += item.mode[0] == '-' && item.size > 0;
            WithOpen(open, options | OPEN_SALVAGE, [&](QorvexHandle h) {
                for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF})
                    ours = std::max(ours, static_cast<size_t>(QorvexGetFileCount(h, 0, kind)));
                return std::string();
            });
            EXPECT_GE(ours, std::max(peer, bsdtar)) << "cut to " << held << " sectors and " << extra << " bytes";
        }
}

// A raw image with unreadable sectors in its middle: with the EDC check each bad sector of a file is told (on a
// read of the file) and given as zeros on request; without it the engine cannot know and gives what is there.
TEST(SalvageRaw, BadSectorsAreToldWithTheEdcCheck) {
    TempDir dir;
    MakeSourceTree(dir.path());
    const std::vector<uint8_t> user = MakeWithTool(dir.path(), "genisoimage -quiet -J -o {out} {src}");
    if (user.empty()) GTEST_SKIP() << "genisoimage is not installed";
    std::vector<uint8_t> image = qorvex::test::WrapSectors(user, 3, {});
    const std::string path = dir / "bad.img";
    qorvex::test::WriteFile(path, image);
    const Listing intact = ListImage(path);
    const Entry &f = intact.File(KIND_ISO9660, "\\D\\E\\F.BIN;1");
    image[static_cast<size_t>((f.start + 2) * 2352 + 16 + 100)] ^= 0xFF;  // a byte of its third sector
    qorvex::test::WriteFile(path, image);
    // The files a read finds damaged, with their first range, and what a zero-filled copy gives of each.
    auto damage = [&](QorvexHandle h) {
        std::string out;
        int32_t index = 0;
        ForEach(h, KIND_ISO9660, false, [&](const EntryInfo &info) {
            QorvexExRange r[2]{};
            const int32_t n = QorvexExGetDamage(h, 0, KIND_ISO9660, -1, QORVEX_EX_DAMAGE_READ, r, 2);
            int32_t result = 0;
            std::vector<uint8_t> bytes = Copy(h, KIND_ISO9660, index++, QORVEX_EX_COPY_ZERO_FILL, &result);
            std::vector<uint8_t> expected = intact.contents.at("1:" + std::string(info.name));
            if (n > 0) std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(r[0].offset), r[0].length, 0);
            if (n != 0)
                out += std::string(info.name) + " " + std::to_string(n) + ": " + std::to_string(r[0].offset) + "+" +
                       std::to_string(r[0].length) + "\n";
            if (bytes != expected && n != 0) out += std::string(info.name) + ": wrong bytes\n";
        });
        return out;
    };
    EXPECT_EQ(WithOpen(path, OPEN_SALVAGE | OPEN_CHECK_EDC, damage), "\\D\\E\\F.BIN;1 1: 4096+2048\n");
    EXPECT_EQ(WithOpen(path, OPEN_SALVAGE, damage), "");
}

INSTANTIATE_TEST_SUITE_P(RealImages, Salvage, ::testing::ValuesIn(kSources),
                         [](const ::testing::TestParamInfo<Source> &info) { return info.param.name; });

}  // namespace
}  // namespace damaged
