// UDF 2.x images made by mkudffs (every media type and revision it writes) and by the project's builder,
// read with OPEN_UDF_2X and compared with udfinfo (labels, block numbers), udfclient and 7-Zip (trees,
// sizes, bytes, dates).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

struct File {
    uint64_t size = 0;
    int64_t modified = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const File &o) const = default;
};
// The paths whose entries differ, for a short failure message.
std::string Differences(const std::map<std::string, File> &a, const std::map<std::string, File> &b) {
    std::string out;
    for (const auto &[path, file] : a)
        if (!b.count(path) || !(b.at(path) == file)) out += " " + path;
    for (const auto &[path, file] : b)
        if (!a.count(path)) out += " +" + path;
    return out;
}

struct Ours {
    int32_t error = -1;
    std::string label;
    std::map<std::string, File> files;          // "a/b.txt"
    std::multimap<std::string, int32_t> parts;  // name -> start
};

std::string Slashes(std::string name) {
    if (!name.empty() && name[0] == '\\') name.erase(0, 1);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// Everything the engine lists with the bit on, every file extracted (joined) from a scratch folder.
Ours ListOurs(const std::string &image, const std::string &scratch) {
    Ours out;
    out.error = 0;  // left as it is on success
    QorvexHandle h = QorvexOpen(image.c_str(), OPEN_UDF_2X, &out.error);
    if (!h) return out;
    const int32_t files = QorvexGetFileStart(h, 0, KIND_UDF);
    for (int32_t i = 0; i < files; ++i) {
        EntryInfo e{};
        QorvexGetNextFile(h, &e);
        if (e.extent_index != 0) continue;
        const std::string target = scratch + "/f" + std::to_string(i);
        EXPECT_EQ(QorvexExtractCurrentFile2(h, target.c_str(), 0), 0) << e.name;
        File f;
        f.bytes = ReadFile(target);
        f.size = f.bytes.size();
        f.modified = e.time;
        out.files[Slashes(e.name)] = f;
    }
    const int32_t parts = QorvexGetModuleStart(h, 0, KIND_UDF);
    for (int32_t i = 0; i < parts; ++i) {
        EntryInfo e{};
        QorvexGetNextModule(h, &e);
        out.parts.emplace(e.name, e.start);
    }
    char label[64] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    QorvexGetImageInformation(h, 0, KIND_UDF, label, &sectors, &bytes);
    out.label = label;
    QorvexClose(h);
    return out;
}

// udfinfo's key=value lines; "start=N, blocks=M, type=T" lines as type -> starts.
struct UdfInfo {
    std::map<std::string, std::string> values;
    std::multimap<std::string, int32_t> areas;
};
UdfInfo RunUdfInfo(const std::string &image) {
    UdfInfo info;
    std::istringstream in(CaptureCommand("udfinfo '" + image + "' 2>/dev/null"));
    for (std::string line; std::getline(in, line);) {
        int32_t start = 0, blocks = 0;
        char type[32] = {};
        if (std::sscanf(line.c_str(), "start=%d, blocks=%d, type=%31s", &start, &blocks, type) == 3)
            info.areas.emplace(type, start);
        else if (const size_t eq = line.find('='); eq != std::string::npos)
            info.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return info;
}

std::vector<int32_t> Starts(const std::multimap<std::string, int32_t> &m, const std::string &key) {
    std::vector<int32_t> out;
    for (auto [it, end] = m.equal_range(key); it != end; ++it) out.push_back(it->second);
    std::sort(out.begin(), out.end());
    return out;
}

// The files udfclient finds under the volume's file set, each fetched with `get` (bytes and modification time).
std::map<std::string, File> UdfClientFiles(const std::string &image, const std::string &scratch) {
    auto run = [&](const std::string &commands) {
        return CaptureCommand("printf '" + commands + "quit\\n' | timeout 60 udfclient -b 2048 '" + image + "' 2>&1");
    };
    std::string volume;
    {
        std::istringstream in(run("ls\\n"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("drwx", 0) == 0) volume = line.substr(line.rfind(' ') + 1);
    }
    // One run lists every folder of a depth (the output of each follows its "working directory" line), one
    // run fetches every file; udfclient takes about a second per run.
    std::map<std::string, std::vector<std::string>> names;  // folder -> its files
    std::vector<std::string> level{""};
    for (int depth = 0; !level.empty() && depth < 16; ++depth) {
        std::string commands;
        for (const std::string &folder : level) commands += "cd /" + volume + "/" + folder + "\\nls\\n";
        std::istringstream in(run(commands));
        std::vector<std::string> next;
        std::string folder;
        const std::string marker = "UDF working directory is     /" + volume + "/";
        for (std::string line; std::getline(in, line);) {
            if (const size_t at = line.find(marker); at != std::string::npos) {
                folder = line.substr(at + marker.size());
                if (!folder.empty() && folder.back() != '/') folder += "/";
                continue;
            }
            if (line.size() < 2 || (line[0] != '-' && line[0] != 'd') || line[1] != 'r') continue;
            // "mode  uid  gid  size  name": the name is what follows the fourth field.
            std::istringstream fields(line);
            std::string mode, uid, gid, size, name;
            fields >> mode >> uid >> gid >> size;
            std::getline(fields >> std::ws, name);
            if (name == "." || name == ".." || name.find(':') != std::string::npos) continue;
            if (mode[0] == 'd')
                next.push_back(folder + name + "/");
            else
                names[folder].push_back(name);
        }
        level = next;
    }
    std::string gets;
    size_t k = 0;
    std::map<std::string, std::string> local;  // folder -> scratch folder
    for (const auto &[folder, files] : names) {
        local[folder] = scratch + "/uc" + std::to_string(k++);
        RunCommand("mkdir -p '" + local[folder] + "'");
        gets += "cd /" + volume + "/" + folder + "\\nlcd " + local[folder] + "\\n";
        for (const std::string &name : files) gets += "get " + name + "\\n";
    }
    run(gets);
    std::map<std::string, File> files;
    for (const auto &[folder, list] : names)
        for (const std::string &name : list) {
            const std::string path = local[folder] + "/" + name;
            File f;
            f.bytes = ReadFile(path);
            f.size = f.bytes.size();
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0) f.modified = st.st_mtime;
            if (f.size != 0) files[folder + name] = f;  // an empty file is no file of the engine's list
        }
    return files;
}

// 7-Zip's files with their bytes and modification times (UTC).
std::map<std::string, File> SevenZipFiles(const std::string &image, const std::string &scratch) {
    std::map<std::string, File> files;
    const std::string out = scratch + "/7z";
    if (RunCommand("7z x -y -o'" + out + "' '" + image + "' > /dev/null 2>&1") != 0) return files;
    std::istringstream in(CaptureCommand("cd '" + out + "' && find . -type f -printf '%P\\t%T@\\n'"));
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        File f;
        f.bytes = ReadFile(out + "/" + line.substr(0, tab));
        f.size = f.bytes.size();
        f.modified = std::stoll(line.substr(tab + 1));
        if (f.size != 0) files[line.substr(0, tab)] = f;
    }
    return files;
}

class Udf2xInterop : public ::testing::Test {
protected:
    void Need(std::initializer_list<const char *> tools) {
        for (const char *tool : tools)
            if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    TempDir dir;
};

// Every media type at every revision mkudffs writes: the volume opens with the bit, the blocks of its
// structures are udfinfo's; what opened without the bit lists the same with it.
TEST_F(Udf2xInterop, MkudffsEveryMediaTypeAndRevision) {
    Need({"mkudffs", "udfinfo"});
    int made = 0;
    for (const char *media : {"hd", "dvd", "dvdrw", "cdr", "cdrw", "bdr"}) {
        for (const char *revision : {"0x0102", "0x0150", "0x0200", "0x0201", "0x0250", "0x0260"}) {
            SCOPED_TRACE(std::string(media) + " " + revision);
            const std::string image = dir / (std::string(media) + revision + ".img");
            // mkudffs refuses the combinations the media cannot carry (cdrw at 1.02, bdr below 2.50, ...).
            if (RunCommand("mkudffs --media-type=" + std::string(media) + " --udfrev=" + revision +
                           " --blocksize=2048 --label=Q" + media + " '" + image + "' 8000 > /dev/null 2>&1") != 0)
                continue;
            ++made;
            const Ours ours = ListOurs(image, dir.path());
            ASSERT_EQ(ours.error, 0);
            const UdfInfo info = RunUdfInfo(image);
            // The label of a volume without files is not given (as described); udfinfo's is checked on the
            // builder's populated volumes.
            EXPECT_EQ(info.values.at("label"), std::string("Q") + media);
            EXPECT_TRUE(ours.files.empty());
            EXPECT_EQ(ours.parts.count("udf entry  \\"), 1u);
            EXPECT_EQ(Starts(ours.parts, "LVID"), Starts(info.areas, "LVID"));
            std::vector<int32_t> anchors;
            for (const auto &[name, start] : ours.parts)
                if (name.rfind("AVDP", 0) == 0) anchors.push_back(start);
            std::sort(anchors.begin(), anchors.end());
            EXPECT_EQ(anchors, Starts(info.areas, "ANCHOR"));
            const std::string main = ours.parts.count("PVD  (main)") ? "PVD  (main)" : "PVD";
            EXPECT_EQ(Starts(ours.parts, main), Starts(info.areas, "MVDS"));
            std::vector<int32_t> tables;
            for (const auto &[name, start] : ours.parts)
                if (name.rfind("SPARING TABLE", 0) == 0) tables.push_back(start);
            std::sort(tables.begin(), tables.end());
            EXPECT_EQ(tables, Starts(info.areas, "STABLE"));
            if (info.values.count("vatblock")) {
                EXPECT_EQ(Starts(ours.parts, "VAT ICB"), std::vector<int32_t>{std::stoi(info.values.at("vatblock"))});
            } else {
                EXPECT_EQ(ours.parts.count("VAT ICB"), 0u);
            }

            int32_t error = 0;
            QorvexHandle plain = QorvexOpen(image.c_str(), 0, &error);
            if (plain) {
                // Opened before: the same parts with the bit (none of the new kinds appear).
                std::multimap<std::string, int32_t> before;
                const int32_t n = QorvexGetModuleStart(plain, 0, KIND_UDF);
                for (int32_t i = 0; i < n; ++i) {
                    EntryInfo e{};
                    QorvexGetNextModule(plain, &e);
                    before.emplace(e.name, e.start);
                }
                QorvexClose(plain);
                EXPECT_EQ(before, ours.parts);
            }
        }
    }
    EXPECT_GE(made, 20) << "mkudffs wrote fewer combinations than expected";
}

struct Built {
    const char *name;
    UdfMapping mapping;
    bool extended;
    bool vat150;
    std::vector<uint32_t> spared;
    bool broken_main;  // metadata file unreadable: the mirror is read
};

UdfOptions PeerTree(const Built &c) {
    UdfOptions o;
    o.mapping = c.mapping;
    o.nsr = "NSR03";
    o.all_extended = c.extended;
    o.vat150 = c.vat150;
    o.spared_packets = c.spared;
    if (c.mapping == UdfMapping::Sparable) o.partition_start = 320;
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 97);
    UdfNode split = UdfFileNode("split.bin", big.substr(0, 3 * 4096), UdfAd::Long);  // whole blocks but the last
    split.extents = 3;
    UdfNode dated = UdfFileNode("dated.txt", "zone");
    dated.modified = {2011, 12, 13, 14, 15, 16, -300};
    std::vector<UdfNode> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(UdfFileNode("entry_number_" + std::to_string(i) + ".txt", "#" + std::to_string(i)));
    o.root.children = {UdfFileNode("a.txt", "hello"),
                       UdfDirNode("Sub_Dir", {UdfFileNode("big.bin", big),
                                              UdfDirNode("deeper", {UdfFileNode("c.txt", "x", UdfAd::Embedded)})}),
                       split, dated, UdfDirNode("many", many)};
    return o;
}

// Builder layouts no tool here can write: trees, sizes, bytes and dates equal udfclient's (which reads every
// map kind), labels equal udfinfo's.
TEST_F(Udf2xInterop, BuilderLayoutsMatchUdfclient) {
    Need({"udfclient", "udfinfo"});
    for (const Built &c : {Built{"physical, extended entries", UdfMapping::Physical, true, false, {}, false},
                           Built{"virtual", UdfMapping::Virtual, true, false, {}, false},
                           Built{"virtual 1.50", UdfMapping::Virtual, false, true, {}, false},
                           Built{"sparable", UdfMapping::Sparable, true, false, {32, 64}, false},
                           Built{"metadata", UdfMapping::Metadata, true, false, {}, false},
                           Built{"metadata, mirror", UdfMapping::Metadata, true, false, {}, true}}) {
        SCOPED_TRACE(c.name);
        UdfImage image = BuildUdf(PeerTree(c));
        const std::string path = dir / "b.img", intact = dir / "intact.img";
        WriteFile(intact, image.bytes);
        // udfclient does not fall back to the mirror: it reads the intact image, the engine the damaged one.
        if (c.broken_main) image.At(image.layout.metadata_file)[40] ^= 0xFF;
        WriteFile(path, image.bytes);
        const std::string scratch = dir / (std::string("s") + std::to_string(c.mapping == UdfMapping::Metadata) +
                                           std::to_string(c.broken_main) + std::to_string(c.vat150) +
                                           std::to_string(static_cast<int>(c.mapping)));
        RunCommand("mkdir -p '" + scratch + "'");
        const Ours ours = ListOurs(path, scratch);
        ASSERT_EQ(ours.error, 0);
        EXPECT_EQ(ours.label, RunUdfInfo(path).values["label"]);
        const std::map<std::string, File> theirs = UdfClientFiles(intact, scratch);
        EXPECT_EQ(theirs.size(), 45u);
        EXPECT_EQ(Differences(ours.files, theirs), "");
        if (c.mapping == UdfMapping::Sparable) {
            std::vector<int32_t> tables;
            for (const auto &[name, start] : ours.parts)
                if (name.rfind("SPARING TABLE", 0) == 0) tables.push_back(start);
            std::sort(tables.begin(), tables.end());
            EXPECT_EQ(tables, Starts(RunUdfInfo(path).areas, "STABLE"));
        }
        if (c.mapping == UdfMapping::Virtual) {
            EXPECT_EQ(Starts(ours.parts, "VAT ICB"),
                      std::vector<int32_t>{std::stoi(RunUdfInfo(path).values["vatblock"])});
        }
    }
}

// 7-Zip reads the physical layout with extended file entries: the same files, bytes and dates.
TEST_F(Udf2xInterop, ExtendedEntriesMatchSevenZip) {
    Need({"7z"});
    const UdfImage image = BuildUdf(PeerTree({"", UdfMapping::Physical, true, false, {}, false}));
    const std::string path = dir / "e.img";
    WriteFile(path, image.bytes);
    const Ours ours = ListOurs(path, dir.path());
    ASSERT_EQ(ours.error, 0);
    const std::map<std::string, File> theirs = SevenZipFiles(path, dir.path());
    EXPECT_EQ(theirs.size(), 45u);
    EXPECT_EQ(Differences(ours.files, theirs), "");
}

}  // namespace
}  // namespace qorvex::test
