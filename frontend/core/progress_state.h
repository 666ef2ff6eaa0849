// State of the extraction progress dialog: what its labels and bars show, and when they are refreshed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace lumast {

struct ProgressDisplay {
    std::string description;    // label 1009
    std::string bytes;          // label 1011
    std::string file_percent;   // label 1013 (unchanged when empty... see the flags)
    std::string total_percent;  // label 1014
    bool description_changed = false;
    bool file_percent_changed = false;
    bool total_percent_changed = false;
    int file_bar = 0;   // 0..bar width
    int total_bar = 0;  // 0..bar width
};

class ProgressState {
public:
    static constexpr int kRefreshInterval = 512;

    // `bar_width` is the client width of the progress bars (their range is 0..bar_width).
    explicit ProgressState(int bar_width = 100) : bar_width_(bar_width) {}

    // Dialog opened: clears the overall progress and both flags; the labels start empty.
    void Open();
    // A new file: returns what the dialog shows now.
    ProgressDisplay BeginFile(const std::string &description, uint64_t file_size, uint64_t total_size);
    // Adds `bytes`. Returns true and fills `display` when the screen is to be refreshed.
    bool Advance(uint64_t bytes, ProgressDisplay *display);

    // "中止" / Escape: only sets the flag.
    void Abort() { abort_ = 1; }
    int AbortFlag() const { return abort_; }
    // The worker's close: sets the closing flag. An OK that arrives otherwise is ignored.
    void MarkClosing() { closing_ = 1; }
    bool MayClose() const { return closing_ != 0; }

    int BarWidth() const { return bar_width_; }

private:
    int bar_width_;
    uint64_t file_size_ = 0, file_done_ = 0;
    uint64_t total_size_ = 0, total_done_ = 0;
    int file_highest_ = 0, total_highest_ = 0;
    int calls_ = 0;
    std::string size_text_;
    std::atomic<int> abort_{0};
    std::atomic<int> closing_{0};
};

}  // namespace lumast
