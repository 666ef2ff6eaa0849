// Start-up and shut-down of the program, independent of the window toolkit.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document.h"
#include "ini_profile.h"
#include "ui_services.h"
#include "view.h"

namespace lumast {

// Settings/WindowPos: "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d".
struct WindowPlacement {
    unsigned flags = 0;
    unsigned show = 1;  // 3: maximised
    int min_x = -1, min_y = -1, max_x = -1, max_y = -1;
    int left = 0, top = 0, right = 0, bottom = 0;
};
// False unless all ten numbers parse.
bool ParseWindowPos(const std::string &text, WindowPlacement *placement);
std::string FormatWindowPos(const WindowPlacement &placement);

// "lumast 0.1.0": the package's name and version, as the about box shows it.
std::string PackageVersionText();
// What --help or --version (-h, -v) among the program's arguments asks to print before any window opens;
// empty when they are absent. The first such argument decides.
std::string CommandLineAnswer(const std::vector<std::string> &args);

class CLumastApp {
public:
    // `ini_path` empty: IniLocation().
    explicit CLumastApp(UiServices &ui, const std::string &ini_path = {});
    ~CLumastApp();

    // Creates the document (engine binding, settings, temporary folder) and the view's core.
    void InitInstance(const DocumentOptions &options = {});
    // Runs the command line (program arguments without the program name): a path opens that image. A failed
    // open is reported and the program goes on with an empty document. False when an open failed.
    bool ProcessCommandLine(const std::vector<std::string> &args);
    // Writes the settings, releases the engine, removes the temporary folder.
    void ExitInstance();

    IniProfile &Profile() { return profile_; }
    const std::string &FontFace() const { return font_face_; }
    CLumastDoc *Document() { return doc_.get(); }
    CLumastView *View() { return view_.get(); }

private:
    UiServices &ui_;
    IniProfile profile_;
    std::string font_face_;
    std::unique_ptr<CLumastDoc> doc_;
    std::unique_ptr<CLumastView> view_;
};

}  // namespace lumast
