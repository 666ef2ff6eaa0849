// Raw-sector damage on a genisoimage disc wrapped in stored sectors: a sector whose EDC does not match, a
// sector ripped twice and a sector lost. The checks of the open options must turn each into a failure of
// exactly the files that read it, and the command-line host must say so.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>

#include "support/harness/cli_harness.h"
#include "support/harness/damage_harness.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::RawOptions;
using qorvex::test::TempDir;
using qorvex::test::WrapSectors;

class RawDamage : public ::testing::Test {
protected:
    void SetUp() override {
        MakeSourceTree(dir.path());
        user = MakeWithTool(dir.path(), "genisoimage -quiet -J -iso-level 3 -o {out} {src}");
        if (user.empty()) GTEST_SKIP() << "genisoimage is not installed";
        qorvex::test::WriteFile(dir / "plain.iso", user);
        intact = ListImage(dir / "plain.iso");
        ASSERT_EQ(intact.files.at(KIND_ISO9660).size(), 5u);
        b = intact.File(KIND_ISO9660, "\\D\\B.BIN;1");
        ASSERT_GE(b.sectors, 3);
    }

    // Runs the engine in a watched child: for every ISO 9660 file in `order` (all in listing order when empty),
    // extraction through the callback, "ok" or "wrong data" against the intact disc or the code.
    std::string Extract(const std::string &path, uint32_t options, const std::vector<std::string> &order = {}) {
        return RunWatched([&] {
            return WithOpen(path, options, [&](QorvexHandle h) {
                std::vector<uint8_t> bytes;
                QorvexSetCallback(h, Collect, &bytes);
                std::string out;
                for (const std::string &name : order.empty() ? After() : order) {
                    Select(h, name);
                    bytes.clear();
                    const int32_t result = QorvexExtractCurrentFile2(h, nullptr, 1);
                    const bool same = bytes == intact.contents.at("1:" + name);
                    out += name + " " + (result != 0 ? Code(result) : same ? "ok" : "wrong data") + "\n";
                }
                return out;
            });
        });
    }

    // The expected text: every file "ok" unless named in `outcomes`.
    std::string Each(const std::map<std::string, std::string> &outcomes, const std::vector<std::string> &order = {}) {
        std::string out;
        for (const std::string &name : order.empty() ? After() : order) {
            const auto it = outcomes.find(name);
            out += name + " " + (it == outcomes.end() ? "ok" : it->second) + "\n";
        }
        return out;
    }

    // The ISO 9660 files that begin after sector `s` (all of them by default), in listing order.
    std::vector<std::string> After(int64_t s = -1) const {
        std::vector<std::string> names;
        for (const Entry &e : intact.files.at(KIND_ISO9660))
            if (e.start > s) names.push_back(e.name);
        return names;
    }

    // Makes the ISO 9660 file `name` the current one.
    static void Select(QorvexHandle h, const std::string &name) {
        int32_t left = QorvexGetFileStart(h, 0, KIND_ISO9660);
        EntryInfo info{};
        while (left != 0 && (QorvexGetNextFile(h, &info), name != info.name)) --left;
    }

    // `user` in stored sectors of `format` made with `raw`, without stored sector `lose` (counted from the
    // start of the file), written to `name`.
    std::string Wrap(const std::string &name, const RawOptions &raw, int32_t format = 3, int64_t lose = -1) {
        std::vector<uint8_t> image = WrapSectors(user, format, raw);
        const int64_t size = qorvex::test::StoredSize(format);
        if (lose >= 0) image.erase(image.begin() + lose * size, image.begin() + (lose + 1) * size);
        qorvex::test::WriteFile(dir / name, image);
        return dir / name;
    }

    // "\\D\\B.BIN;1" -> "D/B.BIN"
    static std::string Relative(std::string name) {
        name = name.substr(1, name.rfind(';') - 1);
        for (char &c : name)
            if (c == '\\') c = '/';
        return name;
    }

    TempDir dir;
    std::vector<uint8_t> user;
    Listing intact;
    Entry b;
};

// The EDC-error flag belongs to the reader of the track and stays set once a sector failed its check, so a
// later read failure of the same handle is reported as an EDC mismatch too; a new open starts clean.
TEST_F(RawDamage, BadEdcFailsOnlyTheFileThatReadsItAndTheFlagStaysWithTheHandle) {
    // The last file by position is cut through, so that it fails to read for a reason of its own.
    const Entry *last = &intact.files.at(KIND_ISO9660)[0];
    for (const Entry &e : intact.files.at(KIND_ISO9660))
        if (e.start > last->start) last = &e;
    ASSERT_GE(last->sectors, 2);
    ASSERT_NE(last->name, b.name);
    const std::vector<std::string> cut_first = {last->name, b.name, last->name};

    for (int32_t format : {3, 6, 13}) {
        SCOPED_TRACE(format);
        RawOptions raw{.corrupt_edc_sector = static_cast<int32_t>(b.start + 1)};
        const std::string path = Wrap("bad-edc.bin", raw, format);
        EXPECT_EQ(Extract(path, OPEN_CHECK_EDC), Each({{b.name, Code(ENGINE_EDC_MISMATCH)}}));
        EXPECT_EQ(Extract(path, 0), Each({}));
        EXPECT_EQ(Extract(path, OPEN_CHECK_EDC | OPEN_CHECK_POSITION), Each({{b.name, Code(ENGINE_EDC_MISMATCH)}}));

        const int64_t sectors = static_cast<int64_t>(user.size() / 2048);
        raw.tail_adjust = -(sectors - (last->start + 1)) * qorvex::test::StoredSize(format);
        Wrap("bad-edc.bin", raw, format);
        EXPECT_EQ(
            Extract(path, OPEN_CHECK_EDC, cut_first),
            Each({{last->name, Code(ENGINE_READ_FAILED)}, {b.name, Code(ENGINE_EDC_MISMATCH)}}, {last->name, b.name}) +
                last->name + " " + Code(ENGINE_EDC_MISMATCH) + "\n")
            << "cut file: read failure before the bad sector, EDC mismatch after it";
        EXPECT_EQ(Extract(path, OPEN_CHECK_EDC, {last->name}), last->name + " " + Code(ENGINE_READ_FAILED) + "\n");
    }

    // A directory sector with a bad EDC: the checked open fails, the unchecked one reads the disc.
    const std::string bad_folder =
        Wrap("bad-folder.bin",
             {.corrupt_edc_sector = static_cast<int32_t>(intact.Part(KIND_ISO9660, "iso9660 folder \\D\\").start)});
    EXPECT_EQ(Extract(bad_folder, OPEN_CHECK_EDC), "open " + Code(ENGINE_EDC_MISMATCH));
    EXPECT_EQ(Extract(bad_folder, 0), Each({}));
}

TEST_F(RawDamage, PositionCheckSkipsAnInsertedSectorAndRefusesAroundAMissingOne) {
    const int64_t s = b.start + 1;  // inside \D\B.BIN
    std::map<std::string, std::string> shifted, lost, unchecked_lost;
    for (const std::string &name : After(s)) {
        shifted[name] = "wrong data";
        lost[name] = Code(ENGINE_SEEK_FAILED);
    }
    shifted[b.name] = "wrong data";
    lost[b.name] = Code(ENGINE_READ_FAILED);
    const int64_t stored = static_cast<int64_t>(user.size() / 2048) - 1;  // sectors left after the loss
    for (const Entry &e : intact.files.at(KIND_ISO9660))
        if (e.start + e.sectors > s)
            unchecked_lost[e.name] = e.start + e.sectors > stored ? Code(ENGINE_READ_FAILED) : "wrong data";

    for (bool pregap : {false, true}) {
        SCOPED_TRACE(pregap);
        const std::string inserted =
            Wrap("inserted.bin", {.pregap = pregap, .duplicate_sector = static_cast<int32_t>(s)});
        EXPECT_EQ(Extract(inserted, OPEN_CHECK_POSITION), Each({}));
        EXPECT_EQ(Extract(inserted, 0), Each(shifted));
        const std::string missing = Wrap("missing.bin", {.pregap = pregap}, 3, (pregap ? 150 : 0) + s);
        EXPECT_EQ(Extract(missing, OPEN_CHECK_POSITION), Each(lost));
        EXPECT_EQ(Extract(missing, 0), Each(unchecked_lost));
    }
}

// Addresses only grow along a disc: once a well-formed later address is read, the wanted sector cannot
// follow, so a lost sector fails the search at once instead of after reading the rest of the image for
// every file behind it.
TEST_F(RawDamage, SearchForALostSectorStopsAtTheFirstLaterAddress) {
    const int64_t lost = b.start + 1;
    user.resize(user.size() + 3000 * 2048, 0);  // 7 MB of unused sectors behind the files
    const std::string missing = Wrap("missing.bin", {}, 3, lost);
    const std::vector<std::string> after = After(lost);
    ASSERT_FALSE(after.empty());

    const std::string report = RunWatched([&] {
        return WithOpen(missing, OPEN_CHECK_POSITION, [&](QorvexHandle h) {
            std::string out;
            for (const std::string &name : after) {
                Select(h, name);
                const int64_t before = BytesRead();
                const int32_t result = QorvexExtractCurrentFile2(h, nullptr, 1);
                out += name + " " + Code(result) + " " + (BytesRead() - before < 256 * 1024 ? "short" : "long") + "\n";
            }
            return out;
        });
    });
    std::string expected;
    for (const std::string &name : after) expected += name + " " + Code(ENGINE_SEEK_FAILED) + " short\n";
    EXPECT_EQ(report, expected);
}

TEST_F(RawDamage, CommandLineHostNamesTheFailureAndKeepsTheOtherFiles) {
    const int64_t s = b.start + 1;  // inside \D\B.BIN
    const std::string bad_edc = Wrap("bad-edc.bin", {.corrupt_edc_sector = static_cast<int32_t>(s)});
    const std::string missing = Wrap("missing.bin", {}, 3, s);
    const std::string inserted = Wrap("inserted.bin", {.duplicate_sector = static_cast<int32_t>(s)});
    const std::string bad_root =
        Wrap("bad-root.bin",
             {.corrupt_edc_sector = static_cast<int32_t>(intact.Part(KIND_ISO9660, "iso9660 folder \\").start)});
    std::vector<std::string> failures_by_name = {"B.BIN: 0x8104"};
    for (const std::string &name : After(s))
        failures_by_name.push_back(name.substr(name.rfind('\\') + 1, name.rfind(';') - name.rfind('\\') - 1) +
                                   ": 0x8103");
    auto all = [](const Entry &) { return true; };
    auto before = [&](const Entry &e) { return e.start + e.sectors <= s; };
    struct Run {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> said;             // in its output
        std::function<bool(const Entry &)> whole;  // the files it extracts whole; none for a listing
    };
    const Run runs[] = {
        // The listing reads the files with the check: the one over the bad sector is left out as damaged.
        {{"--check-edc", "extract", bad_edc},
         1,
         {"B.BIN: damaged", "(2048-4095)"},
         [&](const Entry &e) { return e.name != b.name; }},
        {{"--check-edc", "ls", "--long", bad_edc}, 0, {"2048 ! \\D\\B.BIN"}, nullptr},
        {{"extract", bad_edc}, 0, {}, all},
        // A lost sector: checked, the files from it on fail by name.
        {{"-v", "--check-position", "extract", missing}, 1, failures_by_name, before},
        // A sector ripped twice: checked, every file comes out whole. (Unchecked reads: the tests above.)
        {{"--check-position", "extract", inserted}, 0, {}, all},
        // A directory that fails its EDC: the image cannot be listed with the check, and the host says why.
        {{"--check-edc", "ls", bad_root}, 1, {"0x8124"}, nullptr},
    };
    for (size_t i = 0; i < std::size(runs); ++i) {
        std::vector<std::string> args = runs[i].args;
        const std::string out = dir / ("out" + std::to_string(i));
        if (runs[i].whole) args.insert(args.end(), {"-o", out});
        SCOPED_TRACE(::testing::PrintToString(args));
        const cli_test::Result result = cli_test::Qorvex(args);
        const std::string text = result.out + result.err;
        EXPECT_EQ(result.status, runs[i].status) << text;
        for (const std::string &said : runs[i].said)
            EXPECT_NE(text.find(said), std::string::npos) << said << "\n" << text;
        if (!runs[i].whole) continue;
        for (const Entry &e : intact.files.at(KIND_ISO9660)) {
            const std::string relative = Relative(e.name);
            EXPECT_EQ(qorvex::test::ReadFile(out + "/" + relative) == qorvex::test::ReadFile(dir / ("src/" + relative)),
                      runs[i].whole(e))
                << relative;
        }
    }
}

}  // namespace
}  // namespace damaged
