// qorvex info / ls / extract-part against what 7-Zip lists from the same genisoimage images.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/harness/cli_harness.h"
#include "support/peers.h"

namespace cli_test {
namespace {

using qorvex::test::PortablePath;

class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        src = dir / "src";
        RunCommand("mkdir -p " + Quote(src + "/deep/er/and/deeper/still") + " " + Quote(src + "/日本語フォルダ"));
        WriteFile(src + "/empty.dat", "");
        for (int n : {2047, 2048, 2049}) WriteFile(src + "/size" + std::to_string(n) + ".bin", std::string(n, 'z'));
        WriteFile(src + "/deep/er/and/deeper/still/leaf.txt", "leaf");
        WriteFile(src + "/日本語フォルダ/ファイル名.txt", "utf-8 names");
        WriteFile(src + "/Ünïcödé mixed Case name.text", "latin");
        RunCommand("touch -d '2001-02-03 04:05:06 UTC' " + Quote(src + "/size2048.bin"));
        MakeIso(dir / "joliet.iso", "-J -joliet-long -V 'LIST LABEL' -input-charset utf-8", src);
    }
    TempDir dir;
    std::string src;
};

TEST_F(ListTest, JolietListingMatchesSevenZip) {
    Result r = Qorvex({"ls", dir / "joliet.iso", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    WriteFile(dir / "list.json", r.out);
    // One "path<TAB>size" line per entry, as Python reads the JSON back.
    std::string lines = qorvex::test::CaptureCommand(
        "python3 -c 'import json,sys\nfor e in json.load(open(sys.argv[1])): "
        "print(e[\"name\"] + \"\\t\" + str(e[\"size\"]))' " +
        Quote(dir / "list.json"));
    std::map<std::string, std::string> ours;
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line))
        ours[PortablePath(line.substr(0, line.find('\t')))] = line.substr(line.find('\t') + 1);
    std::map<std::string, std::string> theirs;
    for (const auto &[path, item] : qorvex::test::SevenZipList(dir / "joliet.iso"))
        if (!item.folder) theirs[path] = std::to_string(item.size);
    ASSERT_EQ(theirs.size(), 7u);
    EXPECT_EQ(ours, theirs);

    // The plain listing gives the same names, one a line; auto chose Joliet.
    Result plain = Qorvex({"ls", dir / "joliet.iso"});
    EXPECT_NE(plain.out.find("\\日本語フォルダ\\ファイル名.txt\n"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out, Qorvex({"ls", dir / "joliet.iso", "--fs", "joliet"}).out);
}

TEST_F(ListTest, LongListingAndInfoShowDatesLabelsAndCounts) {
    Result iso = Qorvex({"ls", dir / "joliet.iso", "--fs", "iso", "--long"});
    ASSERT_EQ(iso.status, 0) << iso.err;
    std::istringstream in(iso.out);
    std::string line, found;
    while (std::getline(in, line))
        if (line.find("\\SIZE2048.BIN;1") != std::string::npos) found = line;
    ASSERT_FALSE(found.empty()) << iso.out;
    std::istringstream fields(found);
    std::string size, date, start, sectors, extent;
    fields >> size >> date >> start >> sectors >> extent;
    EXPECT_EQ(size, "2048");
    EXPECT_EQ(date, "2001-02-03T04:05:06Z");
    EXPECT_EQ(sectors, "1");
    EXPECT_EQ(extent, "0/1");

    Result info = Qorvex({"info", dir / "joliet.iso"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("ISO 9660  label \"LIST LABEL\", 7 files"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Joliet    label \"LIST LABEL\", 7 files"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("UDF"), std::string::npos) << info.out;
    std::string sectors_text = std::to_string(ReadFile(dir / "joliet.iso").size() / 2048) + " sectors";
    EXPECT_NE(info.out.find(sectors_text), std::string::npos) << info.out;
}

TEST_F(ListTest, SystemPartsListAndExtractByName) {
    Result parts = Qorvex({"ls", dir / "joliet.iso", "--fs", "iso", "--system"});
    ASSERT_EQ(parts.status, 0) << parts.err;
    EXPECT_NE(parts.out.find("PVD\n"), std::string::npos) << parts.out;
    EXPECT_NE(parts.out.find("iso9660 folder \\DEEP\\ER\\\n"), std::string::npos) << parts.out;

    Result pvd = Qorvex({"extract-part", dir / "joliet.iso", "PVD", "-o", dir / "pvd.bin", "--fs", "iso"});
    ASSERT_EQ(pvd.status, 0) << pvd.err;
    std::vector<uint8_t> image = ReadFile(dir / "joliet.iso");
    std::vector<uint8_t> sector16(image.begin() + 16 * 2048, image.begin() + 17 * 2048);
    EXPECT_TRUE(ReadFile(dir / "pvd.bin") == sector16);

    // auto searches the other file systems too: the Joliet listing has no "PVD", ISO 9660 has.
    ASSERT_EQ(Qorvex({"extract-part", dir / "joliet.iso", "PVD", "-o", dir / "pvd2.bin"}).status, 0);
    EXPECT_TRUE(ReadFile(dir / "pvd2.bin") == sector16);

    Result missing = Qorvex({"extract-part", dir / "joliet.iso", "pvd", "-o", dir / "x.bin"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no system part named \"pvd\""), std::string::npos) << missing.err;
    EXPECT_FALSE(Exists(dir / "x.bin"));
}

TEST_F(ListTest, JsonStaysValidForHostileNameBytes) {
    TempDir odd;
    WriteFile(odd / "QQQQQQQQ", "odd");
    std::vector<uint8_t> image = MakeIso(odd / "odd.iso", "-iso-level 4", odd.path());
    ASSERT_GT(Patch(&image, "QQQQQQQQ",
                    std::string("a\"b\\\xff\x01\x1b"
                                "c",
                                8)),
              0);
    WriteFile(odd / "odd.iso", image);

    Result r = Qorvex({"ls", odd / "odd.iso", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    WriteFile(odd / "odd.json", r.out);
    std::string parsed = qorvex::test::CaptureCommand(
        "python3 -c 'import json,sys\nfor e in json.load(open(sys.argv[1])): print(ascii(e[\"name\"]), "
        "e.get(\"name_hex\"))' " +
        Quote(odd / "odd.json"));
    EXPECT_NE(parsed.find("'\\\\a\"b\\\\\\ufffd\\x01\\x1bc' 5c6122625cff011b63"), std::string::npos) << parsed << r.out;

    // The plain listing keeps control characters away from the terminal.
    Result plain = Qorvex({"ls", odd / "odd.iso"});
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace cli_test
