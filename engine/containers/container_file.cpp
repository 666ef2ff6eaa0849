#include "containers/container_file.h"

#include <algorithm>
#include <cstring>

namespace qorvex::containers {

namespace {
constexpr int64_t kWindowBytes = 256 * 1024;
}  // namespace

bool ContainerFile::Open(const std::string &path) {
    length_ = platform::FindFileLength(path);
    return length_ >= 0 && file_.OpenRead(path);
}

bool ContainerFile::ReadExact(int64_t offset, void *destination, int64_t n) {
    if (offset < 0 || n < 0 || offset > length_ || n > length_ - offset) return false;
    if (n == 0) return true;  // nothing to copy (the destination may be an empty buffer's null)
    auto *out = static_cast<uint8_t *>(destination);
    // A piece larger than the window goes straight to its place.
    if (n >= kWindowBytes) return file_.Seek(offset) && file_.Read(out, n) == n;
    if (offset < window_start_ || offset + n > window_start_ + window_length_) {
        if (!window_) window_.reset(new uint8_t[kWindowBytes]);
        const int64_t want = std::min(kWindowBytes, length_ - offset);
        if (!file_.Seek(offset)) return false;
        const int64_t got = file_.Read(window_.get(), want);
        window_start_ = offset;
        window_length_ = std::max<int64_t>(got, 0);
        if (got < n) return false;  // the file is shorter than when it was opened
    }
    std::memcpy(out, window_.get() + (offset - window_start_), static_cast<size_t>(n));
    return true;
}

}  // namespace qorvex::containers
