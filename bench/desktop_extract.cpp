// The desktop program's extract-all without a display: the document of the desktop core, driven by a
// UiServices that answers like a user who chose the destination and stays away. Used by bench/compare.py.
//
//   desktop_extract IMAGE DESTINATION
#include <cstdio>
#include <string>

#include "document.h"
#include "result.h"
#include "ui_services.h"

namespace {

class QuietUi : public lumast::UiServices {
public:
    void ShowMessage(const std::string &text, lumast::Beep, lumast::BoxIcon) override { last_message = text; }
    int AskOverwrite(const std::string &) override { return lumast::OVERWRITE_YES; }
    bool AskKeepDamaged(const std::string &) override { return false; }
    void RunOperation(const std::function<void()> &body) override { body(); }
    void ProgressBeginFile(const std::string &, uint64_t, uint64_t) override {}
    int ProgressAdvance(uint64_t) override { return 0; }
    void ProgressClose() override {}
    bool ChooseFolder(const std::string &, const std::string &initial, std::string *chosen) override {
        *chosen = initial;
        return true;
    }
    bool ChooseTrackFile(const lumast::TrackSaveRequest &, std::string *) override { return false; }
    lumast::ShellResult ShellExecute(const std::string &, const std::string &) override {
        return lumast::ShellResult::Ok;
    }
    lumast::ShellResult ShellOpenWith(const std::string &) override { return lumast::ShellResult::Ok; }
    lumast::FileTypeVerbs VerbsOfFileType(const std::string &) override { return {}; }
    std::string DocumentsFolder() override { return {}; }
    bool ScreenSaverActive() override { return false; }
    void SetScreenSaverActive(bool) override {}
    std::string InterfaceFontFace() override { return "System"; }
    void SetWaitCursor(bool) override {}
    void FileListPublished(const lumast::FileListModel &) override {}
    void TrackListFilled(const std::vector<TrackInfo> &, int) override {}
    void SummaryChanged(const std::string &) override {}

    std::string last_message;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: desktop_extract IMAGE DESTINATION\n");
        return 2;
    }
    QuietUi ui;
    lumast::CLumastDoc doc(ui, nullptr);
    if (doc.OpenImage(argv[1]) != 0) {
        std::fprintf(stderr, "desktop_extract: cannot open %s\n", argv[1]);
        return 1;
    }
    const int32_t result = doc.ExtractAll(argv[2]);
    if (result != lumast::RESULT_FINISHED) {
        std::fprintf(stderr, "desktop_extract: 0x%04X %s\n", static_cast<unsigned>(result), ui.last_message.c_str());
        return 1;
    }
    return 0;
}
