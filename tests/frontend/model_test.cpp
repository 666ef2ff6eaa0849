#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>

#include "document.h"
#include "file_list_model.h"
#include "ini_profile.h"
#include "settings.h"
#include "support/harness/scripted_ui.h"
#include "support/temp_dir.h"
#include "track_list.h"

namespace lumast::test {
namespace {

namespace fs = std::filesystem;

// Rows by field name; the id is the running row number AddRow gives.
FileListModel Model(std::vector<FileRow> rows) {
    FileListModel m;
    int32_t id = 0;
    for (const FileRow &r : rows)
        id = m.AddRow(id, r.name, r.list_kind, r.extent, r.sectors, r.offset, r.size, r.extent_count, r.extent_index,
                      r.date);
    return m;
}

std::vector<std::string> Names(const FileListModel &m) {
    std::vector<std::string> names;
    for (const FileRow &r : m.Rows()) names.push_back(r.name);
    return names;
}

TEST(FileListModel, CellTexts) {
    const FileListModel m = Model({
        {.list_kind = LIST_JOLIET_FILES, .extent = 1234, .sectors = 10, .size = 1234567, .name = "B"},
        {.list_kind = LIST_JOLIET_FILES, .extent = 20, .sectors = 2, .offset = 5000, .size = 999, .name = "a"},
        {.list_kind = LIST_JOLIET_SYSTEM, .name = "C"},
    });
    struct Case {
        size_t row;
        int column;
        const char *text;
    } cases[] = {
        {0, 2, "1,234"}, {1, 2, "20 (+5,000 byte)"},    {0, 3, "1,244"},         {0, 5, "1,234,567"},
        {1, 5, "999"},   {0, 6, "----/--/-- --:--:--"}, {2, 1, "joliet system"}, {3, 0, ""},  // past the last row
    };
    for (const Case &c : cases) EXPECT_EQ(m.CellText(c.row, c.column), c.text) << c.row << "," << c.column;
}

TEST(FileListModel, SortingTwiceReversesKeepsTheSelectionByIdAndEachColumnKeepsItsOwnDirection) {
    FileListModel m = Model({{.size = 5, .name = "B"}, {.size = 3, .name = "a"}, {.size = 1, .name = "C"}});
    m.SetSelected(0, true);  // "B", id 0
    m.SetFocused(0);
    m.SortByColumn(0);  // byte order: "B" < "C" < "a"
    EXPECT_EQ(Names(m), (std::vector<std::string>{"B", "C", "a"}));
    m.SortByColumn(0);
    EXPECT_EQ(Names(m), (std::vector<std::string>{"a", "C", "B"}));
    EXPECT_EQ(m.SelectedRows(), std::vector<size_t>{2});
    EXPECT_EQ(m.Focused(), -1);

    m.SortByColumn(5);
    EXPECT_EQ(Names(m), (std::vector<std::string>{"C", "a", "B"})) << "the first click on a column is ascending";
    EXPECT_EQ(m.SortDirection(5), 0);
    EXPECT_EQ(m.SortDirection(0), 1);
    m.Clear();
    EXPECT_EQ(m.SortDirection(0), -1);
    EXPECT_EQ(m.SortDirection(5), -1);
}

// Rows that tie on a column: ascending leaves them, descending exchanges them too; the extent column breaks
// ties by offset, then by the system-name text; dates before 1970 sort first.
TEST(FileListModel, TiesAndSecondaryKeysOfTheExtentAndDateColumns) {
    struct Case {
        int column;
        FileRow first, second;
        std::vector<std::string> ascending, descending;
    } cases[] = {
        {2, {.extent = 7, .offset = 0, .name = "p"}, {.extent = 7, .offset = 0, .name = "q"}, {"p", "q"}, {"q", "p"}},
        {2, {.extent = 7, .offset = 9, .name = "p"}, {.extent = 7, .offset = 3, .name = "q"}, {"q", "p"}, {"p", "q"}},
        {2,
         {.list_kind = LIST_UDF_FILES, .extent = 7, .name = "p"},
         {.list_kind = LIST_ISO_FILES, .extent = 7, .name = "q"},
         {"q", "p"},
         {"p", "q"}},
        {6, {.date = 100, .name = "p"}, {.date = -5, .name = "q"}, {"q", "p"}, {"p", "q"}},
    };
    for (const Case &c : cases) {
        FileListModel m = Model({c.first, c.second});
        m.SortByColumn(c.column);
        EXPECT_EQ(Names(m), c.ascending) << "column " << c.column;
        m.SortByColumn(c.column);
        EXPECT_EQ(Names(m), c.descending) << "column " << c.column;
    }
}

TEST(TrackList, TimesTypesAndTheInitialTrack) {
    EXPECT_EQ(SectorTime(0), "00:00:00");
    EXPECT_EQ(SectorTime(-150), "-00:02:00");
    EXPECT_EQ(SectorTime(4500 * 120 + 75 * 3 + 4), "120:03:04");
    EXPECT_STREQ(TrackTypeName(13), "MODE2/2336");
    EXPECT_STREQ(TrackTypeName(99), "UNKNOWN");
    // Format, first held, start, end held, user size, session, track.
    const TrackInfo audio{0, -150, 0, 100, 2352, 1, 1, {}, {}}, data{9, 0, 0, 0, 2048, 1, 2, {}, {}};
    EXPECT_EQ(InitialTrack({audio, data}), 1);
    EXPECT_EQ(InitialTrack({audio, audio}), 0);
    EXPECT_EQ(InitialTrack({}), 0);
    EXPECT_EQ(CLumastDoc::TrackByteSize(audio, 0), 100u * 2352);
    EXPECT_EQ(CLumastDoc::TrackByteSize(audio, TRACK_PREGAP | TRACK_WAV), 250u * 2352 + 44);
    EXPECT_EQ(TrackCellText(audio, 4), "-00:02:00");
}

TEST(IniProfile, PrivateProfileSemantics) {
    EXPECT_EQ(IniProfile::ParseInt("  42xyz"), 42);
    EXPECT_EQ(IniProfile::ParseInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(IniProfile::ParseInt("2147483648"), INT32_MIN);
    EXPECT_EQ(IniProfile::ParseInt("0x10"), 16);
    EXPECT_EQ(IniProfile::ParseInt("abc"), 0);

    qorvex::test::TempDir dir;
    IniProfile missing(dir / "none.INI");
    Settings defaults;
    defaults.Read(missing);
    EXPECT_EQ(std::make_tuple(defaults.show_joliet_files, defaults.initial_path_type, defaults.show_iso_files),
              std::make_tuple(1, 1, 0));

    qorvex::test::WriteFile(dir / "a.INI", std::string("; note\r\n[showlist]\r\nJOLIET = 0\r\n[Other]\r\nx=1\r\n"));
    IniProfile ini(dir / "a.INI");
    EXPECT_EQ(ini.GetInt("ShowList", "joliet", 1), 0);
    EXPECT_EQ(ini.GetInt("ShowList", "udf", 7), 7);
    ASSERT_TRUE(ini.WriteString("ShowList", "udf", "1"));
    ASSERT_TRUE(ini.WriteString("Folder", "AppointPath", "\"/data/out\""));
    EXPECT_EQ(ini.GetInt("ShowList", "udf", 0), 1);
    EXPECT_EQ(ini.GetString("Folder", "AppointPath"), "/data/out");
    EXPECT_EQ(ini.GetInt("Other", "x", 0), 1);

    fs::create_directories(dir / "my.tools");
    EXPECT_EQ(IniLocation(dir / "my.tools/lumast"), dir / "my.tools/lumast.INI") << "no cut inside a folder name";
    EXPECT_EQ(IniLocation(dir / "my.tools/lumast.bin"), dir / "my.tools/lumast.INI");
}

// IniLocation as a user who cannot write a 0555 folder (root can: the call runs in a child as nobody).
std::string LocationAsOtherUser(const std::string &program, const std::string &answer) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
        std::ofstream(answer) << IniLocation(program);
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return qorvex::test::ReadText(answer);
}

TEST(IniLocation, PortableBesideTheProgramElseTheUsersConfigSeededFromBeside) {
    qorvex::test::TempDir dir;
    const std::string home = dir / "home", xdg = dir / "xdg", ro = dir / "ro", answer = dir / "answer";
    for (const std::string &folder : {home, xdg, ro, dir / "tools"}) fs::create_directories(folder);
    qorvex::test::WriteFile(ro + "/lumast.INI", std::string("[ShowList]\nudf=1\n"));
    // Open to the other user, but for the program's folder.
    for (const std::string &folder : {dir.path(), xdg}) fs::permissions(folder, fs::perms::all);
    fs::permissions(ro, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::string old_home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);

    struct Case {
        const char *layout;
        std::string program;
        const char *xdg;  // nullptr: unset
        std::string expected;
        int udf;  // read back: 1 when the INI beside the program was taken as the first settings
    } cases[] = {
        {"portable", dir / "tools/lumast", xdg.c_str(), dir / "tools/lumast.INI", 0},
        {"installed", "/usr/bin/lumast", xdg.c_str(), xdg + "/lumast/lumast.INI", 0},
        {"installed, no XDG variable", "/usr/bin/lumast", nullptr, home + "/.config/lumast/lumast.INI", 0},
        {"installed, relative XDG variable", "/usr/bin/lumast", "rel", home + "/.config/lumast/lumast.INI", 0},
        {"unwritable folder", ro + "/lumast", xdg.c_str(), xdg + "/lumast/lumast.INI", 1},
    };
    for (const Case &c : cases) {
        fs::remove_all(xdg + "/lumast");
        c.xdg ? setenv("XDG_CONFIG_HOME", c.xdg, 1) : unsetenv("XDG_CONFIG_HOME");
        const std::string path =
            c.program.rfind(ro, 0) == 0 ? LocationAsOtherUser(c.program, answer) : IniLocation(c.program);
        EXPECT_EQ(path, c.expected) << c.layout;
        EXPECT_EQ(IniProfile(path).GetInt("ShowList", "udf", 0), c.udf) << c.layout;
    }
    // A user's own file is never replaced by the one beside the program.
    IniProfile(xdg + "/lumast/lumast.INI").WriteInt("ShowList", "udf", 5);
    EXPECT_EQ(IniProfile(LocationAsOtherUser(ro + "/lumast", answer)).GetInt("ShowList", "udf", 0), 5);
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", old_home.c_str(), 1);
    fs::permissions(ro, fs::perms::owner_all);
}

TEST(TempFolder, PrivateFolderAndTheOldFolderRule) {
    qorvex::test::TempDir dir;
    const std::string root = dir / "tmp";
    fs::create_directories(root);
    fs::create_directories(root + "/1A2B/sub");
    qorvex::test::WriteFile(root + "/1A2B/sub/f", std::string("x"));
    fs::create_directories(dir / "victim");
    qorvex::test::WriteFile(dir / "victim/keep", std::string("keep"));
    fs::create_symlink(dir / "victim", root + "/3C4D");
    fs::create_directories(root + "/notours");

    ScriptedUi ui;
    IniProfile ini(dir / "l.INI");
    DocumentOptions options;
    options.temp_root = root;
    options.library_path = EngineLibrary();
    for (const std::string &old : {root + "/1A2B", root + "/3C4D", root + "/notours", std::string("/")}) {
        ini.WriteString("Temp", "OldFolder", old);
        CLumastDoc doc(ui, &ini, options);
        struct stat st {};
        ASSERT_EQ(lstat(doc.TempFolder().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(doc.TempFolder().rfind(root + "/", 0), 0u);
    }
    EXPECT_FALSE(fs::exists(root + "/1A2B")) << "ours: removed with its contents";
    EXPECT_TRUE(fs::exists(dir / "victim/keep")) << "a link is never followed";
    EXPECT_TRUE(fs::exists(root + "/notours"));
    // Every run removed its own folder at the end.
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(root)) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"3C4D", "notours"}));
}

}  // namespace
}  // namespace lumast::test
