// What the QorvexEx* exports tell beyond EntryInfo: cut names and multi-extent records.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "qorvex_ext.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

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

// Where QorvexExGetFilePlace places the bytes of a UDF file read one extent at a time, the image file holds what
// QorvexExReadFile reads there, for runs that end at the extent's end or before. (Joined UDF files, ISO 9660
// extents and raw sectors, which are never placed, are read through their places by MountTest.)
TEST(ExtensionExports, FilePlacesHoldWhatRangedReadsRead) {
    TempDir dir;
    UdfOptions udf;
    UdfNode split = UdfFileNode("SPLIT.BIN", PatternText(5 * 2048 + 100, 3));
    split.extents = 3;
    udf.root.children = {split, UdfFileNode("INLINE.TXT", PatternText(900, 4), UdfAd::Embedded)};
    WriteFile(dir / "u.img", BuildUdf(udf).bytes);
    Opened image(dir / "u.img", OPEN_EXTENSIONS);
    ASSERT_TRUE(image) << image.error();
    const std::vector<Listed> files = ListEntries(image.get(), 0, KIND_UDF);
    ASSERT_EQ(files.size(), 4u);
    for (size_t i = 0; i < files.size(); ++i) {
        const uint64_t size = files[i].size();
        const int32_t index = static_cast<int32_t>(i);
        for (uint64_t at = 0; at <= size; at += 777) {
            SCOPED_TRACE(files[i].name() + " at " + std::to_string(at));
            char path[4096];
            int64_t place = -1;
            uint64_t length = 0;
            const int32_t r =
                QorvexExGetFilePlace(image.get(), 0, KIND_UDF, index, at, 0, path, sizeof path, &place, &length);
            if (at == size) {
                EXPECT_EQ(r, -1);
                continue;
            }
            ASSERT_GT(r, 0);
            ASSERT_TRUE(length > 0 && length <= size - at) << length;
            std::vector<uint8_t> stored(std::min<uint64_t>(length, 3000)), read(stored.size());
            std::ifstream in(path, std::ios::binary);
            in.seekg(place);
            in.read(reinterpret_cast<char *>(stored.data()), static_cast<std::streamsize>(stored.size()));
            EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(stored.size()));
            uint32_t done = 0;
            ASSERT_EQ(QorvexExReadFile(image.get(), 0, KIND_UDF, index, at, read.data(),
                                       static_cast<uint32_t>(read.size()), 0, &done),
                      0);
            EXPECT_EQ(done, read.size());
            EXPECT_EQ(stored, read);
        }
    }
}

}  // namespace
}  // namespace qorvex::test
