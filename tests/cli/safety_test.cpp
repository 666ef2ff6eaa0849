// qorvex extract and ls against hostile images: cut names and folders left out for depth are reported, never
// written as if whole; names reach the terminal without control characters; files go out in few large writes.
// (Planted destinations, colliding names and failed files are the extraction job's: tests/host.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness/cli_harness.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace cli_test {
namespace {

namespace qt = qorvex::test;

// Joliet names of a deep path are cut at the record's 1023 bytes: both files below would meet at one cut name.
TEST(ExtractNames, CutNamesAreRefusedNamingTheirFolderAndDeepFoldersAreReported) {
    TempDir dir;
    std::string path = dir / "src";
    for (int i = 1; i <= 11; ++i) path += "/d" + std::to_string(i) + std::string(96, 'x');
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(path)), 0);
    WriteFile(path + "/first-file-with-a-long-name.txt", "one");
    WriteFile(path + "/second-file-with-a-long-name.txt", "two");
    WriteFile(dir / "src/ok.txt", "ok");
    MakeIso(dir / "cut.iso", "-J -joliet-long -udf -D", dir / "src");

    for (const char *fs : {"joliet", "udf"}) {
        SCOPED_TRACE(fs);
        const std::string out = dir / (std::string("cut-") + fs);
        Result cut = Qorvex({"extract", dir / "cut.iso", "--fs", fs, "-o", out});
        EXPECT_EQ(cut.status, 1);
        EXPECT_EQ(cut.err.rfind("qorvex: \\d1" + std::string(96, 'x') + "\\", 0), 0u) << cut.err;
        EXPECT_NE(cut.err.find("were cut"), std::string::npos) << cut.err;
        EXPECT_EQ(std::count(cut.err.begin(), cut.err.end(), '\n'), 1) << "one report for the folder: " << cut.err;
        EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"ok.txt"}) << "nothing under a cut name";
    }

    // 260 folders deep: what lies below 256 is not listed, and the host says so.
    std::string deep = dir / "deep";
    for (int i = 0; i < 260; ++i) deep += "/d";
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(deep)), 0);
    WriteFile(deep + "/bottom.txt", "bottom");
    WriteFile(dir / "deep/top.txt", "top");
    MakeIso(dir / "deep.iso", "-J -D", dir / "deep");
    for (const char *command : {"extract", "ls"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, dir / "deep.iso"};
        if (std::string(command) == "extract") args.insert(args.end(), {"-o", dir / "deepout"});
        Result r = Qorvex(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("more than 256 folders deep"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadText(dir / "deepout/top.txt"), "top");
}

TEST(ListNames, ControlCharactersNeverReachTheTerminalAndJsonStaysValid) {
    TempDir dir;
    qt::IsoOptions o;
    o.joliet = true;
    qt::IsoNode c1 = qt::File("C1.TXT;1", "c1");
    c1.joliet = u"a\u009B2Jb";  // CSI as a character
    qt::IsoNode esc = qt::File("ESC.TXT;1", "esc");
    esc.joliet = u"c\u001B[2Jd\u007F";
    WriteFile(dir / "names.iso", qt::BuildIso({c1, esc}, o).bytes);
    // A raw 0x9B byte (CSI to an 8-bit terminal) in an ISO 9660 name, and a name of quotes, backslashes, a byte
    // that is no UTF-8 and control bytes.
    qt::IsoImage raw = qt::BuildIso({qt::File("RAWQ.TXT;1", "raw"), qt::File("QQQQQQQQ", "odd")});
    std::vector<uint8_t> bytes = raw.bytes;
    ASSERT_EQ(Patch(&bytes, "RAWQ", std::string("RA\x9BQ")), 1);
    ASSERT_EQ(Patch(&bytes, "QQQQQQQQ", "a\"b\\\xff\x01\x1b\x63"), 1);
    WriteFile(dir / "raw.iso", bytes);

    for (const char *image : {"names.iso", "raw.iso"}) {
        for (const char *form : {"", "--long"}) {
            SCOPED_TRACE(std::string(image) + " " + form);
            std::vector<std::string> args = {"ls", dir / image};
            if (*form) args.push_back(form);
            Result r = Qorvex(args);
            ASSERT_EQ(r.status, 0) << r.err;
            for (const char *control : {"\x1b", "\x7f", "\xc2\x9b", "\x9b"})
                EXPECT_EQ(r.out.find(control), std::string::npos) << r.out;
        }
    }
    EXPECT_NE(Qorvex({"ls", dir / "names.iso"}).out.find("\\a?2Jb"), std::string::npos);
    Result json = Qorvex({"ls", dir / "names.iso", "--json"});
    EXPECT_NE(json.out.find("a\\u009b2Jb"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("c\\u001b[2Jd\\u007f"), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("\xc2\x9b"), std::string::npos);
    // The JSON stays valid: Python reads the odd name back, with the bytes of the name beside it.
    json = Qorvex({"ls", dir / "raw.iso", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string parsed = EachJsonEntry(json.out, "print(ascii(e[\"name\"]), e.get(\"name_hex\"))");
    EXPECT_NE(parsed.find("'\\\\a\"b\\\\\\ufffd\\x01\\x1bc' 5c6122625cff011b63"), std::string::npos)
        << parsed << json.out;
}

// Files are filled in large pieces (copied inside the kernel, or the engine's 2 KiB blocks gathered): a 4 MiB file
// takes a handful of calls, a small file one.
TEST(ExtractWrites, FewLargeWrites) {
    if (!qorvex::test::HaveProgram("strace")) GTEST_SKIP() << "strace missing";
    TempDir dir;
    std::vector<qt::IsoNode> files = {qt::File("BIG.BIN;1", qt::Pattern(4 << 20, 5))};
    for (int i = 0; i < 20; ++i) files.push_back(qt::File("S" + std::to_string(i) + ".TXT;1", "small"));
    WriteFile(dir / "w.iso", qt::BuildIso(files).bytes);
    const std::string log = dir / "writes";
    // The leak checker of a sanitizer build cannot run under ptrace; the write count does not need it.
    ASSERT_EQ(
        RunCommand("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y -e trace=write,pwrite64,copy_file_range,sendfile -o " +
                   Quote(log) + " " + Quote(std::getenv("QORVEX_CLI")) + " extract " + Quote(dir / "w.iso") + " -o " +
                   Quote(dir / "out")),
        0);
    // Writes into the extracted files only (strace -y names each descriptor's file): what goes to the terminal or
    // a sanitizer's own pipes is not counted.
    int writes = 0;
    const std::string into = "</" + std::string(dir / "out").substr(1);
    std::istringstream lines(ReadText(log));
    for (std::string line; std::getline(lines, line);) writes += line.find(into) != std::string::npos;
    EXPECT_GE(writes, 1 + 20) << "every file is written: " << ReadText(log).substr(0, 2000);
    EXPECT_LE(writes, 4 + 20 + 2) << ReadText(log).substr(0, 2000);
    EXPECT_TRUE(ReadFile(dir / "out/BIG.BIN") == qt::Pattern(4 << 20, 5));
}

}  // namespace
}  // namespace cli_test
