#include "progress_state.h"

#include "text_format.h"

namespace lumast {
namespace {

int Percent(uint64_t done, uint64_t size) {
    if (size == 0) return 100;
    if (done >= size) return 100;  // a skipped item may be counted past the total
    return static_cast<int>(static_cast<unsigned __int128>(done) * 100 / size);
}

int BarPosition(int width, uint64_t done, uint64_t size) {
    if (size == 0 || done >= size) return width;
    return static_cast<int>(static_cast<unsigned __int128>(width) * done / size);
}

}  // namespace

void ProgressState::Open() {
    total_done_ = 0;
    total_highest_ = 0;
    abort_ = 0;
    closing_ = 0;
}

ProgressDisplay ProgressState::BeginFile(const std::string &description, uint64_t file_size, uint64_t total_size) {
    file_size_ = file_size;
    total_size_ = total_size;
    file_done_ = 0;
    file_highest_ = 0;
    calls_ = 0;
    size_text_ = GroupedNumber(file_size);
    ProgressDisplay d;
    d.description = description;
    d.bytes = "0 / " + size_text_ + " BYTE";
    d.file_percent = "0%";
    d.total_percent = Format("%d%%", total_highest_);
    d.description_changed = d.file_percent_changed = d.total_percent_changed = true;
    d.file_bar = 0;
    d.total_bar = BarPosition(bar_width_, total_done_, total_size_);
    return d;
}

bool ProgressState::Advance(uint64_t bytes, ProgressDisplay *display) {
    file_done_ += bytes;
    total_done_ += bytes;
    ++calls_;
    if (calls_ < kRefreshInterval && file_done_ != file_size_ && total_done_ != total_size_) return false;
    calls_ = 0;
    ProgressDisplay d;
    d.bytes = GroupedNumber(file_done_) + " / " + size_text_ + " BYTE";
    const int file_percent = Percent(file_done_, file_size_);
    if (file_percent > file_highest_) {
        file_highest_ = file_percent;
        d.file_percent = Format("%d%%", file_percent);
        d.file_percent_changed = true;
    }
    const int total_percent = Percent(total_done_, total_size_);
    if (total_percent > total_highest_) {
        total_highest_ = total_percent;
        d.total_percent = Format("%d%%", total_percent);
        d.total_percent_changed = true;
    }
    d.file_bar = BarPosition(bar_width_, file_done_, file_size_);
    d.total_bar = BarPosition(bar_width_, total_done_, total_size_);
    if (display) *display = d;
    return true;
}

}  // namespace lumast
