// Menus, accelerators, dialog texts and control-bar captions of the main window, by resource number.
#pragma once

#include <vector>

namespace lumast::qt {

// Commands of the frame and the application (the document's and the view's are in the core).
enum FrameCommand : int {
    ID_FILE_OPEN = 57601,
    ID_FILE_MRU_FIRST = 57616,  // + n, n = 0..7
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_EXTRACT_BAR = 32786,
    ID_VIEW_INFO_BAR = 32787,
    ID_VIEW_TRACK_BAR = 32793,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_FOLDER_TREE = 32810,  // beyond the described menus
    ID_VIEW_FIND_BOX = 32811,
    ID_NEXT_PANE = 59648,  // F6
    ID_PREV_PANE = 59649,  // Shift+F6
};

// Control bars (resource ids double as their caption strings).
enum BarId : int {
    IDR_TOOLBAR = 128,
    IDD_EXTRACT_BAR = 110,
    IDD_INFO_BAR = 111,
    IDD_TRACK_BAR = 112,
};

struct MenuItem {
    int id;            // 0: separator; -1: the recent-file entries
    const char *text;  // with "\t" and the accelerator text where there is one
    const char *shortcut = nullptr;
};
struct Menu {
    const char *title;
    std::vector<MenuItem> items;
};

// Menu bar 128.
const std::vector<Menu> &MainMenu();
// Context menus 130 (file list) and 131 (track list).
const std::vector<MenuItem> &ContextMenuItems(int menu);

// Texts of resources that are not in the string table.
const char *BarCaption(int bar);
inline constexpr const char *kUntitled = "無題";
inline constexpr const char *kRecentFilePlaceholder = "最近使ったファイル";
inline constexpr const char *kInfoInitialText = " イメージが選択されていません。";
inline constexpr const char *kExtractSelectedButton = "選択されたファイルを解凍(&S)";
inline constexpr const char *kExtractAllButton = "全てのファイルを解凍(&A)";
inline constexpr const char *kVersionText = "Version 0.100";
inline constexpr const char *kKanaIndicator = "ｶﾅ";

}  // namespace lumast::qt
