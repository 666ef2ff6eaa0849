#include "application.h"

#include <cstdio>

#include "qorvex_version.h"
#include "settings.h"
#include "string_table.h"
#include "text_format.h"

namespace lumast {

bool ParseWindowPos(const std::string &text, WindowPlacement *p) {
    WindowPlacement w;
    char tail = 0;
    const int n = std::sscanf(text.c_str(), "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d%c", &w.flags, &w.show, &w.min_x, &w.min_y,
                              &w.max_x, &w.max_y, &w.left, &w.top, &w.right, &w.bottom, &tail);
    if (n != 10) return false;
    *p = w;
    return true;
}

std::string FormatWindowPos(const WindowPlacement &w) {
    char text[160];
    std::snprintf(text, sizeof text, "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", w.flags, w.show, w.min_x, w.min_y, w.max_x,
                  w.max_y, w.left, w.top, w.right, w.bottom);
    return text;
}

std::string PackageVersionText() {
    return Format(LoadString(IDS_PACKAGE_VERSION), QORVEX_VERSION_STRING);
}

std::string CommandLineAnswer(const std::vector<std::string> &args) {
    for (const std::string &arg : args) {
        if (arg == "--help" || arg == "-h") return LoadString(IDS_COMMAND_LINE_HELP);
        if (arg == "--version" || arg == "-v") return PackageVersionText() + "\n";
    }
    return {};
}

CLumastApp::CLumastApp(UiServices &ui, const std::string &ini_path)
    : ui_(ui), profile_(ini_path.empty() ? IniLocation() : ini_path) {
    font_face_ = ui_.InterfaceFontFace();
    if (font_face_.empty()) font_face_ = "System";
    if (font_face_.size() > 31) font_face_.resize(31);
}

CLumastApp::~CLumastApp() {
    ExitInstance();
}

void CLumastApp::InitInstance(const DocumentOptions &options) {
    doc_ = std::make_unique<CLumastDoc>(ui_, &profile_, options);
    view_ = std::make_unique<CLumastView>(*doc_, ui_);
    doc_->OnNewDocument();
    doc_->BuildTrackList();
}

bool CLumastApp::ProcessCommandLine(const std::vector<std::string> &args) {
    if (!doc_) return false;
    for (const std::string &arg : args) {
        if (arg.empty() || arg[0] == '-') continue;  // toolkit options are not image paths
        return doc_->OnOpenDocument(arg);
    }
    return true;
}

void CLumastApp::ExitInstance() {
    if (doc_) doc_->OnCloseDocument();
    view_.reset();
    doc_.reset();
}

}  // namespace lumast
