// Real images cut short at every structure boundary. What survives a cut follows from where the intact
// image keeps its structures: a file system is read only when every sector its walk needs is still there,
// and a file extracts only when all its sectors are.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/harness/damage_harness.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::TempDir;

struct Source {
    const char *name;  // of the test
    const char *command;
    int32_t format;  // stored format of the wrapper; 9 = the tool's own 2048-byte image
    bool pregap;
};

const Source kSources[] = {
    {"genisoimage_ISO_Joliet_UDF", "genisoimage -quiet -udf -J -iso-level 3 -V BRIDGE -o {out} {src}", 9, false},
    {"xorriso_Joliet", "xorriso -as mkisofs -quiet -J -iso-level 3 -o {out} {src}", 9, false},
    {"genisoimage_in_MODE1_2352", "genisoimage -quiet -udf -J -iso-level 3 -V BRIDGE -o {out} {src}", 3, false},
    {"genisoimage_in_MODE2FORM1_2352_with_pregap", "genisoimage -quiet -udf -J -o {out} {src}", 6, true},
    {"genisoimage_in_MODE2_2336_XA", "genisoimage -quiet -udf -J -o {out} {src}", 13, false},
    {"xorriso_in_MODE1_2448_with_pregap", "xorriso -as mkisofs -quiet -J -o {out} {src}", 15, true},
};

// Fewest whole user sectors with which the image is still recognised: the probe wants 21 × 2048 bytes in the
// file and a 32-byte sample at the start of user sector 16 (stored sector 166 when the pregap is held).
int64_t FewestRecognised(const Source &s) {
    if (s.format == 9) return 21;
    if (s.pregap) return 17;
    const int64_t stored = qorvex::test::StoredSize(s.format);
    return std::max<int64_t>(17, (21 * 2048 + stored - 1) / stored);
}

bool IsAnchorPastThe256th(const Entry &part) {
    return part.name.rfind("AVDP", 0) == 0 && part.start != 256;
}

// An anchor recorded for this sector (tag identifier 2 and its own location): a cut can leave one of
// these as the new last sector.
bool HoldsAnchor(const std::vector<uint8_t> &user, int64_t sector) {
    if (sector < 0 || sector == 256 || size_t(sector + 1) * 2048 > user.size()) return false;
    const uint8_t *p = user.data() + sector * 2048;
    return p[0] == 2 && p[1] == 0 && Get32Le(p + 12) == sector;
}

// What the engine must give for the image cut to its first `kept` user sectors.
std::string Predict(const Listing &intact, const std::vector<uint8_t> &user, int64_t kept, const Source &source) {
    const int64_t total = static_cast<int64_t>(user.size() / 2048);
    if (kept < FewestRecognised(source)) return "open " + Code(ENGINE_UNKNOWN_FORMAT) + "\n";
    auto present = [&](const Entry &x) { return x.start + std::max<int64_t>(x.sectors, 1) <= kept; };
    // ISO 9660 and Joliet stand or fall together: a failed walk of either discards both. Path tables are
    // not needed (a failed path-table read leaves only that list empty).
    bool iso = true, straddles = false;
    for (int32_t kind : {KIND_ISO9660, KIND_JOLIET})
        for (const Entry &p : intact.parts.at(kind))
            if (p.name.find("path table") == std::string::npos && !present(p)) {
                iso = false;
                straddles |= p.start < kept;
            }
    // UDF needs the whole walk from the anchor at 256, but no anchor further out.
    bool udf = !intact.parts.at(KIND_UDF).empty();
    for (const Entry &p : intact.parts.at(KIND_UDF))
        if (!IsAnchorPastThe256th(p) && !present(p)) udf = false;
    // The recognition walk reads sector after sector from 16 through TEA01, or through the first sector
    // after the descriptor set when there is no UDF, so a cut inside that run ends in a failed read.
    int64_t run_end = 0;
    for (const auto &[kind, parts] : intact.parts)
        for (const Entry &p : parts) {
            if (kind == KIND_UDF && p.name == "TEA01") run_end = std::max(run_end, p.start);
            if (kind != KIND_UDF && (p.name == "PVD" || p.name == "SVD" || p.name == "VDT"))
                run_end = std::max(run_end, p.start + 1);
        }
    if (kept <= run_end) straddles = true;
    // Every other structure is either whole or missing, so the last failure is a seek past the end, unless
    // something read in one run was cut through.
    if (!iso && !udf) return "open " + Code(straddles ? ENGINE_READ_FAILED : ENGINE_SEEK_FAILED) + "\n";
    Outcome outcome(intact);
    if (!iso) outcome.Without(KIND_ISO9660).Without(KIND_JOLIET);
    if (!udf) outcome.Without(KIND_UDF);
    const auto &udf_parts = intact.parts.at(KIND_UDF);
    if (udf && kept < total)
        outcome.PartCount(KIND_UDF, udf_parts.size() -
                                        std::count_if(udf_parts.begin(), udf_parts.end(), IsAnchorPastThe256th) +
                                        HoldsAnchor(user, kept - 1) + HoldsAnchor(user, kept - 257));
    for (const auto &[kind, files] : intact.files)
        for (const Entry &f : files)
            if (!present(f))
                outcome.Extracting(kind, f.name, Code(f.start >= kept ? ENGINE_SEEK_FAILED : ENGINE_READ_FAILED));
    return outcome.Text();
}

class Truncation : public ::testing::TestWithParam<Source> {};

TEST_P(Truncation, EveryCutGivesWhatTheRemainingStructuresAllow) {
    const Source &source = GetParam();
    TempDir dir;
    MakeSourceTree(dir.path());
    const std::vector<uint8_t> user = MakeWithTool(dir.path(), source.command);
    if (user.empty()) GTEST_SKIP() << "the image tool is not installed";
    const int64_t total = static_cast<int64_t>(user.size() / 2048);
    const std::vector<uint8_t> image =
        source.format == 9 ? user : qorvex::test::WrapSectors(user, source.format, {.pregap = source.pregap});
    const size_t stored = static_cast<size_t>(qorvex::test::StoredSize(source.format));
    const size_t held_before = source.pregap ? 150 : 0;

    const std::string intact_path = dir / "intact.img";
    qorvex::test::WriteFile(intact_path, image);
    const Listing intact = ListImage(intact_path);
    ASSERT_FALSE(intact.files.at(KIND_ISO9660).empty());

    // Cut points: both sides of the first and last sector of every structure and file, and the detection
    // threshold.
    std::set<int64_t> cuts = {0, 1, 16, 17, FewestRecognised(source) - 1, FewestRecognised(source), total - 1, total};
    for (const auto &lists : {intact.parts, intact.files})
        for (const auto &[kind, entries] : lists)
            for (const Entry &x : entries)
                for (int64_t at : {x.start, x.start + 1, x.start + std::max<int64_t>(x.sectors, 1) - 1,
                                   x.start + std::max<int64_t>(x.sectors, 1)})
                    if (at >= 0 && at <= total) cuts.insert(at);

    // Each cut in a child of its own, so that the memory bound holds for one damaged image at a time.
    const std::string cut_path = dir / "cut.img";
    auto observe = [&](int64_t stored_bytes) {
        qorvex::test::WriteFile(
            cut_path, std::vector<uint8_t>(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(stored_bytes)));
        return RunWatched([&] { return Observe(cut_path, 0, &intact); });
    };
    for (int64_t kept : cuts)
        EXPECT_EQ(observe(static_cast<int64_t>((held_before + static_cast<size_t>(kept)) * stored)),
                  Predict(intact, user, kept, source))
            << "cut to " << kept << " of " << total << " sectors";
    // Cuts inside a sector are never recognised.
    for (size_t off : {size_t(1), stored / 2, stored - 1})
        EXPECT_EQ(observe(static_cast<int64_t>(image.size() - off)), "open " + Code(ENGINE_UNKNOWN_FORMAT) + "\n")
            << off << " bytes cut off the end";
}

INSTANTIATE_TEST_SUITE_P(RealImages, Truncation, ::testing::ValuesIn(kSources),
                         [](const ::testing::TestParamInfo<Source> &info) { return info.param.name; });

}  // namespace
}  // namespace damaged
