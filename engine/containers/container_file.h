// The container file under a decoded stream: positional reads through a read-ahead window, for sources that
// read their input in many small pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

namespace qorvex::containers {

class ContainerFile {
public:
    bool Open(const std::string &path);
    int64_t Length() const { return length_; }
    // Reads exactly n bytes at `offset`; false when the file does not hold them.
    bool ReadExact(int64_t offset, void *destination, int64_t n);

private:
    platform::File file_;
    int64_t length_ = -1;
    std::unique_ptr<uint8_t[]> window_;
    int64_t window_start_ = 0;
    int64_t window_length_ = 0;
};

}  // namespace qorvex::containers
