// Plain images of later sessions: a volume genisoimage wrote for a later session's address, and sessions
// xorriso appended to one file. Session starts are compared with xorriso's own reading of the file.
#include <gtest/gtest.h>

#include <algorithm>

#include "qorvex.h"
#include "support/harness/api_helpers.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

class MultiSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 1; i <= 3; ++i) {
            RunCommand("mkdir -p " + Quote(dir / ("s" + std::to_string(i))));
            WriteFile(dir / ("s" + std::to_string(i) + "/f" + std::to_string(i) + ".txt"),
                      std::string(3000 * i, static_cast<char>('a' + i)));
        }
    }
    TempDir dir;
};

TEST_F(MultiSessionTest, VolumeWrittenForALaterAddressOpensAtThatAddress) {
    struct Case {
        int address;
        uint8_t session;  // of the volume's track: 2 when there is room for a session before it
    } cases[] = {{20000, 2}, {11400, 2}, {300, 1}};
    for (const Case &c : cases) {
        const std::string image = dir / ("later" + std::to_string(c.address) + ".iso");
        ASSERT_EQ(RunCommand("genisoimage -quiet -C 0," + std::to_string(c.address) + " -o " + Quote(image) + " " +
                             Quote(dir / "s2") + " 2>/dev/null"),
                  0);
        EXPECT_FALSE(Opened(image, 0)) << "without the bit the plain probe stays as it was";
        Opened opened(image, OPEN_DISC_SHEETS);
        ASSERT_TRUE(opened) << c.address << std::hex << " 0x" << opened.error();
        const std::vector<TrackInfo> table = TrackTable(opened.get());
        ASSERT_EQ(table.size(), 2u);
        EXPECT_EQ(+table[0].end_held, table[0].start) << "the sessions before hold nothing here";
        EXPECT_EQ(+table[1].start, c.address);
        EXPECT_EQ(+table[1].session, c.session);
        const std::vector<Listed> files = ListEntries(opened.get(), 1, KIND_ISO9660);
        ASSERT_EQ(Names(files), std::vector<std::string>({"\\F2.TXT;1"}));
        ASSERT_EQ(QorvexGetFileStart(opened.get(), 1, KIND_ISO9660), 1);
        EntryInfo e{};
        QorvexGetNextFile(opened.get(), &e);
        ASSERT_EQ(QorvexExtractCurrentFile(opened.get(), (dir / "f2.out").c_str()), 0);
        EXPECT_TRUE(ReadFile(dir / "f2.out") == ReadFile(dir / "s2/f2.txt"));
    }
}

TEST_F(MultiSessionTest, AppendedSessionsAreTracksAtXorrisosSessionStarts) {
    const std::string image = dir / "appended.iso";
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(RunCommand("xorriso -dev " + Quote(image) + " -map " + Quote(dir / ("s" + std::to_string(i))) +
                             " /s" + std::to_string(i) + " -commit >/dev/null 2>&1"),
                  0);
    const std::vector<int> starts = XorrisoSessionStarts(image);
    ASSERT_EQ(starts.size(), 3u);

    Opened before(image, 0), opened(image, OPEN_DISC_SHEETS);
    ASSERT_TRUE(before && opened) << std::hex << opened.error();
    const std::vector<TrackInfo> table = TrackTable(opened.get());
    ASSERT_EQ(table.size(), 3u);
    for (size_t i = 0; i < starts.size(); ++i)  // the first from sector 0, where the newest descriptors are
        EXPECT_EQ(std::make_pair(+table[i].session, +table[i].start), std::make_pair(int(i) + 1, i ? starts[i] : 0));
    // The first track still lists what the file always listed: the newest descriptors at its start.
    EXPECT_EQ(Names(ListEntries(opened.get(), 0, KIND_ISO9660)), Names(ListEntries(before.get(), 0, KIND_ISO9660)));
    for (int32_t t = 1; t <= 2; ++t) {
        const std::vector<std::string> names = Names(ListEntries(opened.get(), t, KIND_ISO9660));
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [](const std::string &n) { return n.find(".TXT") != std::string::npos; }),
                  t + 1)
            << "track " << t + 1;
    }
}

}  // namespace
}  // namespace qorvex::test
