// Images made by genisoimage and xorriso, listed and extracted by the engine and by 7-Zip: names, sizes,
// bytes and modification times must agree, whatever the machine's time zone.
#include <gtest/gtest.h>

#include <map>

#include "qorvex.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

std::map<std::string, SevenZipItem> EngineList(QorvexHandle h, int32_t kind) {
    std::map<std::string, SevenZipItem> items;
    for (const Listed &e : ListEntries(h, 0, kind)) items[PortablePath(e.name())] = {e.size(), e.info.time, false};
    return items;
}

// The source tree every image is made from, as 7-Zip lists it: relative path -> size and time.
std::map<std::string, SevenZipItem> MakeSource(const std::string &root) {
    std::map<std::string, SevenZipItem> s;
    auto add = [&](const std::string &rel, std::vector<uint8_t> data, const char *when) {
        const std::string full = root + "/" + rel;
        RunCommand("mkdir -p " + Quote(full.substr(0, full.rfind('/'))));
        WriteFile(full, data);
        if (when) {
            EXPECT_EQ(RunCommand("TZ=UTC touch -d " + Quote(when) + " " + Quote(full)), 0);
        }
        s[rel] = {data.size(), Extracted(full).modified, false};
    };
    add("empty.dat", {}, "2001-09-09 01:46:40");
    add("f2047.bin", Pattern(2047, 1), "1985-06-15 12:34:56");
    add("f2048.bin", Pattern(2048, 2), "2024-02-29 23:59:59");
    add("f2049.bin", Pattern(2049, 3), "1999-12-31 23:59:59");
    add("big.bin", Pattern(300000, 4), nullptr);
    add("docs/readme.txt", Pattern(100, 5), "2010-01-01 00:00:00");
    add("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e/\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.txt", Pattern(10, 6),
        "2015-05-05 05:05:05");
    add("\xc3\x9cmlaut \xc3\xa9t\xc3\xa9.txt", Pattern(11, 7), "2016-06-06 06:06:06");
    add("a/b/c/d/e/f/g/h/i/deep.txt", Pattern(12, 8), "2017-07-07 07:07:07");
    return s;
}

struct Variant {
    const char *name;
    const char *command;  // {out} and {src} are replaced
    int32_t kind;         // the file system 7-Zip reads from it
};

const Variant kVariants[] = {
    {"genisoimage level 1", "genisoimage -quiet -input-charset utf-8 -iso-level 1 -D -o {out} {src}", KIND_ISO9660},
    {"genisoimage Joliet long",
     "genisoimage -quiet -input-charset utf-8 -iso-level 3 -D -J -joliet-long -o {out} {src}", KIND_JOLIET},
    {"xorriso level 3 Joliet long",
     "xorriso -as mkisofs -quiet -iso-level 3 -J -joliet-long -o {out} {src} 2>/dev/null", KIND_JOLIET},
    {"xorriso level 1", "xorriso -as mkisofs -quiet --norock -iso-level 1 -o {out} {src} 2>/dev/null", KIND_ISO9660},
};

using InteropTest = ::testing::TestWithParam<const char *>;  // the machine's time zone

TEST_P(InteropTest, EngineAgreesWithSevenZip) {
    if (MissingAny({"7z", "genisoimage", "xorriso"})) GTEST_SKIP() << "7z, genisoimage and xorriso are needed";
    const ScopedZone zone(GetParam());
    TempDir dir;
    const std::string src = dir / "src";
    const std::map<std::string, SevenZipItem> source = MakeSource(src);
    for (const Variant &variant : kVariants) {
        SCOPED_TRACE(variant.name);
        const std::string image = dir / "image.iso";
        ASSERT_EQ(RunCommand(Replace(Replace(variant.command, "{out}", Quote(image)), "{src}", Quote(src))), 0);

        int status = 0;
        const std::map<std::string, SevenZipItem> theirs = SevenZipList(image, &status);
        ASSERT_EQ(status, 0);
        int32_t error = 0;
        QorvexHandle h = QorvexOpen(image.c_str(), OPEN_CHECK_EDC | OPEN_CHECK_POSITION, &error);
        ASSERT_NE(h, nullptr) << std::hex << error;
        const std::map<std::string, SevenZipItem> ours = EngineList(h, variant.kind);
        std::map<std::string, SevenZipItem> their_files;
        for (const auto &[path, item] : theirs)
            if (!item.folder) their_files[path] = item;
        EXPECT_EQ(ours, their_files);
        // Joliet keeps the source names: the sizes and times are the source files' own.
        if (variant.kind == KIND_JOLIET) {
            EXPECT_EQ(ours, source);
        }

        // Extraction: every file's bytes and modification time equal 7-Zip's extraction.
        const std::string seven = dir / "seven";
        const std::string mine = dir / "mine";
        RemoveTree(seven);
        RemoveTree(mine);
        ASSERT_EQ(RunCommand("7z x -y -o" + Quote(seven) + " " + Quote(image) + " >/dev/null 2>&1"), 0);
        int32_t left = QorvexGetFileStart(h, 0, variant.kind);
        while (left != 0) {
            EntryInfo e{};
            left = QorvexGetNextFile(h, &e);
            const std::string rel = PortablePath(e.name);
            const std::string out = mine + "/" + rel;
            ASSERT_EQ(QorvexExtractCurrentFile2(h, out.c_str(), 0), 0) << rel;
            EXPECT_TRUE(Extracted(out) == Extracted(seven + "/" + rel)) << rel;
        }
        QorvexClose(h);
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, InteropTest, ::testing::Values("UTC", "Asia/Tokyo", "America/New_York"),
                         [](const auto &info) {
                             std::string name = info.param;
                             for (char &c : name)
                                 if (c == '/') c = '_';
                             return name;
                         });

}  // namespace
}  // namespace qorvex::test
