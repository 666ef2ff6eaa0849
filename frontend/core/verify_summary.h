// 検証: every stored sector of the open image checked behind the progress dialog, and the summary per track.
#pragma once

#include <cstdint>
#include <string>

#include "disc_verify.h"
#include "ui_services.h"

namespace lumast {

// The menu command (beyond the described menus: the last item of the 解凍 menu).
constexpr int ID_VERIFY = 32801;

// The summary of a scan as the message box shows it.
std::string VerifySummary(const host::DiscScan &scan);

// Opens `image` anew with the engine at `library` ("" as the document finds it) and `options`, scans it on a
// worker behind the progress dialog and shows the summary. Answers the summary ("" when the engine or the image
// could not be opened, or the engine lacks the raw sector exports).
std::string RunVerify(UiServices &ui, const std::string &library, const std::string &image, uint32_t options);

}  // namespace lumast
