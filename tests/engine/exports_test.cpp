// The exported interface: symbols, unloading, bad input, walks and cursors, entry extraction and names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/text.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

std::string Library() {
    const char *path = std::getenv("QORVEX_LIBRARY");
    return path ? path : "";
}

TEST(ExportsTest, SharedLibraryExportsTheSeventeenNamesAndExtensionsOnly) {
    const std::string library = Library();
    if (library.empty()) GTEST_SKIP() << "QORVEX_LIBRARY not set";
    int status = 0;
    const std::string out = CaptureCommand("nm -D --defined-only '" + library + "' | awk '{print $NF}'", &status);
    ASSERT_EQ(status, 0);
    std::set<std::string> names;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        if (!line.empty()) names.insert(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    // The seventeen, and the additions of qorvex_ext.h.
    const std::set<std::string> expected = {"QorvexExGetCurrentFile",
                                            "QorvexExGetCurrentModule",
                                            "QorvexExGetSkippedFolders",
                                            "QorvexExGetTrackText",
                                            "QorvexExGetTrackIndexes",
                                            "QorvexExCopyFile",
                                            "QorvexExCloseImageFiles",
                                            "Qorvex",
                                            "QorvexOpen",
                                            "QorvexClose",
                                            "QorvexSetCallback",
                                            "QorvexGetFileCount",
                                            "QorvexGetFileStart",
                                            "QorvexGetNextFile",
                                            "QorvexExtractCurrentFile",
                                            "QorvexExtractCurrentFile2",
                                            "QorvexGetDllVersion",
                                            "QorvexGetImageInformation",
                                            "QorvexGetModuleStart",
                                            "QorvexGetNextModule",
                                            "QorvexExtractCurrentModule",
                                            "QorvexGetTrackCount",
                                            "QorvexGetTrackInfo",
                                            "QorvexExtractTrack"};
    EXPECT_EQ(names, expected);
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

TEST(ExportsTest, UnloadingTheLibraryDestroysOpenHandles) {
    const std::string library = Library();
    if (library.empty()) GTEST_SKIP() << "QORVEX_LIBRARY not set";
    TempDir dir;
    std::vector<IsoNode> files;
    for (int i = 0; i < 400; ++i) files.push_back(File("F" + std::to_string(i) + ".TXT;1", "x"));
    const std::string image = dir / "many.iso";
    WriteFile(image, BuildIso(files).bytes);

    size_t before = 0, loaded = 0;
    for (int round = 0; round < 2; ++round) {
        void *lib = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << ::dlerror();
        using OpenFn = QorvexHandle (*)(const char *, uint32_t, int32_t *);
        using VersionFn = int32_t (*)();
        using CountFn = int32_t (*)(QorvexHandle, int32_t, int32_t);
        auto open = reinterpret_cast<OpenFn>(::dlsym(lib, "QorvexOpen"));
        auto version = reinterpret_cast<VersionFn>(::dlsym(lib, "QorvexGetDllVersion"));
        auto count = reinterpret_cast<CountFn>(::dlsym(lib, "QorvexGetFileCount"));
        ASSERT_TRUE(open && version && count);
        EXPECT_EQ(version(), 100);
        if (round == 1) before = HeapInUse();
        for (int i = 0; i < 20; ++i) {
            QorvexHandle h = open(image.c_str(), 0, nullptr);
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(count(h, 0, KIND_ISO9660), 400);
        }
        if (round == 1) loaded = HeapInUse();
        ASSERT_EQ(::dlclose(lib), 0);  // handles still open
    }
    // Twenty scanned catalogues of 400 entries are released with the library (where the allocator tells).
    if (loaded > before + 200000) {
        EXPECT_LT(HeapInUse(), before + (loaded - before) / 4);
    }
}

TEST(ExportsTest, BadInputGivesCleanCodes) {
    TempDir dir;
    std::vector<std::string> paths;
    WriteFile(dir / "empty", std::string());
    WriteFile(dir / "tiny", std::string("CD001"));
    WriteFile(dir / "text.txt", std::string(100000, 'a'));
    {
        const std::string sparse = dir / "sparse";
        WriteFile(sparse, std::string());
        ASSERT_EQ(::truncate(sparse.c_str(), int64_t(20) << 30), 0);
    }
    WriteFile(dir / "locked", std::vector<uint8_t>(100 * 2048, 0));
    ::chmod((dir / "locked").c_str(), 0);
    ::mkdir((dir / "folder").c_str(), 0700);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const char *name : {"empty", "tiny", "text.txt", "sparse", "locked", "folder", "fifo", "missing"}) {
        int32_t error = 0;
        QorvexHandle h = QorvexOpen((dir / name).c_str(), OPEN_CHECK_EDC | OPEN_CHECK_POSITION, &error);
        EXPECT_EQ(h, nullptr) << name;
        EXPECT_EQ(error, ENGINE_UNKNOWN_FORMAT) << name;
    }
    int32_t error = 0;
    EXPECT_EQ(QorvexOpen(nullptr, 0, &error), nullptr);
    EXPECT_EQ(error, ENGINE_UNKNOWN_FORMAT);
    EXPECT_EQ(QorvexOpen((dir / "empty").c_str(), 0, nullptr), nullptr);

    // Calls on null or unknown handles change nothing and fail softly.
    EXPECT_EQ(QorvexClose(nullptr), 0);
    EntryInfo e{};
    int dummy = 0;
    QorvexHandle bogus = &dummy;
    EXPECT_EQ(QorvexGetTrackCount(bogus), 0);
    EXPECT_EQ(QorvexGetFileStart(bogus, 0, 1), 0);
    EXPECT_EQ(QorvexGetNextFile(bogus, &e), 0);
    EXPECT_EQ(QorvexExtractCurrentFile(bogus, nullptr), ENGINE_NO_CURRENT_ENTRY);
    EXPECT_EQ(QorvexGetTrackInfo(bogus, 0, nullptr), ENGINE_BAD_TRACK);
    EXPECT_EQ(QorvexGetDllVersion(), 100);
    EXPECT_EQ(Qorvex(1, 2), 0);
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        IsoOptions options;
        options.joliet = true;
        options.joliet_volume_id = u"A joliet label longer than 32 bytes";
        contents_ = Pattern(5 * 2048 + 100, 11);
        IsoNode hidden = File("HIDDEN.TXT;1", "secret");
        hidden.hidden = true;
        image_ = BuildIso({File("BIG.BIN;1", contents_), hidden, File("ZERO.TXT;1", std::vector<uint8_t>{})}, options);
        path_ = dir_ / "c.iso";
        WriteFile(path_, image_.bytes);
        handle_ = QorvexOpen(path_.c_str(), 0, nullptr);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override { QorvexClose(handle_); }

    TempDir dir_;
    IsoImage image_;
    std::vector<uint8_t> contents_;
    std::string path_;
    QorvexHandle handle_ = nullptr;
};

TEST_F(CatalogueTest, WalksAndCursors) {
    QorvexHandle h = handle_;
    EntryInfo e{};
    ASSERT_EQ(QorvexGetFileStart(h, 0, KIND_ISO9660), 3);
    std::vector<int32_t> results;
    for (int i = 0; i < 5; ++i) {
        std::memset(&e, 0x5A, sizeof e);
        results.push_back(QorvexGetNextFile(h, &e));
        EXPECT_EQ(e.kind, i < 3 ? 1 : 0x5A5A5A5A) << i;  // untouched past the end
    }
    EXPECT_EQ(results, (std::vector<int32_t>{2, 1, 0, 0, 0}));
    EXPECT_EQ(QorvexExtractCurrentFile2(h, nullptr, 1), ENGINE_NO_CURRENT_ENTRY);

    // An empty catalogue: nothing delivered, nothing to extract.
    EXPECT_EQ(QorvexGetFileStart(h, 0, KIND_UDF), 0);
    EXPECT_EQ(QorvexGetNextFile(h, &e), 0);
    EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), ENGINE_NO_CURRENT_ENTRY);

    // Kind 3 is stored as selected: no walk, no extraction.
    EXPECT_EQ(QorvexGetFileStart(h, 0, 3), 0);
    EXPECT_EQ(QorvexGetNextFile(h, &e), 0);
    EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), ENGINE_NO_CURRENT_ENTRY);

    // The selected kind is shared by both walks; the cursors are not.
    ASSERT_EQ(QorvexGetFileStart(h, 0, KIND_ISO9660), 3);
    ASSERT_EQ(QorvexGetNextFile(h, &e), 2);
    EXPECT_EQ(QorvexGetModuleStart(h, 0, 3), 0);
    EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), ENGINE_BAD_KIND);
    ASSERT_GT(QorvexGetModuleStart(h, 0, KIND_JOLIET), 0);
    EXPECT_EQ(QorvexGetNextFile(h, &e), 1);  // the old file cursor, now on the Joliet files
    EXPECT_EQ(e.kind, 11);
    EXPECT_EQ(std::string(e.name), "\\HIDDEN.TXT;1");

    // A start on a track that does not exist keeps the selection.
    EXPECT_EQ(QorvexGetFileStart(h, 1, KIND_ISO9660), 0);
    EXPECT_EQ(QorvexGetFileCount(h, 1, KIND_ISO9660), 0);
    EXPECT_EQ(QorvexGetFileCount(h, 0, 3), 0);
    EXPECT_EQ(QorvexGetNextFile(h, &e), 0);
    EXPECT_EQ(std::string(e.name), "\\ZERO.TXT;1");

    // Automatic choice takes Joliet; its label is cut to 32 bytes without a terminator.
    char label[48];
    std::memset(label, '#', sizeof label);
    int32_t sectors = 0;
    int64_t bytes = 0;
    EXPECT_EQ(QorvexGetImageInformation(h, 0, KIND_AUTO, label, &sectors, &bytes), 2);
    EXPECT_EQ(std::string(label, 17), "A joliet label l#");  // the label field holds 16 UCS-2 characters
    EXPECT_EQ(QorvexGetImageInformation(h, 0, KIND_UDF, label, &sectors, &bytes), 0);
    sectors = -7;
    EXPECT_EQ(QorvexGetImageInformation(h, 1, KIND_AUTO, label, &sectors, &bytes), 0);
    EXPECT_EQ(sectors, -7);
}

TEST_F(CatalogueTest, CopyLoopCallbackRules) {
    QorvexHandle h = handle_;
    EntryInfo e{};
    ASSERT_EQ(QorvexGetFileStart(h, 0, KIND_ISO9660), 3);
    ASSERT_EQ(QorvexGetNextFile(h, &e), 2);
    ASSERT_EQ(std::string(e.name), "\\BIG.BIN;1");
    const std::string out = dir_ / "sub/dir/big.bin";

    Collector first;
    first.stop_at = 0;
    QorvexSetCallback(h, &Collector::Callback, &first);
    EXPECT_EQ(QorvexExtractCurrentFile(h, out.c_str()), ENGINE_ABORTED);
    EXPECT_EQ(first.blocks.size(), 6u);  // a stop on the first chunk is only remembered
    EXPECT_EQ(ReadFile(out), contents_);
    EXPECT_EQ(first.blocks.back().size(), 100u);

    Collector later;
    later.stop_at = 2;
    QorvexSetCallback(h, &Collector::Callback, &later);
    EXPECT_EQ(QorvexExtractCurrentFile(h, out.c_str()), ENGINE_ABORTED);
    EXPECT_EQ(later.blocks.size(), 3u);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), contents_.size());  // presized

    Collector sink;
    QorvexSetCallback(h, &Collector::Callback, &sink);
    EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), 0);
    EXPECT_EQ(sink.Joined(), contents_);
    QorvexSetCallback(h, nullptr, nullptr);
    EXPECT_EQ(QorvexExtractCurrentFile2(h, nullptr, 0), 0);  // joined: the entry fills its own slot

    // Hidden attribute is reported; a zero-byte entry reads its sector and reports one empty block.
    ASSERT_EQ(QorvexGetNextFile(h, &e), 1);
    EXPECT_EQ(e.attributes, 0x02);
    ASSERT_EQ(QorvexGetNextFile(h, &e), 0);
    EXPECT_EQ(e.size_low, 0u);
    Collector zero;
    QorvexSetCallback(h, &Collector::Callback, &zero);
    const std::string empty_out = dir_ / "zero.txt";
    EXPECT_EQ(QorvexExtractCurrentFile(h, empty_out.c_str()), 0);
    ASSERT_EQ(zero.blocks.size(), 1u);
    EXPECT_TRUE(zero.blocks[0].empty());
    ASSERT_EQ(::stat(empty_out.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    QorvexSetCallback(h, nullptr, nullptr);

    // System parts extract as their sectors.
    ASSERT_GT(QorvexGetModuleStart(h, 0, KIND_ISO9660), 0);
    ASSERT_GT(QorvexGetNextModule(h, &e), 0);
    ASSERT_EQ(std::string(e.name), "PVD");
    const std::string pvd = dir_ / "pvd.bin";
    ASSERT_EQ(QorvexExtractCurrentModule(h, pvd.c_str()), 0);
    EXPECT_EQ(ReadFile(pvd), std::vector<uint8_t>(image_.bytes.begin() + 16 * 2048, image_.bytes.begin() + 17 * 2048));
}

TEST_F(CatalogueTest, ZeroByteEntryOutsideTheImageFailsToSeek) {
    QorvexClose(handle_);
    image_.SetExtent(image_.iso.at("\\ZERO.TXT;1").record, image_.Sectors() + 10);
    WriteFile(path_, image_.bytes);
    handle_ = QorvexOpen(path_.c_str(), 0, nullptr);
    ASSERT_NE(handle_, nullptr);
    EntryInfo e{};
    ASSERT_EQ(QorvexGetFileStart(handle_, 0, KIND_ISO9660), 3);
    while (QorvexGetNextFile(handle_, &e) != 0) {
    }
    ASSERT_EQ(std::string(e.name), "\\ZERO.TXT;1");
    EXPECT_EQ(QorvexExtractCurrentFile(handle_, nullptr), ENGINE_SEEK_FAILED);
    // The image file was truncated behind the engine's back: reads fail cleanly.
    ::truncate(path_.c_str(), 30 * 2048);
    ASSERT_EQ(QorvexGetFileStart(handle_, 0, KIND_ISO9660), 3);
    QorvexGetNextFile(handle_, &e);
    const int32_t result = QorvexExtractCurrentFile(handle_, nullptr);
    EXPECT_TRUE(result == ENGINE_SEEK_FAILED || result == ENGINE_READ_FAILED) << std::hex << result;
}

TEST(NamesTest, JolietNamesOutsideTheCodePageAndOverlongPaths) {
    TempDir dir;
    IsoNode cafe = Dir("CAFE", {File("F.TXT;1", "f")});
    cafe.joliet = u"caf\u00e9";
    IsoNode japanese = File("JP.TXT;1", "j");
    japanese.joliet = u"\u65e5\u672c.txt";
    IsoOptions options;
    options.joliet = true;
    options.joliet_volume_id = u"\u30e9\u30d9\u30eb";
    const std::string path = dir / "n.iso";
    WriteFile(path, BuildIso({cafe, japanese}, options).bytes);

    {
        Opened h(path);
        ASSERT_TRUE(h);
        auto files = ListEntries(h.get(), 0, KIND_JOLIET);
        EXPECT_EQ(Names(files), (std::vector<std::string>{"\\caf\xc3\xa9\\F.TXT;1", "\\\xe6\x97\xa5\xe6\x9c\xac.txt"}));
        EXPECT_EQ(std::u16string(files[1].info.wname), u"\\\u65e5\u672c.txt");
    }
    ASSERT_TRUE(platform::SetCodePage("CP932"));
    {
        Opened h(path);
        ASSERT_TRUE(h);
        auto files = ListEntries(h.get(), 0, KIND_JOLIET);
        EXPECT_EQ(Names(files), (std::vector<std::string>{"\\caf?\\F.TXT;1", "\\\x93\xfa\x96\x7b.txt"}));
        EXPECT_EQ(std::u16string(files[1].info.wname), u"\\\u65e5\u672c.txt");
        auto parts = Names(ListEntries(h.get(), 0, KIND_JOLIET, true));
        EXPECT_EQ(parts.back(), "joliet folder \\caf?\\");
        char label[33] = {};
        EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_JOLIET, label, nullptr, nullptr), 2);
        EXPECT_STREQ(label, "\x83\x89\x83\x78\x83\x8b");
    }

    // Paths beyond 1023 bytes are cut before a double-byte character, not inside it.
    IsoNode sjis = File("END.TXT;1", "e");
    for (int i = 0; i < 9; ++i) {
        sjis = Dir("S" + std::to_string(i), {sjis});
        sjis.joliet = u"x" + std::u16string(60, u'\u65e5');
    }
    WriteFile(path, BuildIso({sjis}, options).bytes);
    {
        Opened h(path);
        ASSERT_TRUE(h);
        auto files = ListEntries(h.get(), 0, KIND_JOLIET);
        ASSERT_EQ(files.size(), 1u);
        const std::u16string wide = platform::MultiByteToUtf16(files[0].name());
        EXPECT_GT(files[0].name().size(), 1020u);
        EXPECT_EQ(wide.find(u'\uFFFD'), std::u16string::npos);
        EXPECT_EQ(std::u16string(files[0].info.wname), wide);
    }
    ASSERT_TRUE(platform::SetCodePage("UTF-8"));

    // Paths beyond 1023 bytes are cut at a character boundary in both name fields.
    IsoNode deep = File("END.TXT;1", "e");
    deep.joliet = u"end";
    for (int i = 0; i < 12; ++i) {
        deep = Dir("D" + std::to_string(i), {deep});
        deep.joliet = std::u16string(40, u'\u65e5');
    }
    WriteFile(path, BuildIso({deep}, options).bytes);
    Opened h(path);
    ASSERT_TRUE(h);
    auto files = ListEntries(h.get(), 0, KIND_JOLIET);
    ASSERT_EQ(files.size(), 1u);
    const std::string name = files[0].name();
    EXPECT_LE(name.size(), 1023u);
    EXPECT_GT(name.size(), 1020u);
    const std::u16string wide = platform::MultiByteToUtf16(name);
    EXPECT_EQ(wide.find(u'\uFFFD'), std::u16string::npos);  // no broken character at the cut
    EXPECT_EQ(std::u16string(files[0].info.wname), wide);
}

}  // namespace
}  // namespace qorvex::test
