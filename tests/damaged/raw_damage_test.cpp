// Raw-sector damage on a genisoimage disc wrapped in stored sectors: a sector whose EDC does not match, a
// sector ripped twice and a sector lost. The checks of the open options must turn each into a failure of
// exactly the files that read it, and the command-line host must say so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

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

    // Runs the engine in a watched child: for every ISO 9660 file in `order` (listing order when empty),
    // extraction through the callback, "ok" or "wrong data" against the intact disc or the code.
    std::string Extract(const std::string &path, uint32_t options, const std::vector<std::string> &order = {}) {
        const Bounded run = RunBounded([&]() -> std::string {
            int32_t error = 0;
            QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
            if (!h) return "open " + Code(error) + "\n";
            std::vector<uint8_t> bytes;
            QorvexSetCallback(
                h,
                [](int32_t, void *u, const void *d, int32_t n) -> int32_t {
                    auto *v = static_cast<std::vector<uint8_t> *>(u);
                    v->insert(v->end(), static_cast<const uint8_t *>(d), static_cast<const uint8_t *>(d) + n);
                    return 1;
                },
                &bytes);
            std::vector<std::string> names = order;
            if (names.empty())
                for (const Entry &e : intact.files.at(KIND_ISO9660)) names.push_back(e.name);
            std::string out;
            for (const std::string &name : names) {
                int32_t left = QorvexGetFileStart(h, 0, KIND_ISO9660);
                EntryInfo info{};
                while (left != 0 && (QorvexGetNextFile(h, &info), name != info.name)) --left;
                bytes.clear();
                const int32_t result = QorvexExtractCurrentFile2(h, nullptr, 1);
                const bool same = bytes == intact.contents.at("1:" + name);
                out += name + " " + (result != 0 ? Code(result) : same ? "ok" : "wrong data") + "\n";
            }
            QorvexClose(h);
            return out;
        });
        EXPECT_TRUE(run.finished) << run.what;
        EXPECT_LT(run.peak_kib, kPeakBoundKib);
        return run.what;
    }

    // The expected text: every file "ok" unless named in `outcomes`.
    std::string Each(const std::map<std::string, std::string> &outcomes, const std::vector<std::string> &order = {}) {
        std::vector<std::string> names = order;
        if (names.empty())
            for (const Entry &e : intact.files.at(KIND_ISO9660)) names.push_back(e.name);
        std::string out;
        for (const std::string &name : names) {
            const auto it = outcomes.find(name);
            out += name + " " + (it == outcomes.end() ? "ok" : it->second) + "\n";
        }
        return out;
    }

    // Files that begin after sector `s`, and the one that holds it.
    std::vector<std::string> After(int64_t s) const {
        std::vector<std::string> names;
        for (const Entry &e : intact.files.at(KIND_ISO9660))
            if (e.start > s) names.push_back(e.name);
        return names;
    }

    // A command line of the qorvex program with its standard error joined to its output.
    static std::string Cli(const std::string &arguments, int *status) {
        const char *cli = std::getenv("QORVEX_CLI");
        return qorvex::test::CaptureCommand(std::string("'") + (cli ? cli : "qorvex") + "' " + arguments + " 2>&1",
                                            status);
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
        RawOptions raw;
        raw.corrupt_edc_sector = static_cast<int32_t>(b.start + 1);
        const std::string path = dir / "bad-edc.bin";
        qorvex::test::WriteFile(path, WrapSectors(user, format, raw));
        EXPECT_EQ(Extract(path, OPEN_CHECK_EDC), Each({{b.name, Code(ENGINE_EDC_MISMATCH)}}));
        EXPECT_EQ(Extract(path, 0), Each({}));
        EXPECT_EQ(Extract(path, OPEN_CHECK_EDC | OPEN_CHECK_POSITION), Each({{b.name, Code(ENGINE_EDC_MISMATCH)}}));

        const int64_t sectors = static_cast<int64_t>(user.size() / 2048);
        raw.tail_adjust = -(sectors - (last->start + 1)) * qorvex::test::StoredSize(format);
        qorvex::test::WriteFile(path, WrapSectors(user, format, raw));
        EXPECT_EQ(
            Extract(path, OPEN_CHECK_EDC, cut_first),
            Each({{last->name, Code(ENGINE_READ_FAILED)}, {b.name, Code(ENGINE_EDC_MISMATCH)}}, {last->name, b.name}) +
                last->name + " " + Code(ENGINE_EDC_MISMATCH) + "\n")
            << "cut file: read failure before the bad sector, EDC mismatch after it";
        EXPECT_EQ(Extract(path, OPEN_CHECK_EDC, {last->name}), last->name + " " + Code(ENGINE_READ_FAILED) + "\n");
    }

    // A directory sector with a bad EDC: the checked open fails, the unchecked one reads the disc.
    RawOptions raw;
    raw.corrupt_edc_sector = static_cast<int32_t>(intact.Part(KIND_ISO9660, "iso9660 folder \\D\\").start);
    qorvex::test::WriteFile(dir / "bad-folder.bin", WrapSectors(user, 3, raw));
    EXPECT_EQ(Extract(dir / "bad-folder.bin", OPEN_CHECK_EDC), "open " + Code(ENGINE_EDC_MISMATCH) + "\n");
    EXPECT_EQ(Extract(dir / "bad-folder.bin", 0), Each({}));
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
        RawOptions raw;
        raw.pregap = pregap;
        raw.duplicate_sector = static_cast<int32_t>(s);
        qorvex::test::WriteFile(dir / "inserted.bin", WrapSectors(user, 3, raw));
        EXPECT_EQ(Extract(dir / "inserted.bin", OPEN_CHECK_POSITION), Each({}));
        EXPECT_EQ(Extract(dir / "inserted.bin", 0), Each(shifted));

        raw.duplicate_sector = -1;
        std::vector<uint8_t> image = WrapSectors(user, 3, raw);
        const size_t at = static_cast<size_t>((pregap ? 150 : 0) + s) * 2352;
        image.erase(image.begin() + static_cast<std::ptrdiff_t>(at),
                    image.begin() + static_cast<std::ptrdiff_t>(at + 2352));
        qorvex::test::WriteFile(dir / "missing.bin", image);
        EXPECT_EQ(Extract(dir / "missing.bin", OPEN_CHECK_POSITION), Each(lost));
        EXPECT_EQ(Extract(dir / "missing.bin", 0), Each(unchecked_lost));
    }
}

// Addresses only grow along a disc: once a well-formed later address is read, the wanted sector cannot
// follow, so a lost sector fails the search at once instead of after reading the rest of the image for
// every file behind it.
TEST_F(RawDamage, SearchForALostSectorStopsAtTheFirstLaterAddress) {
    const int64_t lost = b.start + 1;
    std::vector<uint8_t> padded = user;
    padded.resize(padded.size() + 3000 * 2048, 0);  // 7 MB of unused sectors behind the files
    std::vector<uint8_t> image = WrapSectors(padded, 3);
    image.erase(image.begin() + lost * 2352, image.begin() + (lost + 1) * 2352);
    qorvex::test::WriteFile(dir / "missing.bin", image);
    const std::vector<std::string> after = After(lost);
    ASSERT_FALSE(after.empty());

    const Bounded run = RunBounded([&]() -> std::string {
        int32_t error = 0;
        QorvexHandle h = QorvexOpen((dir / "missing.bin").c_str(), OPEN_CHECK_POSITION, &error);
        if (!h) return "open " + Code(error);
        std::string out;
        for (const std::string &name : after) {
            int32_t left = QorvexGetFileStart(h, 0, KIND_ISO9660);
            EntryInfo info{};
            while (left != 0 && (QorvexGetNextFile(h, &info), name != info.name)) --left;
            const int64_t before = BytesRead();
            const int32_t result = QorvexExtractCurrentFile2(h, nullptr, 1);
            out += name + " " + Code(result) + " " + (BytesRead() - before < 256 * 1024 ? "short" : "long") + "\n";
        }
        QorvexClose(h);
        return out;
    });
    ASSERT_TRUE(run.finished) << run.what;
    std::string expected;
    for (const std::string &name : after) expected += name + " " + Code(ENGINE_SEEK_FAILED) + " short\n";
    EXPECT_EQ(run.what, expected);
}

TEST_F(RawDamage, CommandLineHostNamesTheFailureAndKeepsTheOtherFiles) {
    RawOptions raw;
    raw.corrupt_edc_sector = static_cast<int32_t>(b.start + 1);
    qorvex::test::WriteFile(dir / "bad-edc.bin", WrapSectors(user, 3, raw));
    raw = {};
    std::vector<uint8_t> missing = WrapSectors(user, 3, raw);
    missing.erase(missing.begin() + (b.start + 1) * 2352, missing.begin() + (b.start + 2) * 2352);
    qorvex::test::WriteFile(dir / "missing.bin", missing);

    auto extracted = [&](const std::string &out, const std::string &relative) {
        return qorvex::test::ReadFile(out + "/" + relative) == qorvex::test::ReadFile(dir / ("src/" + relative));
    };
    int status = 0;
    std::string text = Cli("--check-edc extract '" + dir / "bad-edc.bin" + "' -o '" + dir / "edc" + "'", &status);
    EXPECT_EQ(status, 1) << text;
    EXPECT_NE(text.find("B.BIN"), std::string::npos) << text;
    EXPECT_NE(text.find("0x8124"), std::string::npos) << text;
    EXPECT_NE(text.find("EDC"), std::string::npos) << text;
    for (const char *kept : {"A.BIN", "C.TXT", "D/E/F.BIN", "D/G.TXT"})
        EXPECT_TRUE(extracted(dir / "edc", kept)) << kept;
    EXPECT_FALSE(extracted(dir / "edc", "D/B.BIN"));

    text = Cli("extract '" + dir / "bad-edc.bin" + "' -o '" + dir / "unchecked" + "'", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_TRUE(extracted(dir / "unchecked", "D/B.BIN"));

    // A lost sector: checked, the files from it on fail by name; unchecked they come out shifted.
    text = Cli("--check-position extract '" + dir / "missing.bin" + "' -o '" + dir / "pos" + "'", &status);
    EXPECT_EQ(status, 1) << text;
    EXPECT_NE(text.find("B.BIN: 0x8104"), std::string::npos) << text;
    for (const std::string &name : After(b.start + 1)) {
        const std::string base = name.substr(name.rfind('\\') + 1, name.rfind(';') - name.rfind('\\') - 1);
        EXPECT_NE(text.find(base + ": 0x8103"), std::string::npos) << base << "\n" << text;
    }
    for (const Entry &e : intact.files.at(KIND_ISO9660))
        if (e.start + e.sectors <= b.start + 1) {
            EXPECT_TRUE(extracted(dir / "pos", Relative(e.name))) << e.name;
        }

    // A sector ripped twice: checked, every file comes out whole; unchecked, those after it are shifted.
    raw = {};
    raw.duplicate_sector = static_cast<int32_t>(b.start + 1);
    qorvex::test::WriteFile(dir / "inserted.bin", WrapSectors(user, 3, raw));
    text = Cli("--check-position extract '" + dir / "inserted.bin" + "' -o '" + dir / "ins" + "'", &status);
    EXPECT_EQ(status, 0) << text;
    text = Cli("extract '" + dir / "inserted.bin" + "' -o '" + dir / "shifted" + "'", &status);
    EXPECT_EQ(status, 0) << text;
    for (const Entry &e : intact.files.at(KIND_ISO9660)) {
        EXPECT_TRUE(extracted(dir / "ins", Relative(e.name))) << e.name;
        EXPECT_EQ(extracted(dir / "shifted", Relative(e.name)), e.start + e.sectors <= b.start + 1) << e.name;
    }

    // A directory that fails its EDC: the image cannot be listed with the check, and the host says why.
    raw = {};
    raw.corrupt_edc_sector = static_cast<int32_t>(intact.Part(KIND_ISO9660, "iso9660 folder \\").start);
    qorvex::test::WriteFile(dir / "bad-root.bin", WrapSectors(user, 3, raw));
    text = Cli("--check-edc ls '" + dir / "bad-root.bin" + "'", &status);
    EXPECT_NE(status, 0) << text;
    EXPECT_NE(text.find("0x8124"), std::string::npos) << text;
    text = Cli("ls '" + dir / "bad-root.bin" + "'", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("B.BIN"), std::string::npos) << text;
}

}  // namespace
}  // namespace damaged
