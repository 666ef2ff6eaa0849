// qorvex ls / extract on UDF: a genisoimage bridge disc against 7-Zip, and a built volume whose file is
// recorded in several extents.
#include <gtest/gtest.h>

#include <sstream>

#include "support/harness/cli_harness.h"
#include "support/udf_builder.h"

namespace cli_test {
namespace {

TEST(UdfCli, BridgeDiscExtractsLikeSevenZipIncludingEmptyFiles) {
    TempDir dir;
    const std::string src = dir / "src";
    RunCommand("mkdir -p " + Quote(src + "/Docs/Sub"));
    WriteFile(src + "/Docs/Sub/empty", "");
    WriteFile(src + "/Docs/long name with spaces.txt", std::string(4097, 'q'));
    WriteFile(src + "/top.bin", std::string(2048, 't'));
    MakeIso(dir / "bridge.iso", "-udf -input-charset utf-8", src);

    Result info = Qorvex({"info", dir / "bridge.iso"});
    EXPECT_NE(info.out.find("UDF       label \"CDROM\", 2 files"), std::string::npos) << info.out;

    Result r = Qorvex({"extract", dir / "bridge.iso", "--fs", "udf", "-o", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(RunCommand("7z x -y -o" + Quote(dir / "seven") + " " + Quote(dir / "bridge.iso") + " >/dev/null"), 0);
    std::vector<std::string> files = FilesBelow(dir / "out");
    EXPECT_EQ(files, FilesBelow(dir / "seven"));
    EXPECT_EQ(files, FilesBelow(src));
    for (const auto &f : files) EXPECT_TRUE(ReadFile(dir / "out/" + f) == ReadFile(src + "/" + f)) << f;
}

TEST(UdfCli, FileInSeveralExtentsIsListedPerExtentAndExtractedWhole) {
    TempDir dir;
    qorvex::test::UdfOptions options;
    std::string data;
    for (int i = 0; i < 3 * 2048 + 100; ++i) data += static_cast<char>('a' + i % 23);
    qorvex::test::UdfNode split = qorvex::test::UdfFileNode("SPLIT.BIN", data);
    split.extents = 3;
    options.root.children = {split, qorvex::test::UdfDirNode("D", {qorvex::test::UdfFileNode("E.TXT", "e")})};
    WriteFile(dir / "u.img", BuildUdf(options).bytes);

    Result list = Qorvex({"ls", dir / "u.img", "--long"});
    ASSERT_EQ(list.status, 0) << list.err;
    std::istringstream in(list.out);
    std::string line, extents;
    while (std::getline(in, line)) {
        if (line.find("\\SPLIT.BIN") == std::string::npos) continue;
        std::istringstream fields(line);
        std::string size, date, start, sectors, extent;
        fields >> size >> date >> start >> sectors >> extent;
        extents += extent + " ";
    }
    EXPECT_EQ(extents, "0/3 1/3 2/3 ") << list.out;

    Result r = Qorvex({"extract", dir / "u.img", "-o", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesBelow(dir / "out"), (std::vector<std::string>{"D/E.TXT", "SPLIT.BIN"}));
    EXPECT_EQ(ReadText(dir / "out/SPLIT.BIN"), data);

    // The same file asked for by name.
    ASSERT_EQ(Qorvex({"extract", dir / "u.img", "-o", dir / "one", "split.bin", "/SPLIT.BIN"}).status, 1);
    EXPECT_EQ(ReadText(dir / "one/SPLIT.BIN"), data);
}

}  // namespace
}  // namespace cli_test
