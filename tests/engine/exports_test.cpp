// The exported interface: symbols, unloading, bad input, walks and cursors, entry extraction and names.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <dlfcn.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>

#include "platform/text.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"

namespace qorvex::test {
namespace {

#ifndef _WIN32
// The export table and unloading are checked on Windows by scripts/windows (objdump and the DLL's own callers).
std::string Library() {
    const char *path = std::getenv("QORVEX_LIBRARY");
    return path ? path : "";
}

// The names of engine/exports.def, the list the DLL's export table is held to by scripts/windows: the seventeen
// and the additions of qorvex_ext.h. (The version script exports QorvexEx* by pattern.)
TEST(ExportsTest, SharedLibraryExportsTheNamesOfTheDefinitionFileOnly) {
    const std::string library = Library();
    if (library.empty()) GTEST_SKIP() << "QORVEX_LIBRARY not set";
    int status = 0;
    const std::string out = CaptureCommand("nm -D --defined-only '" + library + "' | awk '{print $NF}'", &status);
    ASSERT_EQ(status, 0);
    std::set<std::string> names, expected;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) names.insert(line);
    std::ifstream def(std::string(std::getenv("QORVEX_SOURCE_DIR")) + "/engine/exports.def");
    for (std::string line, word; std::getline(def, line);)
        if (std::istringstream(line) >> word && word[0] != ';' && word != "LIBRARY" && word != "EXPORTS")
            expected.insert(word);
    EXPECT_EQ(names, expected);
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// Resident bytes of the process (the catalogues' pool takes its regions from the system, not the heap).
size_t Resident() {
    FILE *f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%lu %lu", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(ExportsTest, UnloadingTheLibraryDestroysOpenHandles) {
    const std::string library = Library();
    if (library.empty()) GTEST_SKIP() << "QORVEX_LIBRARY not set";
    TempDir dir;
    std::vector<IsoNode> files;
    for (int i = 0; i < 400; ++i) files.push_back(File("F" + std::to_string(i) + ".TXT;1", "x"));
    const std::string image = dir / "many.iso";
    WriteFile(image, BuildIso(files).bytes);

    size_t before = 0, loaded = 0, resident_before = 0, resident_loaded = 0;
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
        if (round == 1) before = HeapInUse(), resident_before = Resident();
        for (int i = 0; i < 20; ++i) {
            QorvexHandle h = open(image.c_str(), 0, nullptr);
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(count(h, 0, KIND_ISO9660), 400);
        }
        if (round == 1) loaded = HeapInUse(), resident_loaded = Resident();
        ASSERT_EQ(::dlclose(lib), 0);  // handles still open
    }
    // Twenty scanned catalogues of 400 entries are released with the library (where the allocator tells).
    if (loaded > before + 200000) {
        EXPECT_LT(HeapInUse(), before + (loaded - before) / 4);
    }
    // So are the regions their lists and names were cut from.
    if (resident_loaded > resident_before + (1 << 20)) {
        EXPECT_LT(Resident(), resident_before + (resident_loaded - resident_before) / 2);
    }
}

#endif

TEST(ExportsTest, BadInputGivesCleanCodes) {
    TempDir dir;
    WriteFile(dir / "empty", std::string());
    WriteFile(dir / "tiny", std::string("CD001"));
    WriteFile(dir / "text.txt", std::string(100000, 'a'));
    WriteFile(dir / "sparse", std::string());
    std::filesystem::resize_file(dir / "sparse", uintmax_t(20) << 30);
    WriteFile(dir / "locked", std::vector<uint8_t>(100 * 2048, 0));
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    std::filesystem::create_directory(dir / "folder");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
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
    EXPECT_EQ(Qorvex(1, 2), 0);
}

// One catalogue of three files (one hidden, one empty) with a long Joliet label, through the exports: walks and
// cursors, the copy loop and its callback, and a zero-byte entry placed outside the image.
TEST(CatalogueTest, WalksCursorsAndTheCopyLoop) {
    TempDir dir;
    IsoOptions options;
    options.joliet = true;
    options.joliet_volume_id = u"A joliet label longer than 32 bytes";
    const std::vector<uint8_t> contents = Pattern(5 * 2048 + 100, 11);
    IsoNode hidden = File("HIDDEN.TXT;1", "secret");
    hidden.hidden = true;
    IsoImage image =
        BuildIso({File("BIG.BIN;1", contents), hidden, File("ZERO.TXT;1", std::vector<uint8_t>{})}, options);
    const std::string path = dir / "c.iso";
    WriteFile(path, image.bytes);
    auto opened = std::make_unique<Opened>(path);
    ASSERT_TRUE(*opened);
    QorvexHandle h = opened->get();
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

    // The selected kind is shared by both walks, kind 3 too (stored as selected, it has nothing to walk); the
    // cursors are not.
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

    // The copy loop.
    ASSERT_EQ(QorvexGetFileStart(h, 0, KIND_ISO9660), 3);
    ASSERT_EQ(QorvexGetNextFile(h, &e), 2);
    ASSERT_EQ(std::string(e.name), "\\BIG.BIN;1");
    const std::string out = dir / "sub/dir/big.bin";

    Collector first;
    first.stop_at = 0;
    QorvexSetCallback(h, &Collector::Callback, &first);
    EXPECT_EQ(QorvexExtractCurrentFile(h, out.c_str()), ENGINE_ABORTED);
    EXPECT_EQ(first.blocks.size(), 6u);  // a stop on the first chunk is only remembered
    EXPECT_EQ(ReadFile(out), contents);
    EXPECT_EQ(first.blocks.back().size(), 100u);

    Collector later;
    later.stop_at = 2;
    QorvexSetCallback(h, &Collector::Callback, &later);
    EXPECT_EQ(QorvexExtractCurrentFile(h, out.c_str()), ENGINE_ABORTED);
    EXPECT_EQ(later.blocks.size(), 3u);
    EXPECT_EQ(std::filesystem::file_size(out), contents.size());  // presized

    Collector sink;
    QorvexSetCallback(h, &Collector::Callback, &sink);
    EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), 0);
    EXPECT_EQ(sink.Joined(), contents);
    QorvexSetCallback(h, nullptr, nullptr);
    EXPECT_EQ(QorvexExtractCurrentFile2(h, nullptr, 0), 0);  // joined: the entry fills its own slot

    // A zero-byte entry reads its sector and reports one empty block.
    ASSERT_EQ(QorvexGetNextFile(h, &e), 1);
    ASSERT_EQ(QorvexGetNextFile(h, &e), 0);
    EXPECT_EQ(e.size_low, 0u);
    Collector zero;
    QorvexSetCallback(h, &Collector::Callback, &zero);
    const std::string empty_out = dir / "zero.txt";
    EXPECT_EQ(QorvexExtractCurrentFile(h, empty_out.c_str()), 0);
    ASSERT_EQ(zero.blocks.size(), 1u);
    EXPECT_TRUE(zero.blocks[0].empty());
    EXPECT_EQ(std::filesystem::file_size(empty_out), 0u);
    QorvexSetCallback(h, nullptr, nullptr);

    // The zero-byte entry placed past the end of the image fails to seek.
    opened.reset();
    image.SetExtent(image.iso.at("\\ZERO.TXT;1").record, image.Sectors() + 10);
    WriteFile(path, image.bytes);
    opened = std::make_unique<Opened>(path);
    ASSERT_TRUE(*opened);
    h = opened->get();
    ASSERT_EQ(QorvexGetFileStart(h, 0, KIND_ISO9660), 3);
    while (QorvexGetNextFile(h, &e) != 0) {
    }
    ASSERT_EQ(std::string(e.name), "\\ZERO.TXT;1");
    EXPECT_EQ(QorvexExtractCurrentFile(h, nullptr), ENGINE_SEEK_FAILED);
    // The image file was truncated behind the engine's back: reads fail cleanly.
    std::error_code shared;  // Windows may refuse while the engine holds the image open
    std::filesystem::resize_file(path, 30 * 2048, shared);
    ASSERT_EQ(QorvexGetFileStart(h, 0, KIND_ISO9660), 3);
    QorvexGetNextFile(h, &e);
    const int32_t result = QorvexExtractCurrentFile(h, nullptr);
    EXPECT_TRUE(result == ENGINE_SEEK_FAILED || result == ENGINE_READ_FAILED) << std::hex << result;
}

// Joliet names, a folder's part and the label in Shift_JIS, which has no "\u00e9", and in UTF-8; paths beyond 1023
// bytes are cut at a character boundary in both name fields (in Shift_JIS before a double-byte character).
TEST(NamesTest, JolietNamesOutsideTheCodePageAndOverlongPaths) {
    TempDir dir;
    IsoNode cafe = Dir("CAFE", {File("F.TXT;1", "f")});
    cafe.joliet = u"caf\u00e9";
    IsoNode japanese = File("JP.TXT;1", "j");
    japanese.joliet = u"\u65e5\u672c.txt";
    IsoOptions options;
    options.joliet = true;
    options.joliet_volume_id = u"\u30e9\u30d9\u30eb";
    const std::string path = dir / "n.iso", deep_path = dir / "deep.iso";
    WriteFile(path, BuildIso({cafe, japanese}, options).bytes);
    const struct {
        const char *code_page;
        std::string folder, file, label;  // of "\\caf\u00e9\\", "\\\u65e5\u672c.txt" and the volume
        std::u16string deep_folder;       // `depth` folders of this name make a path longer than 1023 bytes
        int depth;
    } pages[] = {
        {"CP932", "\\caf?\\", "\\\x93\xfa\x96\x7b.txt", "\x83\x89\x83\x78\x83\x8b",
         u"x" + std::u16string(60, u'\u65e5'), 9},
        {"UTF-8", "\\caf\xc3\xa9\\", "\\\xe6\x97\xa5\xe6\x9c\xac.txt", "\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab",
         std::u16string(40, u'\u65e5'), 12},
    };
    for (const auto &page : pages) {
        SCOPED_TRACE(page.code_page);
        ASSERT_TRUE(platform::SetCodePage(page.code_page));
        Opened h(path);
        ASSERT_TRUE(h);
        auto files = ListEntries(h.get(), 0, KIND_JOLIET);
        EXPECT_EQ(Names(files), (std::vector<std::string>{page.folder + "F.TXT;1", page.file}));
        EXPECT_EQ(std::u16string(files[1].info.wname), u"\\\u65e5\u672c.txt");
        EXPECT_EQ(Names(ListEntries(h.get(), 0, KIND_JOLIET, true)).back(), "joliet folder " + page.folder);
        char label[33] = {};
        EXPECT_EQ(QorvexGetImageInformation(h.get(), 0, KIND_JOLIET, label, nullptr, nullptr), 2);
        EXPECT_STREQ(label, page.label.c_str());

        IsoNode deep = File("END.TXT;1", "e");
        deep.joliet = u"end";
        for (int i = 0; i < page.depth; ++i) {
            deep = Dir("D" + std::to_string(i), {deep});
            deep.joliet = page.deep_folder;
        }
        WriteFile(deep_path, BuildIso({deep}, options).bytes);
        Opened d(deep_path);
        ASSERT_TRUE(d);
        files = ListEntries(d.get(), 0, KIND_JOLIET);
        ASSERT_EQ(files.size(), 1u);
        const std::string name = files[0].name();
        EXPECT_LE(name.size(), 1023u);
        EXPECT_GT(name.size(), 1020u);
        const std::u16string wide = platform::MultiByteToUtf16(name);
        EXPECT_EQ(wide.find(u'\uFFFD'), std::u16string::npos);  // no broken character at the cut
        EXPECT_EQ(std::u16string(files[0].info.wname), wide);
    }
}

// The code page the engine starts in, before any test selects one: the ANSI code page on Windows, UTF-8 elsewhere
// (taken before the tests run; on POSIX the engine's own starting value may not be set up yet at this point).
#ifdef _WIN32
const std::string kSystemCodePage = platform::CodePage();
#else
const std::string kSystemCodePage = "UTF-8";
#endif

// Japanese names in the system code page and in UTF-16 on Joliet, UDF and raw MODE1/2352 images, extracted under
// their own names. In Shift_JIS the second bytes of "表" and "ソ" are 0x5C, the folder separator.
TEST(NamesTest, JapaneseNamesInTheSystemCodePage) {
    ASSERT_TRUE(platform::SetCodePage(kSystemCodePage));
    struct Name {
        const char16_t *wide;
        std::string text;
        std::string utf8, cp932, elsewhere;  // "elsewhere": a code page without these characters
    } const names[] = {
        {u"\\\u65e5\u672c\u8a9e.txt", "Japanese name", "\\\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt",
         "\\\x93\xfa\x96\x7b\x8c\xea.txt", "\\???.txt"},
        {u"\\\u8868\u793a\\\u30bd\u30d5\u30c8.txt", "trail byte 0x5C",
         "\\\xe8\xa1\xa8\xe7\xa4\xba\\\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88.txt",
         "\\\x95\x5c\x8e\xa6\\\x83\x5c\x83\x74\x83\x67.txt", "\\??\\???.txt"},
    };
    IsoNode iso_file = File("JP.TXT;1", names[0].text);
    iso_file.joliet = u"\u65e5\u672c\u8a9e.txt";
    IsoNode iso_inner = File("SOFT.TXT;1", names[1].text);
    iso_inner.joliet = u"\u30bd\u30d5\u30c8.txt";
    IsoNode iso_folder = Dir("SHOW", {iso_inner});
    iso_folder.joliet = u"\u8868\u793a";
    IsoOptions iso_options;
    iso_options.joliet = true;
    const std::vector<uint8_t> iso = BuildIso({iso_file, iso_folder}, iso_options).bytes;
    UdfNode udf_file = UdfFileNode("", names[0].text);
    udf_file.name = iso_file.joliet;
    UdfNode udf_inner = UdfFileNode("", names[1].text);
    udf_inner.name = iso_inner.joliet;
    udf_file.wide = udf_inner.wide = true;
    UdfNode udf_folder = UdfDirNode("", {udf_inner});
    udf_folder.name = iso_folder.joliet;
    udf_folder.wide = true;
    UdfOptions udf_options;
    udf_options.root.children = {udf_file, udf_folder};
    const struct {
        const char *file;
        std::vector<uint8_t> bytes;
        int32_t kind;
    } images[] = {{"joliet.iso", iso, KIND_JOLIET},
                  {"udf.img", BuildUdf(udf_options).bytes, KIND_UDF},
                  {"raw.bin", WrapSectors(iso, 3), KIND_JOLIET}};  // MODE1/2352

    for (const auto &image : images) {
        TempDir dir;
        WriteFile(dir / image.file, image.bytes);
        Opened h(dir / image.file);
        ASSERT_TRUE(h) << image.file;
        std::vector<Listed> files = ListEntries(h.get(), 0, image.kind);
        ASSERT_EQ(files.size(), 2u) << image.file;
        for (size_t i = 0; i < 2; ++i) {
            const Name &x = names[i];
            const std::string &name = kSystemCodePage == "UTF-8"   ? x.utf8
                                      : kSystemCodePage == "CP932" ? x.cp932
                                                                   : x.elsewhere;
            // The UTF-16 name is made from the code-page one: "?" where the code page lacks a character.
            const std::u16string wide = name == x.elsewhere ? std::u16string(name.begin(), name.end()) : x.wide;
            SCOPED_TRACE(std::string(image.file) + " in " + kSystemCodePage + ": " + x.text);
            EXPECT_EQ(files[i].name(), name);
            EXPECT_EQ(std::u16string(files[i].info.wname), wide);
            if (name == x.elsewhere) continue;  // no name to extract under

            // The engine makes the folders of a path in the code page; the file is found again by its UTF-16 name.
            ASSERT_EQ(QorvexGetFileStart(h.get(), 0, image.kind), 2);
            for (size_t k = 0; k <= i; ++k) QorvexGetNextFile(h.get(), nullptr);
#ifdef _WIN32
            const std::string target = dir.path() + name;
#else
            std::string target = dir.path() + name;
            std::replace(target.begin() + static_cast<ptrdiff_t>(dir.path().size()), target.end(), '\\', '/');
#endif
            ASSERT_EQ(QorvexExtractCurrentFile(h.get(), target.c_str()), ENGINE_OK);
            std::u16string relative = wide.substr(1);
            std::replace(relative.begin(), relative.end(), u'\\', u'/');
            std::ifstream in(std::filesystem::path(dir.path()) / std::filesystem::path(relative), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(bytes, x.text);
        }
    }
}

}  // namespace
}  // namespace qorvex::test
