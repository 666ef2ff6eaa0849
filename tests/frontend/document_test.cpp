#include <sys/stat.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <map>

#include "document.h"
#include "name_shaping.h"
#include "result.h"
#include "support/harness/scripted_ui.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/planted.h"
#include "support/temp_dir.h"
#include "support/udf_builder.h"
#include "view.h"

namespace lumast::test {
namespace {

namespace fs = std::filesystem;
using qorvex::test::BuildIso;
using qorvex::test::Dir;
using qorvex::test::File;
using qorvex::test::IsoNode;
using qorvex::test::IsoOptions;
using qorvex::test::Quote;
using qorvex::test::ReadFile;
using qorvex::test::ReadText;
using qorvex::test::RunCommand;
using qorvex::test::TempDir;
using qorvex::test::WriteFile;

std::vector<IsoNode> SampleTree() {
    return {File("README.TXT;1", "read me\n"),
            Dir("DOCS", {File("README.TXT;1", "docs read me\n"), File("GUIDE.TXT;1", std::string(5000, 'g'))}),
            File("SETUP.EXE;1", "MZ"), File("INSTALL.BAT;1", "@echo off\n")};
}

// The shared desk with the sample tree and row lookups.
struct Session : Desk {
    std::vector<uint8_t> sample;
    // The sample tree as a.iso, with or without Joliet names.
    bool OpenSample(bool joliet = true) {
        IsoOptions o;
        o.joliet = joliet;
        sample = BuildIso(SampleTree(), o).bytes;
        return doc->OnOpenDocument(Image("a.iso", sample));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const FileRow &r : view->Model().Rows()) names.push_back(r.name);
        return names;
    }
    int Find(const std::string &name) {
        const auto &rows = view->Model().Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (CutVersion(rows[i].name) == name) return static_cast<int>(i);
        return -1;
    }
};

TEST(Document, FreshStartListsJolietFilesExtractsAllThroughTheChooserAndShowsSystemParts) {
    Session s;
    ASSERT_TRUE(s.OpenSample());
    EXPECT_GE(s.Find("\\DOCS\\GUIDE.TXT"), 0);
    for (const FileRow &r : s.view->Model().Rows()) EXPECT_EQ(r.list_kind, LIST_JOLIET_FILES) << r.name;
    EXPECT_EQ(s.ui.summary.rfind(" ボリュームラベル：Qorvex    ", 0), 0u) << s.ui.summary;

    // Extract all through the view: the chooser's answer is remembered.
    fs::create_directories(s.dir / "out");
    s.ui.folder_answer = s.dir / "out";
    s.view->OnCommand(ID_EXTRACT_ALL);
    EXPECT_EQ(s.ui.messages.back(), "解凍が終了しました。");
    EXPECT_EQ(ReadText(s.dir / "out/DOCS/README.TXT"), "docs read me\n");
    EXPECT_EQ(s.doc->RememberedDestination(), s.dir / "out");
    // The screen saver was switched off for the run and back on.
    EXPECT_NE(std::find(s.ui.log.begin(), s.ui.log.end(), "saver off"), s.ui.log.end());
    EXPECT_TRUE(s.ui.saver_active);

    // The show commands list the system parts before the files, in a fixed order.
    const int publishes = s.ui.publishes;
    for (int id : {ID_SHOW_ISO_FILES, ID_SHOW_ISO_SYSTEM, ID_SHOW_JOLIET_SYSTEM}) s.doc->OnCommand(id);
    EXPECT_EQ(s.ui.publishes, publishes + 3);
    std::vector<int32_t> kinds;
    for (const FileRow &r : s.view->Model().Rows())
        if (kinds.empty() || kinds.back() != r.list_kind) kinds.push_back(r.list_kind);
    EXPECT_EQ(kinds, (std::vector<int32_t>{LIST_ISO_SYSTEM, LIST_JOLIET_SYSTEM, LIST_ISO_FILES, LIST_JOLIET_FILES}));
    for (size_t i = 0; i < s.view->Model().RowCount(); ++i) EXPECT_EQ(s.view->Model().Row(i).id, int32_t(i));
    EXPECT_EQ(s.doc->GetPresentFileSystems(), 3);

    // A system part's name becomes one file name, its backslashes turned into the yen sign.
    const FileRow *part = nullptr;
    for (const FileRow &r : s.view->Model().Rows())
        if (r.list_kind == LIST_ISO_SYSTEM && r.name.find('\\') != std::string::npos) part = &r;
    ASSERT_NE(part, nullptr);
    std::string expected;
    for (char c : part->name) expected += c == '\\' ? std::string("\xEF\xBF\xA5") : std::string(1, c);
    ASSERT_EQ(s.doc->ExtractRows(s.dir / "parts/", {*part}), RESULT_FINISHED);
    EXPECT_TRUE(fs::is_regular_file(s.dir / ("parts/" + expected))) << expected;
    EXPECT_EQ(fs::file_size(s.dir / ("parts/" + expected)), part->size);
}

TEST(Document, VolumeInformationRowsOfIsoAndJoliet) {
    Session s;
    IsoOptions o;
    o.joliet = true;
    o.creation_date = "2021010203040500";
    o.creation_offset = -20;
    auto image = BuildIso(SampleTree(), o);
    // The application-use area filled with single-byte blanks, as genisoimage leaves it.
    std::fill_n(image.bytes.begin() + image.descriptor_sectors[1] * 2048 + 883, 512, uint8_t(' '));
    // Publisher fields padded with NUL instead of blanks end at the first NUL.
    const size_t iso_publisher = image.descriptor_sectors[0] * 2048 + 318;
    const size_t joliet_publisher = image.descriptor_sectors[1] * 2048 + 318;
    std::fill_n(image.bytes.begin() + iso_publisher, 128, uint8_t(0));
    std::fill_n(image.bytes.begin() + joliet_publisher, 128, uint8_t(0));
    image.bytes[iso_publisher] = 'P';
    image.bytes[iso_publisher + 1] = ' ';
    image.bytes[iso_publisher + 3] = 'X';  // after the NUL: not shown
    image.bytes[joliet_publisher + 1] = 'P';
    ASSERT_TRUE(s.doc->OnOpenDocument(s.Image("a.iso", image.bytes)));
    const auto iso = s.doc->FillVolumeInfo(KIND_ISO9660);
    ASSERT_EQ(iso.size(), 18u);
    EXPECT_EQ(iso[1].data, "QORVEX");
    EXPECT_EQ(iso[5].data, "2,048");
    EXPECT_EQ(iso[13].data, "2021/01/02 03:04:05.00 -05:00");
    EXPECT_EQ(iso[7].data, "P");
    const auto joliet = s.doc->FillVolumeInfo(KIND_JOLIET);
    ASSERT_EQ(joliet.size(), 18u);
    EXPECT_EQ(joliet[1].data, "Qorvex");
    EXPECT_EQ(joliet[2].data, iso[2].data);
    EXPECT_EQ(joliet[7].data, "P");
    EXPECT_EQ(joliet[17].data, "");
    EXPECT_TRUE(s.doc->FillVolumeInfo(KIND_UDF).empty());
}

TEST(Extraction, OverwriteAnswersAndRowsWithAndWithoutIncludePath) {
    Session s;
    ASSERT_TRUE(s.OpenSample());
    // "全中止" ends the operation as cancelled.
    const std::string out = s.dir / "out";
    ASSERT_EQ(s.doc->ExtractAll(out), RESULT_FINISHED);
    s.ui.overwrite_answers = {OVERWRITE_SKIP, OVERWRITE_ABORT};
    EXPECT_EQ(s.doc->ExtractAll(out), RESULT_CANCELLED);
    EXPECT_EQ(s.ui.asked.size(), 2u);
    s.ui.asked.clear();

    FileListModel &m = s.view->Model();
    m.SetSelected(static_cast<size_t>(s.Find("\\README.TXT")), true);
    m.SetSelected(static_cast<size_t>(s.Find("\\DOCS\\README.TXT")), true);
    fs::create_directories(s.dir / "flat");
    s.ui.folder_answer = s.dir / "flat";
    // Both meet at one name: the second raises the prompt; skipping it, the last row, ends as "中止します。".
    s.ui.overwrite_answers = {OVERWRITE_SKIP};
    s.view->OnCommand(ID_EXTRACT_SELECTED);
    EXPECT_EQ(s.ui.asked.size(), 1u);
    EXPECT_EQ(s.ui.messages.back(), "中止します。");
    EXPECT_EQ(ReadText(s.dir / "flat/README.TXT"), "read me\n") << "the skipped file replaced nothing";
    EXPECT_FALSE(fs::exists(s.dir / "flat/DOCS"));

    s.doc->OnCommand(ID_INCLUDE_PATH);
    std::vector<FileRow> rows;
    for (size_t i : m.SelectedRows()) rows.push_back(m.Row(i));
    ASSERT_EQ(s.doc->ExtractRows(s.dir / "tree/", rows), RESULT_FINISHED);
    EXPECT_EQ(ReadText(s.dir / "tree/DOCS/README.TXT"), "docs read me\n");

    FileRow audio;
    audio.list_kind = LIST_AUDIO;
    EXPECT_EQ(s.doc->ExtractRows(s.dir / "tree/", {audio}), RESULT_BAD_KIND);
    FileRow missing = rows[0];
    missing.name = "\\NOPE.TXT";
    EXPECT_EQ(s.doc->ExtractRows(s.dir / "tree/", {missing}), RESULT_NOT_FOUND);
}

TEST(Extraction, OpeningRefusesProgramsEditsBatchFilesAndKeepsCopiesApart) {
    Session s;
    ASSERT_TRUE(s.OpenSample(false));
    ASSERT_GE(s.Find("\\SETUP.EXE"), 0) << "ISO 9660 names when there is no Joliet";
    s.view->OnDoubleClick(s.Find("\\SETUP.EXE"));
    EXPECT_EQ(s.ui.messages.back(), "念のため、拡張子が\n.com .exe. lnk .msi .msp .pif\nのファイルは実行しません。");
    EXPECT_TRUE(s.ui.shell.empty());
    EXPECT_TRUE(s.view->OnRightClick(s.Find("\\SETUP.EXE")).verbs.empty());

    s.view->OnDoubleClick(s.Find("\\INSTALL.BAT"));
    ASSERT_EQ(s.ui.shell.size(), 1u);
    EXPECT_EQ(s.ui.shell[0].second, "edit");
    EXPECT_EQ(ReadText(s.ui.shell[0].first), "@echo off\n");
    struct stat st {};
    ASSERT_EQ(stat(s.ui.shell[0].first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Opening the same file twice: the first copy may still be in use, so it stays and the next is NAME[1].EXT.
    s.view->Model().SetSelected(0, true);
    for (int i = 0; i < 2; ++i) {
        s.view->SetCurrentRow(s.Find("\\README.TXT"));
        s.view->OnCommand(ID_OPEN_THIS);
    }
    ASSERT_EQ(s.ui.shell.size(), 3u);
    EXPECT_EQ(s.ui.shell[1].first, s.doc->TempFolder() + "/README.TXT");
    EXPECT_EQ(s.ui.shell[2].first, s.doc->TempFolder() + "/README[1].TXT");
    EXPECT_EQ(s.ui.shell[2].second, "");
    EXPECT_TRUE(fs::exists(s.ui.shell[1].first)) << "kept until the program ends";
    EXPECT_EQ(s.ui.messages.size(), 1u) << "a successful open shows no message";

    // No application for the type: the chooser is offered.
    s.ui.shell_result = ShellResult::NoAssociation;
    s.view->OnDoubleClick(s.Find("\\DOCS\\GUIDE.TXT"));
    ASSERT_EQ(s.ui.shell.size(), 5u);
    EXPECT_EQ(s.ui.shell[4].second, "<open with>");
    // The folder goes at the end (TempFolder), so no old folder is left to remove at the next start.
    s.Restart();
    EXPECT_EQ(s.ini.GetString("Temp", "OldFolder", "x"), "");
}

TEST(Extraction, VolumeLabelFolderAbortAndDestinationSettings) {
    Session s;
    ASSERT_TRUE(s.OpenSample());
    s.doc->ApplyDestinationSettings({2, s.dir / "fixed", 1, 1});
    s.view->OnCommand(ID_EXTRACT_ALL);
    EXPECT_TRUE(s.ui.folder_initials.empty()) << "a fixed destination asks nothing";
    EXPECT_EQ(ReadText(s.dir / "fixed/Qorvex/README.TXT"), "read me\n");

    // 中止 in the progress dialog stops after the file in hand, with the information message.
    s.ui.abort_after_advances = s.ui.advances + 1;
    s.ui.begun.clear();
    s.view->OnCommand(ID_EXTRACT_ALL);
    EXPECT_EQ(s.ui.messages.back(), "中止します。");
    EXPECT_EQ(s.ui.closes, 2);
    EXPECT_EQ(s.ui.begun.size(), 1u) << "nothing after the aborted file";

    // Settings survive a restart.
    s.doc->OnCommand(ID_CHECK_POSITION);
    s.Restart();
    EXPECT_EQ(s.doc->GetSettings().initial_path_type, 2);
    EXPECT_EQ(s.doc->GetSettings().appoint_path, s.dir / "fixed");
    EXPECT_EQ(s.doc->GetSettings().options, OPEN_CHECK_POSITION);
    EXPECT_EQ(s.ini.GetString("Option", "options"), "-2147483648");
}

TEST(Extraction, MultiExtentFileAsRowsAndAsAWhole) {
    Session s;
    qorvex::test::UdfOptions o;
    qorvex::test::UdfNode movie = qorvex::test::UdfFileNode("MOVIE.VOB", std::string(3 * 2048, 'a') + "tail");
    movie.extents = 3;
    o.root = qorvex::test::UdfDirNode("", {movie, qorvex::test::UdfFileNode("SMALL.TXT", "small")});
    ASSERT_TRUE(s.doc->OnOpenDocument(s.Image("u.img", qorvex::test::BuildUdf(o).bytes)));
    EXPECT_TRUE(s.doc->IsChecked(ID_SHOW_UDF_FILES)) << "UDF files are shown when nothing else is there";
    std::vector<FileRow> rows;
    for (const FileRow &r : s.view->Model().Rows())
        if (CutVersion(r.name) == "\\MOVIE.VOB") rows.push_back(r);
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(s.doc->ExtractRows(s.dir / "rows/", rows), RESULT_FINISHED);
    uint64_t sum = 0;
    for (const char *n : {"MOVIE.VOB_1_3", "MOVIE.VOB_2_3", "MOVIE.VOB_3_3"}) {
        ASSERT_TRUE(fs::exists(s.dir / ("rows/" + std::string(n)))) << n;
        sum += fs::file_size(s.dir / ("rows/" + std::string(n)));
    }
    EXPECT_EQ(sum, 3 * 2048 + 4u);

    s.view->SetCurrentRow(s.Find("\\MOVIE.VOB"));
    s.view->Model().SetSelected(0, true);
    s.ui.folder_answer = s.dir / "whole";
    fs::create_directories(s.dir / "whole");
    s.view->OnCommand(ID_EXTRACT_THIS);
    EXPECT_EQ(ReadText(s.dir / "whole/MOVIE.VOB"), std::string(3 * 2048, 'a') + "tail");
}

TEST(Document, PreferUdfChoosesTheUdfCatalogue) {
    Session s;
    if (!qorvex::test::HaveProgram("genisoimage")) GTEST_SKIP() << "genisoimage missing";
    const std::string image =
        GenisoImage(s.dir, "b.iso", "-J -udf -V BRIDGE", {{"Long Name File.txt", "hello"}, {"sub/b.txt", "bee"}});
    ASSERT_TRUE(s.doc->OnOpenDocument(image));
    ASSERT_EQ(s.doc->GetPresentFileSystems() & 6, 6) << "Joliet and UDF present";
    for (const FileRow &r : s.view->Model().Rows()) EXPECT_EQ(r.list_kind, LIST_JOLIET_FILES);

    s.doc->OnCommand(ID_PREFER_UDF);
    ASSERT_TRUE(s.doc->OnOpenDocument(image));
    ASSERT_FALSE(s.view->Model().Rows().empty());
    for (const FileRow &r : s.view->Model().Rows()) EXPECT_EQ(r.list_kind, LIST_UDF_FILES);
}

// The image's folder is proposed by default, and in place of an empty destination.
TEST(Extraction, TheImagesFolderByDefaultAndForAnEmptyDestinationNeverTheRoot) {
    struct Case {
        int32_t path_type;
        int32_t no_select_dialog;
        const char *documents;
    } cases[] = {
        {1, 0, "/home/user/Documents"},  // the default: the image's folder, offered in the chooser
        {2, 1, "/home/user/Documents"},  // always the appointed folder, which is empty
        {0, 1, ""},                      // always the documents folder, where there is none
    };
    for (const Case &c : cases) {
        Session s;
        s.ui.documents = c.documents;
        ASSERT_TRUE(s.OpenSample(false));
        s.doc->ApplyDestinationSettings({c.path_type, "", c.no_select_dialog, 0});
        // Decided before anything is written, so that a fault here cannot write under "/".
        bool fixed = false;
        EXPECT_EQ(s.view->ProposedDestination(&fixed), s.dir.path() + "/") << c.path_type;
        EXPECT_EQ(fixed, c.no_select_dialog != 0);
        s.view->OnCommand(ID_EXTRACT_ALL);
        EXPECT_EQ(s.ui.folder_initials, fixed ? std::vector<std::string>{} : std::vector{s.dir.path() + "/"});
        EXPECT_EQ(ReadText(s.dir / "DOCS/GUIDE.TXT"), std::string(5000, 'g')) << c.path_type;
    }
}

TEST(Document, OptionTogglesReopenTheImageAndKeepTheTrackWhichIsExtractedWhole) {
    Session s;
    ASSERT_TRUE(s.OpenSample());
    const std::vector<std::string> names = s.Names();
    for (int id : {ID_CHECK_CRC, ID_CHECK_POSITION}) {
        const int publishes = s.ui.publishes;
        s.doc->OnCommand(id);
        EXPECT_TRUE(s.doc->IsChecked(id));
        EXPECT_TRUE(s.doc->HandleHeld()) << id;
        EXPECT_EQ(s.doc->CurrentTrack(), 0) << id;
        EXPECT_EQ(s.ui.publishes, publishes) << "the same track: the list stays as it is";
        EXPECT_EQ(s.Names(), names);
    }
    EXPECT_EQ(s.doc->GetSettings().options, OPEN_CHECK_EDC | OPEN_CHECK_POSITION);
    // Add pregap only rebuilds the list (an audio row would change its size).
    const int publishes = s.ui.publishes;
    s.doc->OnCommand(ID_ADD_PREGAP);
    EXPECT_EQ(s.ui.publishes, publishes + 1);
    EXPECT_EQ(s.Names(), names);

    // The data track through the save dialog: a data track has no pregap to add.
    s.ui.track_file_answer = s.dir / "Track01.bin";
    s.view->OnCommand(ID_EXTRACT_TRACK);
    ASSERT_EQ(s.ui.track_requests.size(), 1u);
    const TrackSaveRequest &r = s.ui.track_requests[0];
    EXPECT_EQ(r.default_name, "Track01");
    EXPECT_EQ(r.default_ext, "bin");
    EXPECT_EQ(r.filter_index, 2) << "バイナリイメージ";
    EXPECT_EQ(r.initial_folder, s.dir.path() + "/");
    EXPECT_EQ(s.ui.messages.back(), "解凍が終了しました。");
    EXPECT_EQ(ReadFile(s.dir / "Track01.bin"), s.sample);
}

// A disc sheet with an audio track and a data track.
TEST(Extraction, AudioTrackRowAndItsWaveThroughTheSaveDialog) {
    Session s;
    const std::vector<uint8_t> iso = BuildIso(SampleTree(), IsoOptions{}).bytes;
    std::string bin(75 * 2352, '\x11');  // one second of audio, then the data track
    bin.append(iso.begin(), iso.end());
    WriteFile(s.dir / "disc.bin", bin);
    WriteFile(s.dir / "disc.cue", std::string("FILE \"disc.bin\" BINARY\n"
                                              "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                              "  TRACK 02 MODE1/2048\n    INDEX 01 00:01:00\n"));
    ASSERT_TRUE(s.doc->OnOpenDocument(s.dir / "disc.cue"));
    ASSERT_EQ(s.doc->Tracks().size(), 2u);
    EXPECT_EQ(s.doc->CurrentTrack(), 1) << "the first data track";
    s.doc->SelectTrack(0);
    ASSERT_EQ(s.view->Model().RowCount(), 1u);
    const FileRow row = s.view->Model().Row(0);
    EXPECT_EQ(row.name, "Track01");
    EXPECT_EQ(row.list_kind, LIST_AUDIO);
    EXPECT_EQ(row.size, 75u * 2352);
    EXPECT_EQ(s.ui.summary, " 音楽トラック");
    // Every file command on the audio row extracts the track as WAV.
    s.ui.track_file_answer = s.dir / "Track01.WAV";
    s.view->Model().SetSelected(0, true);
    s.view->OnCommand(ID_EXTRACT_SELECTED);
    ASSERT_EQ(s.ui.track_requests.size(), 1u);
    EXPECT_EQ(s.ui.track_requests[0].default_ext, "WAV");
    EXPECT_EQ(s.ui.track_requests[0].filter_index, 1);
    EXPECT_EQ(fs::file_size(s.dir / "Track01.WAV"), 44 + 75u * 2352);
}

// Rock Ridge names replace the ISO 9660 names when nothing better is there.
TEST(Document, RockRidgeNamesStandInForIsoNamesWhileTheExtendedFormatsAreOn) {
    Session s;
    if (!qorvex::test::HaveProgram("genisoimage")) GTEST_SKIP() << "genisoimage missing";
    ASSERT_TRUE(s.doc->OnOpenDocument(
        GenisoImage(s.dir, "rr.iso", "-R", {{"Long name.txt", "long"}, {"sub/lower.txt", "low"}})));
    ASSERT_GT(s.view->Model().RowCount(), 0u);
    EXPECT_EQ(s.view->Model().Row(0).list_kind, LIST_ROCKRIDGE_FILES);
    EXPECT_TRUE(s.doc->IsChecked(ID_SHOW_ROCKRIDGE_FILES));
    EXPECT_FALSE(s.doc->IsChecked(ID_SHOW_ISO_FILES));
    EXPECT_GE(s.Find("\\Long name.txt"), 0);
    EXPECT_EQ(s.view->Model().CellText(0, 1), "rockridge file");
    ASSERT_EQ(s.doc->ExtractAll(s.dir / "all"), RESULT_FINISHED);
    EXPECT_EQ(ReadText(s.dir / "all/sub/lower.txt"), "low");
    s.doc->GetSettings().include_path = 1;
    ASSERT_EQ(
        s.doc->ExtractRows(s.dir / "rows/", {s.view->Model().Row(static_cast<size_t>(s.Find("\\Long name.txt")))}),
        RESULT_FINISHED);
    EXPECT_EQ(ReadText(s.dir / "rows/Long name.txt"), "long");

    // Switched off, the image is read as described: ISO 9660 names.
    s.doc->OnCommand(ID_EXTENSIONS);
    for (const FileRow &r : s.view->Model().Rows()) EXPECT_EQ(r.list_kind, LIST_ISO_FILES) << r.name;
}

}  // namespace
}  // namespace lumast::test

namespace lumast::test {
namespace {

// With default settings both hosts make the same tree of an image with links, an empty folder, hard links
// and dates the 32-bit field cannot hold: they run one job.
TEST(Extraction, BothHostsMakeTheSameTree) {
    Desk d(false);
    const std::string src = d.dir / "src";
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(src + "/docs/empty") + " && cd " + Quote(src) +
                         " && printf text > docs/a.txt && ln -s docs/a.txt link && ln docs/a.txt hard"
                         " && touch -d '2040-01-01 UTC' docs/a.txt && touch -d @0 docs"),
              0);
    ASSERT_EQ(RunCommand("xorriso -as mkisofs -quiet -R -J --hardlinks -o " + Quote(d.dir / "rr.iso") + " " +
                         Quote(src) + " >/dev/null 2>&1"),
              0);
    ASSERT_TRUE(d.doc->OnOpenDocument(d.dir / "rr.iso"));
    d.doc->GetSettings().add_volume_label = 0;
    const std::vector<FileRow> &rows = d.view->Model().Rows();
    const auto row = std::find_if(rows.begin(), rows.end(), [](const FileRow &r) { return r.name == "\\docs\\a.txt"; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->date, 2208988800) << "a date past 2038 is listed";
    EXPECT_EQ(d.ExtractAllFromMenu(d.dir / "desktop"), "解凍が終了しました。");
    ASSERT_EQ(RunCommand(Quote(QORVEX_CLI_PROGRAM) + " -q extract " + Quote(d.dir / "rr.iso") + " -o " +
                         Quote(d.dir / "cli")),
              0);
    const std::map<std::string, std::string> desktop = qorvex::test::TreeSummary(d.dir / "desktop");
    EXPECT_EQ(desktop, qorvex::test::TreeSummary(d.dir / "cli"));
    EXPECT_EQ(desktop.at("link"), "l -> docs/a.txt");
    EXPECT_EQ(desktop.at("docs/empty"), "d");
    EXPECT_EQ(desktop.at("docs/a.txt"), "f 4 @2208988800");
}

}  // namespace
}  // namespace lumast::test
