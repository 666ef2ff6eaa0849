// The desktop core's extraction against hostile destinations and hostile images, through the scripted UI:
// nothing planted in a destination leads outside it, names that cannot be made safe are left out and listed,
// and a file that fails is removed and named.

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>

#include "document.h"
#include "result.h"
#include "support/harness/scripted_ui.h"
#include "support/iso_builder.h"
#include "support/planted.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"
#include "view.h"

namespace lumast::test {
namespace {

namespace fs = std::filesystem;
namespace qt = qorvex::test;

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Extract all from the menu, the user saying yes to every overwrite question. The whole matrix of planted
// destinations is the extraction job's and the output tree's (tests/host); here one case of each kind shows
// that the desktop goes through it and says what was in the way.
TEST(DesktopPlanted, NothingOutsideTheDestinationChanges) {
    for (const qt::PlantedCase &c : {qt::PlantedCases()[0], qt::PlantedCases()[1]}) {
        SCOPED_TRACE(c.name);
        Desk d(false);
        ASSERT_TRUE(d.Open(qt::PlantedCaseImage()));
        qt::PrepareRoot(d.dir.path());
        c.plant(d.dir.path());
        const qt::TreeRecord before = qt::RecordTree(d.dir.path(), "dest");
        const std::string message = d.ExtractAllFromMenu(d.dir / "dest");
        EXPECT_EQ(qt::TreeDifference(before, qt::RecordTree(d.dir.path(), "dest")), "");
        EXPECT_EQ(qt::IsRegularWith(d.dir / "dest/F.TXT", qt::kPlantedFileData), c.file_written);
        EXPECT_EQ(d.ui.asked,
                  c.needs_replace ? std::vector<std::string>{d.dir / "dest/F.TXT"} : std::vector<std::string>{});
        if (c.blocked) {
            EXPECT_TRUE(Contains(message, "次の項目は解凍しませんでした：")) << message;
            EXPECT_TRUE(Contains(message, std::string("解凍先の ") + c.blocked + " がリンクかフォルダ以外のもの"))
                << message;
        } else {
            EXPECT_EQ(message, "解凍が終了しました。");
        }
    }
}

// Names that try to leave the destination: a ".." folder, a name of slashes and a ".." file that cannot be made
// safe. Extracted all from the menu and row by row with include path, everything stays inside; the unsafe name
// does not stop extract-all, the others are written and the end message lists what was left out.
TEST(DesktopNames, HostileNamesStayInsideAndAnUnsafeOneIsSkippedAndListed) {
    Desk d(false);
    qt::IsoOptions o;
    o.joliet = true;
    qt::IsoNode dots = qt::File("DOTS.TXT;1", "dots");
    dots.joliet = u"..";
    qt::IsoNode up = qt::Dir("UP", {qt::File("EVIL.TXT;1", "evil")});
    up.joliet = u"..";
    qt::IsoNode slash = qt::File("SLASH.TXT;1", "slash");
    slash.joliet = u"../../escape.txt";
    ASSERT_TRUE(d.Open(qt::BuildIso({qt::File("A.TXT;1", "a"), dots, up, slash, qt::File("Z.TXT;1", "z")}, o).bytes));
    const std::string message = d.ExtractAllFromMenu(d.dir / "all/inner");
    EXPECT_EQ(message,
              "解凍が終了しました。\n\n次の項目は解凍しませんでした：\n\\..（安全なファイル名にできない名前です）");
    d.doc->GetSettings().include_path = 1;
    for (const FileRow &r : d.view->Model().Rows()) d.doc->ExtractRows(d.dir / "rows/inner/", {r});

    // Nothing beside the two destinations (the temporary root holds the document's own folder).
    std::vector<std::string> written = {"all", "all/inner", "image.iso", "rows", "rows/inner", "tmp"};
    for (const char *folder : {"all/inner/", "rows/inner/"})
        for (const char *file : {".._.._escape.txt", "A.TXT", "EVIL.TXT", "Z.TXT"})
            written.push_back(std::string(folder) + file);
    std::sort(written.begin(), written.end());
    std::vector<std::string> made;
    for (auto e = fs::recursive_directory_iterator(d.dir.path()); e != fs::recursive_directory_iterator(); ++e) {
        made.push_back(fs::relative(e->path(), d.dir.path()));
        if (made.back() == "tmp") e.disable_recursion_pending();
    }
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, written);
}

// A file whose data cannot be read (the image ends inside it) and a file stopped with 中止 are both removed;
// the message names the file that failed.
TEST(DesktopFailure, AFailedOrStoppedFileIsRemovedAndNamed) {
    qt::IsoImage image = qt::BuildIso({qt::File("A.TXT;1", "first"), qt::File("BIG.BIN;1", qt::Pattern(300000, 3))});
    std::vector<uint8_t> whole = image.bytes;
    image.bytes.resize((size_t{image.iso.at("\\BIG.BIN;1").extent} + 24) * 2048);
    {
        Desk d(false);
        d.doc->GetSettings().extensions = 0;  // with them the cut file is known damaged and left out (DesktopSalvage)
        ASSERT_TRUE(d.Open(image.bytes));
        const std::string message = d.ExtractAllFromMenu(d.dir / "out");
        EXPECT_EQ(message.rfind("イメージファイルの", 0), 0u) << message;
        EXPECT_TRUE(Contains(message, "失敗したファイル：" + (d.dir / "out/BIG.BIN"))) << message;
        EXPECT_FALSE(fs::exists(fs::symlink_status(d.dir / "out/BIG.BIN")));
    }
    {
        Desk d(false);
        ASSERT_TRUE(d.Open(whole));
        d.ui.abort_after_advances = 2;  // A.TXT, then the first run of BIG.BIN
        EXPECT_EQ(d.ExtractAllFromMenu(d.dir / "out"), "中止します。");
        EXPECT_FALSE(fs::exists(fs::symlink_status(d.dir / "out/BIG.BIN")));
    }
}

// A track goes to the file the user chose through the same tree: a link left at that name is replaced after the
// question, not written through.
TEST(DesktopTrack, ALinkAtTheTrackFilesNameIsReplaced) {
    Desk d(false);
    ASSERT_TRUE(d.Open(qt::PlantedCaseImage()));
    qt::PrepareRoot(d.dir.path());
    ASSERT_EQ(symlink("../outside/victim.txt", (d.dir / "dest/Track01.bin").c_str()), 0);
    const qt::TreeRecord before = qt::RecordTree(d.dir.path(), "dest");
    EXPECT_EQ(d.doc->ExtractCurrentTrack(d.dir / "dest/Track01.bin", 0), RESULT_FINISHED);
    EXPECT_EQ(d.ui.asked, std::vector<std::string>{d.dir / "dest/Track01.bin"});
    EXPECT_EQ(qt::TreeDifference(before, qt::RecordTree(d.dir.path(), "dest")), "");
    EXPECT_FALSE(fs::is_symlink(d.dir / "dest/Track01.bin"));
}

// Needs the engine's extension exports: cut names and folders left out for depth, each told in the end message.
TEST(DesktopNames, CutNamesAndDeepFoldersAreListed) {
    if (!qt::HaveProgram("genisoimage")) GTEST_SKIP() << "genisoimage missing";
    Desk d(false);
    std::string path;
    std::string folder = "\\";
    for (int i = 1; i <= 11; ++i) {
        const std::string name = "d" + std::to_string(i) + std::string(96, 'x');
        path += name + "/";
        folder += name + "\\";
    }
    ASSERT_TRUE(d.doc->OnOpenDocument(GenisoImage(d.dir, "cut.iso", "-J -joliet-long -D",
                                                  {{path + "first-file-with-a-long-name.txt", "one"},
                                                   {path + "second-file-with-a-long-name.txt", "two"},
                                                   {"ok.txt", "ok"}})));
    std::string message = d.ExtractAllFromMenu(d.dir / "cut");
    EXPECT_EQ(message, "解凍が終了しました。\n\n次の項目は解凍しませんでした：\nフォルダ " +
                           folder.substr(0, folder.rfind('\\', folder.size() - 2) + 1) +
                           " 以下の名前（記録できる長さを超えて途中で切れています）")
        << "one line for both files of the folder";
    EXPECT_TRUE(qt::IsRegularWith(d.dir / "cut/ok.txt", "ok"));

    std::string deep;
    for (int i = 0; i < 260; ++i) deep += "d/";
    ASSERT_TRUE(d.doc->OnOpenDocument(
        GenisoImage(d.dir, "deep.iso", "-J -D", {{deep + "bottom.txt", "bottom"}, {"top.txt", "top"}})));
    message = d.ExtractAllFromMenu(d.dir / "deepout");
    EXPECT_TRUE(Contains(message, "深すぎるため開かれなかったフォルダ")) << message;
    EXPECT_TRUE(qt::IsRegularWith(d.dir / "deepout/top.txt", "top"));
}

// A cut image: extract-all asks once about the files that lack data; "no" leaves them out, "yes" writes them;
// either way the end message says how many there were. The list marks their rows.
TEST(DesktopSalvage, ExtractAllAsksOnceAndCountsTheDamaged) {
    qt::IsoImage image = qt::BuildIso({qt::File("A.TXT;1", "first"), qt::File("BIG.BIN;1", qt::Pattern(300000, 3))});
    const uint32_t big = image.iso.at("\\BIG.BIN;1").extent;
    image.bytes.resize((big + 100) * size_t(2048) + 7);  // 204800 of its bytes held
    for (const bool keep : {false, true}) {
        Desk d(false);
        d.ui.keep_damaged = keep;
        ASSERT_TRUE(d.Open(image.bytes));
        std::vector<std::string> marked;
        for (const FileRow &r : d.view->Model().Rows())
            if (r.damaged) marked.push_back(r.name);
        EXPECT_EQ(marked, std::vector<std::string>{"\\BIG.BIN;1"});
        const std::string message = d.ExtractAllFromMenu(d.dir / "out");
        EXPECT_EQ(std::count_if(d.ui.log.begin(), d.ui.log.end(),
                                [](const std::string &l) { return l.rfind("ask ", 0) == 0; }),
                  1);
        EXPECT_TRUE(Contains(message, "データが欠けていたファイル: 1 個")) << message;
        EXPECT_EQ(fs::exists(d.dir / "out/BIG.BIN"), keep) << message;
        EXPECT_TRUE(fs::exists(d.dir / "out/A.TXT"));
    }
    // A whole raw image with a sector failing its EDC: marked only when the EDC is checked.
    const qt::IsoImage whole = qt::BuildIso({qt::File("BIG.BIN;1", qt::Pattern(300000, 3))});
    qorvex::test::RawOptions bad;
    bad.corrupt_edc_sector = static_cast<int32_t>(whole.iso.at("\\BIG.BIN;1").extent) + 1;
    const std::vector<uint8_t> raw = qorvex::test::WrapSectors(whole.bytes, 3, bad);
    for (const bool check : {false, true}) {
        Desk d(false);
        if (check) d.doc->GetSettings().options |= OPEN_CHECK_EDC;
        ASSERT_TRUE(d.Open(raw));
        std::vector<std::string> marked;
        for (const FileRow &r : d.view->Model().Rows())
            if (r.damaged) marked.push_back(r.name);
        EXPECT_EQ(marked, check ? std::vector<std::string>{"\\BIG.BIN;1"} : std::vector<std::string>{}) << check;
    }
}

}  // namespace
}  // namespace lumast::test
