// Front-end result codes and the one place where a code becomes a message box.
#pragma once

#include <cstdint>
#include <string>

#include "ui_services.h"

namespace lumast {

// Codes of the front-end's own operations; the engine's codes (0x8100...) travel the same way.
enum : int32_t {
    RESULT_NO_ENGINE = 0x9101,
    RESULT_FINISHED = 0x9301,
    RESULT_CANCELLED = 0x9302,
    RESULT_SKIPPED = 0x9303,
    RESULT_NOT_FOUND = 0x9304,
    RESULT_PART_NOT_FOUND = 0x9305,
    RESULT_BAD_KIND = 0x9306,
    RESULT_REFUSED_EXECUTABLE = 0x9307,
};

struct ResultMessage {
    int id;            // string-table id
    const char *text;  // exact text shown
    Beep beep;
    BoxIcon icon;
};

// The message, sound and icon that `code` is reported with.
ResultMessage MessageForResult(int32_t code);

// Beeps and shows one message box for `code`; `details` (what failed, what was left out) follow its text.
void ReportResult(UiServices &ui, int32_t code, const std::string &details = {});

}  // namespace lumast
