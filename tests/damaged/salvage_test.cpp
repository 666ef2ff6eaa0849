// Real images cut short and damaged, opened with OPEN_SALVAGE: everything the held structures describe is listed,
// a file whose sectors are not all there is marked with exactly the bytes it lacks, and every byte given is the
// source's (a missing one given as zero only when asked for).
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>

#include "qorvex_ext.h"
#include "support/harness/damage_harness.h"
#include "support/peers.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::TempDir;

struct Source {
    const char *name;
    const char *command;
    int32_t format;  // 9: the tool's own 2048-byte image
};

const Source kSources[] = {
    {"genisoimage_ISO_Joliet_UDF", "genisoimage -quiet -udf -J -iso-level 3 -V BRIDGE -o {out} {src}", 9},
    {"xorriso_Rock_Ridge_Joliet", "xorriso -as mkisofs -quiet -R -J -o {out} {src}", 9},
    {"genisoimage_in_MODE1_2352", "genisoimage -quiet -udf -J -o {out} {src}", 3},
    {"xorriso_in_MODE1_2448", "xorriso -as mkisofs -quiet -J -o {out} {src}", 15},
};

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
// is not the source's. Empty when all holds.
std::string Check(const std::string &path, uint32_t options, const Listing &intact, int64_t held,
                  const std::set<int32_t> &whole) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options | OPEN_SALVAGE, &error);
    if (!h) return whole.empty() ? "" : "open " + Code(error) + "\n";
    std::string out;
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
    const std::vector<uint8_t> user = MakeWithTool(dir.path(), source.command);
    if (user.empty()) GTEST_SKIP() << "the image tool is not installed";
    const std::vector<uint8_t> image = source.format == 9 ? user : qorvex::test::WrapSectors(user, source.format, {});
    const int64_t stored = qorvex::test::StoredSize(source.format);
    const int64_t total = static_cast<int64_t>(user.size() / 2048);
    const std::string intact_path = dir / "intact.img";
    qorvex::test::WriteFile(intact_path, image);
    const Listing intact = ListImage(intact_path);
    // With the bit, an image that opened before gives the same.
    ASSERT_EQ(Observe(intact_path, OPEN_SALVAGE, &intact), Observe(intact_path, 0, &intact));

    // Cuts inside and right after each structure and file, each also a few bytes into the next sector.
    std::set<int64_t> cuts = {17, 18, 20, total - 1};
    for (const auto &lists : {intact.parts, intact.files})
        for (const auto &[kind, entries] : lists)
            for (const Entry &x : entries)
                for (int64_t at : {x.start + 1, x.start + std::max<int64_t>(x.sectors, 1)})
                    if (at > 16 && at < total) cuts.insert(at);
    const std::string cut_path = dir / "cut.img";
    for (int64_t held : cuts)
        for (int64_t extra : {int64_t(0), stored / 2}) {
            std::set<int32_t> whole;  // the kinds whose every folder and descriptor is still held
            for (const auto &[kind, parts] : intact.parts)
                if (!parts.empty() && std::all_of(parts.begin(), parts.end(), [&](const Entry &p) {
                        return p.name.find("path table") != std::string::npos || p.name.rfind("AVDP", 0) == 0 ||
                               p.start + std::max<int64_t>(p.sectors, 1) <= held;
                    }))
                    whole.insert(kind);
            qorvex::test::WriteFile(cut_path,
                                    std::vector<uint8_t>(image.begin(), image.begin() + held * stored + extra));
            EXPECT_EQ(RunWatched([&] { return Check(cut_path, 0, intact, held, whole); }), "")
                << "cut to " << held << " sectors and " << extra << " bytes of " << total;
            // At least as many files as 7-Zip finds in the cut image.
            if (source.format != 9 || qorvex::test::MissingAny({"7z"})) continue;
            size_t peer = 0, ours = 0;
            for (const auto &[name, item] : qorvex::test::SevenZipList(cut_path)) peer += item.folder ? 0 : 1;
            WithOpen(cut_path, OPEN_SALVAGE, [&](QorvexHandle h) {
                for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF})
                    ours = std::max(ours, static_cast<size_t>(QorvexGetFileCount(h, 0, kind)));
                return std::string();
            });
            EXPECT_GE(ours, peer) << "cut to " << held << " sectors and " << extra << " bytes";
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
