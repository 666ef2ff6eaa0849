// What the QorvexEx* exports tell beyond EntryInfo: cut names and multi-extent records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

TEST(ExtensionExports, FlagsOfRecordsAndNames) {
    TempDir dir;
    IsoNode split = File("SPLIT.BIN;1", Pattern(3 * 2048 + 100));
    split.extent_size = 2048;
    // Joliet names of 100 characters, eleven folders deep: the file's path passes the 1023-byte record.
    std::u16string long_name(100, u'n');
    IsoNode deep = File("DEEP.TXT;1", "deep");
    deep.joliet = long_name + u".txt";
    for (int i = 0; i < 11; ++i) {
        IsoNode folder = Dir("D" + std::to_string(i), {deep});
        folder.joliet = long_name + std::u16string(1, char16_t(u'a' + i));
        deep = folder;
    }
    IsoOptions o;
    o.joliet = true;
    WriteFile(dir / "x.iso", BuildIso({split, File("PLAIN.TXT;1", "p"), deep}, o).bytes);
    Opened image(dir / "x.iso");
    ASSERT_TRUE(image) << image.error();

    const std::vector<Detailed> iso = ListDetailed(image.get(), 0, KIND_ISO9660);
    const std::vector<Detailed> joliet = ListDetailed(image.get(), 0, KIND_JOLIET);
    for (const Detailed &e : iso) EXPECT_EQ(e.details, 0) << e.name();
    for (const Detailed &e : joliet) EXPECT_EQ(e.details, 0) << e.name();
    ASSERT_EQ(iso.size(), 6u);  // four records of SPLIT.BIN, PLAIN.TXT, DEEP.TXT
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(iso[i].name(), "\\SPLIT.BIN;1");
        EXPECT_EQ((iso[i].ex.flags & QORVEX_EX_MULTI_EXTENT) != 0, i < 3) << "record " << i;
        EXPECT_EQ(iso[i].ex.iso_file_flags & 0x80, i < 3 ? 0x80u : 0u);
    }
    EXPECT_EQ(iso[4].ex.flags, QORVEX_EX_HAS_DATE);
    EXPECT_EQ(iso[4].ex.type, QORVEX_EX_TYPE_FILE);

    ASSERT_EQ(joliet.size(), 6u);
    const Detailed &cut = joliet.back();
    EXPECT_EQ(cut.ex.flags & QORVEX_EX_NAME_CUT, QORVEX_EX_NAME_CUT);
    EXPECT_EQ(cut.ex.name_length, 11u * 102 + 105);  // "\" + 11 x (101 + "\") + 104 characters
    EXPECT_EQ(cut.name().size(), 1023u);
    EXPECT_EQ(joliet[4].ex.flags & QORVEX_EX_NAME_CUT, 0u);

    // Details need a current entry and a record of the right size.
    QorvexExEntry small{};
    small.struct_size = 16;
    EXPECT_EQ(QorvexExGetCurrentFile(image.get(), &small), ENGINE_BAD_KIND);
    QorvexGetFileStart(image.get(), 0, KIND_ISO9660);
    QorvexExEntry none{};
    none.struct_size = sizeof none;
    EXPECT_EQ(QorvexExGetCurrentFile(image.get(), &none), ENGINE_NO_CURRENT_ENTRY);
    EXPECT_EQ(QorvexExGetCurrentFile(nullptr, &none), ENGINE_NO_CURRENT_ENTRY);
}

}  // namespace
}  // namespace qorvex::test
