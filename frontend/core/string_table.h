// The program's string table: every user-visible text by its resource number.
#pragma once

#include <string>

namespace lumast {

// Returns the text stored under `id`, or an empty string when there is none.
const char *LoadString(int id);

// The program's name, the title of every message box.
inline constexpr const char *kProgramName = "ぽてりこ";

// Frequently used ids.
enum StringId : int {
    IDS_COLUMN_NAME = 3300,
    IDS_VERB_OPEN = 3307,
    IDS_VERB_EDIT = 3308,
    IDS_VERB_PLAY = 3310,
    IDS_TRACK_COLUMN_SESSION = 3362,
    IDS_CHOOSE_FOLDER = 3425,
    IDS_TRACK_NAME = 3426,
    IDS_SUMMARY_AUDIO = 3427,
    IDS_SAVE_TRACK_TITLE = 3428,
    IDS_EXT_BIN = 3429,
    IDS_EXT_WAV = 3430,
    IDS_TRACK_FILTER = 3431,
    IDS_OPEN_FILTER = 3441,
    IDS_OPEN_TITLE = 3445,
    IDS_OVERWRITE_QUESTION = 3446,
    IDS_SUMMARY_NONE = 3448,
    IDS_SUMMARY = 3449,
    IDS_DEST_DOCUMENTS = 3477,
    IDS_DEST_IMAGE_FOLDER = 3478,
    IDS_DEST_APPOINTED = 3479,
    IDS_OPEN_FILTER_EXTENDED = 3480,  // with the disc sheets
    IDS_MENU_EXTENSIONS = 3481,
    IDS_MENU_SHOW_ROCKRIDGE = 3482,
    IDS_PACKAGE_VERSION = 3483,  // the package's name and version: the about box and --version
    IDS_COMMAND_LINE_HELP = 3484,
    // The folder tree and the find box (beyond the described window).
    IDS_MENU_FOLDER_TREE = 3485,
    IDS_MENU_FIND_BOX = 3486,
    IDS_FIND_PLACEHOLDER = 3487,
    IDS_EXTRACT_FOLDER = 3488,
    IDS_ROOT_FOLDER = 3489,
    IDS_MENU_VERIFY = 3500,
    IDS_VERIFY_PROGRESS = 3501,
    IDS_VERIFY_TRACK = 3502,
    IDS_VERIFY_UNCHECKED = 3503,
    IDS_VERIFY_DAMAGED = 3504,
    IDS_VERIFY_GOOD = 3505,
    IDS_VERIFY_BAD = 3506,
    IDS_VERIFY_STOPPED = 3507,
    IDS_VERIFY_CORRECTABLE = 3508,
    IDS_VERIFY_MISSING = 3509,
    IDS_NOT_EXTRACTED = 10070,
    IDS_UNSAFE_NAME = 10071,
    IDS_NAME_CUT = 10072,
    IDS_IN_THE_WAY = 10073,
    IDS_FOLDERS_TOO_DEEP = 10074,
    IDS_FAILED_FILE = 10075,
    IDS_MORE_NOT_EXTRACTED = 10076,
    IDS_LINK_LEAVES = 10090,
    IDS_SPECIAL_FILE = 10091,
    IDS_DAMAGED_NOT_EXTRACTED = 10100,
    IDS_KEEP_DAMAGED_QUESTION = 10101,
    IDS_DAMAGED_KEPT = 10102,
    IDS_DAMAGED_COUNT = 10103,
    IDS_DAMAGED_ROW = 10104,
    IDS_SALVAGE_SUMMARY = 10105,
    IDS_IDLE_PROMPT = 57345,
};

}  // namespace lumast
