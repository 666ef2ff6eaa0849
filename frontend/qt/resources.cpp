#include "resources.h"

#include "string_table.h"

namespace lumast::qt {

const std::vector<Menu> &MainMenu() {
    static const std::vector<Menu> menu = {
        {"ファイル(&F)",
         {{57601, "開く(&O)...\tCtrl+O", "Ctrl+O"}, {0, nullptr}, {-1, nullptr}, {0, nullptr}, {57665, "終了(&X)"}}},
        {"解凍(&E)",
         {{32772, "全てのファイルを解凍(&A)"},
          {32771, "選択されたファイルを解凍(&S)"},
          {0, nullptr},
          {32796, "選択されたトラックを解凍(&T)"},
          {0, nullptr},
          {32801, LoadString(IDS_MENU_VERIFY), "Ctrl+K"}}},
        {"一覧(&S)",
         {{32788, "ボリューム情報...(&V)"},
          {0, nullptr},
          {32780, "ISO9660のファイルを表示(&I)"},
          {32781, "JOLIETのファイルを表示(&J)"},
          {32782, "UDFのファイルを表示(&U)"},
          {32800, LoadString(IDS_MENU_SHOW_ROCKRIDGE)},
          {32783, "ISO9660のシステムを表示(&O)"},
          {32784, "JOLIETのシステムを表示(&L)"},
          {32785, "UDFのシステムを表示(&D)"}}},
        {"設定(&O)",
         {{32792, "選択解凍時にパス構造を含める(&P)"},
          {32790, "CRCを確認する(&C)"},
          {32791, "位置を確認する(&A)"},
          {32795, "音楽トラックにプレギャップを加える(&W)"},
          {32797, "全解凍時にUDFを優先する(&U)"},
          {32799, LoadString(IDS_MENU_EXTENSIONS)},
          {32810, LoadString(IDS_MENU_FOLDER_TREE)},
          {32811, LoadString(IDS_MENU_FIND_BOX)},
          {0, nullptr},
          {32798, "解凍先フォルダの初期設定...(&D)"}}},
        {"ウィンドウ(&W)",
         {{32793, "トラック一覧(&T)"},
          {0, nullptr},
          {32787, "イメージ情報(&I)"},
          {59392, "ツール バー(&B)"},
          {32786, "抽出ボタン(&E)"},
          {59393, "ステータス バー(&S)"}}},
        {"ヘルプ(&H)", {{57664, "奥付(&A)..."}}},
    };
    return menu;
}

const std::vector<MenuItem> &ContextMenuItems(int menu) {
    static const std::vector<MenuItem> file_menu = {
        {32773, "このファイルを解凍(&E)"},
        {32771, "選択されたファイルを解凍(&S)"},
        {0, nullptr},
        {32775, "アプリケーションから開く(&H)..."},
    };
    static const std::vector<MenuItem> track_menu = {{32796, "このトラックを解凍(&E)"}};
    static const std::vector<MenuItem> none;
    if (menu == 130) return file_menu;
    if (menu == 131) return track_menu;
    return none;
}

const char *BarCaption(int bar) {
    switch (bar) {
        case IDD_EXTRACT_BAR: return "ファイル抽出ボタン";
        case IDD_INFO_BAR: return "ボリューム情報";
        case IDD_TRACK_BAR: return "トラック一覧";
        default: return "";
    }
}

}  // namespace lumast::qt
