// Rock Ridge images made by genisoimage and xorriso from one source tree (deeper than 8 levels, links of every
// sort, long and UTF-8 names, several modes): path, size, bytes, mode and link target of every entry equal what
// bsdtar and xorriso read from the same image, and the relocation folder never shows. The option bit adds the
// Rock Ridge catalogue and changes no other.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

struct Ours {
    LsItem item;
    int32_t kind = 0;
};

std::map<std::string, Ours> EngineList(QorvexHandle h) {
    std::map<std::string, Ours> items;
    for (bool parts : {false, true}) {
        int32_t left = parts ? QorvexGetModuleStart(h, 0, KIND_ROCKRIDGE) : QorvexGetFileStart(h, 0, KIND_ROCKRIDGE);
        while (left > 0) {
            EntryInfo e{};
            left = parts ? QorvexGetNextModule(h, &e) : QorvexGetNextFile(h, &e);
            QorvexExEntry ex{};
            ex.struct_size = sizeof ex;
            EXPECT_EQ(parts ? QorvexExGetCurrentModule(h, &ex) : QorvexExGetCurrentFile(h, &ex), 0);
            std::string name = e.name;
            const std::string folder = "rockridge folder ";
            if (e.kind == QORVEX_KIND_RR_FOLDER) name = name.substr(folder.size());
            if (e.kind == QORVEX_KIND_RR_PRIMARY_DESCRIPTOR || PortablePath(name).empty()) continue;
            Ours l;
            l.kind = e.kind;
            l.item.mode = ModeText(ex.mode);
            l.item.size = uint64_t(e.size_high) << 32 | e.size_low;
            l.item.target = ex.link_target;
            items[PortablePath(name)] = l;
        }
    }
    return items;
}

void MakeSource(const std::string &src) {
    const std::string deep = src + "/a/b/c/d/e/f/g/h/i/j";
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(deep) + " " + Quote(src + "/docs")), 0);
    WriteFile(deep + "/deep.txt", "deep below the relocation limit");
    WriteFile(src + "/run.sh", "#!/bin/sh\necho hi\n");
    WriteFile(src + "/secret.key", std::vector<uint8_t>(3000, 's'));
    WriteFile(src + "/docs/plain.txt", "plain");
    WriteFile(src + "/" + std::string(70, 'L') + ".txt", "over 64");
    WriteFile(src + "/" + std::string(220, 'M'), "over 200");
    WriteFile(src + "/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe5\x90\x8d\xe5\x89\x8d.txt", "utf-8");
    ::chmod((src + "/run.sh").c_str(), 0755);
    ::chmod((src + "/secret.key").c_str(), 0600);
    ::chmod((src + "/docs/plain.txt").c_str(), 0644);
    ::chmod((src + "/docs").c_str(), 0750);
    ASSERT_EQ(RunCommand("cd " + Quote(src) +
                         " && ln -s run.sh file-link && ln -s a/b/c folder-link && ln -s ../gone dangling &&"
                         " ln -s docs/../run.sh climbing"),
              0);
}

struct Maker {
    const char *name;
    const char *command;  // {out} and {src} are replaced
    const char *label;    // the volume's, which the maker chooses
};
const Maker kMakers[] = {
    {"genisoimage -R -J", "genisoimage -quiet -input-charset utf-8 -R -J -joliet-long -o {out} {src} 2>/dev/null",
     "CDROM"},
    {"xorriso -R", "xorriso -as mkisofs -quiet -R -o {out} {src} 2>/dev/null", "ISOIMAGE"},
};

// Name, start and size of each entry of a catalogue.
std::vector<std::string> Described(QorvexHandle h, int32_t kind, bool parts) {
    std::vector<std::string> out;
    for (const Listed &e : ListEntries(h, 0, kind, parts))
        out.push_back(e.name() + "|" + std::to_string(e.info.start) + "|" + std::to_string(e.size()));
    return out;
}

TEST(RockRidgeInterop, EntriesEqualWhatBsdtarAndXorrisoRead) {
    if (MissingAny({"bsdtar", "genisoimage", "xorriso"})) GTEST_SKIP() << "bsdtar, genisoimage and xorriso are needed";
    TempDir dir;
    const std::string src = dir / "src";
    MakeSource(src);
    for (const Maker &maker : kMakers) {
        SCOPED_TRACE(maker.name);
        const std::string image = dir / "rr.iso";
        ASSERT_EQ(RunCommand(Replace(Replace(maker.command, "{out}", Quote(image)), "{src}", Quote(src))), 0);
        Opened plain(image), opened(image, OPEN_ROCK_RIDGE);
        ASSERT_TRUE(plain && opened);
        const QorvexHandle h = opened.get();
        const std::map<std::string, Ours> ours = EngineList(h);
        for (const bool bsdtar : {true, false}) {
            SCOPED_TRACE(bsdtar ? "bsdtar" : "xorriso");
            const std::map<std::string, LsItem> peer = bsdtar ? BsdtarList(image) : XorrisoList(image);
            ASSERT_EQ(ours.size(), peer.size());
            for (const auto &[path, theirs] : peer) {
                SCOPED_TRACE(path);
                ASSERT_TRUE(ours.count(path));
                const Ours &mine = ours.at(path);
                EXPECT_EQ(mine.item.mode, theirs.mode);
                EXPECT_EQ(mine.item.target, theirs.target);
                // bsdtar shows a hard link without its size; xorriso's sizes of other than files are its own.
                if (bsdtar ? !theirs.hard_link : mine.kind == QORVEX_KIND_RR_FILE) {
                    EXPECT_EQ(mine.item.size, theirs.size);
                }
                EXPECT_EQ(path.find("rr_moved"), std::string::npos);
            }
        }
        EXPECT_EQ(ours.at("a/b/c/d/e/f/g/h/i/j/deep.txt").kind, QORVEX_KIND_RR_FILE);

        // The bytes of every file are the source's.
        int32_t left = QorvexGetFileStart(h, 0, KIND_ROCKRIDGE);
        while (left > 0) {
            EntryInfo e{};
            left = QorvexGetNextFile(h, &e);
            if (e.kind != QORVEX_KIND_RR_FILE) continue;
            const std::string out = dir / "out.bin";
            ASSERT_EQ(QorvexExtractCurrentFile2(h, out.c_str(), 0), 0) << e.name;
            EXPECT_EQ(ReadFile(out), ReadFile(src + "/" + PortablePath(e.name))) << e.name;
        }

        // The option bit only adds a catalogue: without it there is none, and the other three are the same.
        EXPECT_EQ(QorvexGetFileCount(plain.get(), 0, KIND_ROCKRIDGE), 0);
        for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF})
            for (bool parts : {false, true})
                EXPECT_EQ(Described(plain.get(), kind, parts), Described(h, kind, parts)) << kind << parts;
        char label[33] = {};
        int32_t sectors = 0;
        int64_t bytes = 0;
        EXPECT_EQ(QorvexGetImageInformation(h, 0, KIND_ROCKRIDGE, label, &sectors, &bytes), KIND_ROCKRIDGE);
        EXPECT_STREQ(label, maker.label);
    }
}

// zisofs files written by xorriso: listed at their real size as bsdtar lists them, and extracted to the bytes
// bsdtar decodes (the source's).
TEST(RockRidgeInterop, ZisofsFilesDecodeLikeBsdtar) {
    if (MissingAny({"bsdtar", "xorriso"})) GTEST_SKIP() << "bsdtar and xorriso are needed";
    TempDir dir;
    const std::string src = dir / "src";
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(src)), 0);
    std::vector<uint8_t> text(200000), mixed(150000, 0);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("abcdefgh \n"[(i * 7919 + i / 13) % 10]);
    for (size_t i = 0; i < 50000; ++i) mixed[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    WriteFile(src + "/text.txt", text);
    WriteFile(src + "/mixed.bin", mixed);  // incompressible, then zeros
    WriteFile(src + "/tiny.txt", "tiny");
    const std::string image = dir / "z.iso";
    ASSERT_EQ(RunCommand("xorriso -outdev " + Quote(image) + " -blank as_needed -map " + Quote(src) +
                         " / -set_filter_r --zisofs / -- -commit >/dev/null 2>&1"),
              0);
    const std::string theirs = dir / "bsdtar";
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(theirs) + " && bsdtar xf " + Quote(image) + " -C " + Quote(theirs)), 0);
    const std::map<std::string, LsItem> listed = BsdtarList(image);

    Opened opened(image, OPEN_ROCK_RIDGE);
    ASSERT_TRUE(opened);
    const QorvexHandle h = opened.get();
    int32_t left = QorvexGetFileStart(h, 0, KIND_ROCKRIDGE);
    size_t compressed = 0;
    while (left > 0) {
        EntryInfo e{};
        left = QorvexGetNextFile(h, &e);
        QorvexExEntry ex{};
        ex.struct_size = sizeof ex;
        QorvexExGetCurrentFile(h, &ex);
        const std::string name = PortablePath(e.name);
        SCOPED_TRACE(name);
        compressed += (ex.flags & QORVEX_EX_ZISOFS) != 0;
        ASSERT_TRUE(listed.count(name));
        EXPECT_EQ(e.size_low, listed.at(name).size);
        const std::string out = dir / "out.bin";
        ASSERT_EQ(QorvexExtractCurrentFile2(h, out.c_str(), 1), 0);
        EXPECT_EQ(ReadFile(out), ReadFile(theirs + "/" + name));
        EXPECT_EQ(ReadFile(out), ReadFile(src + "/" + name));
    }
    EXPECT_GE(compressed, 2u);  // xorriso leaves a file too small to gain stored as it is
}

}  // namespace
}  // namespace qorvex::test
