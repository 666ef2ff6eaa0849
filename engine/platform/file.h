// File services of the engine: the small set of operations the readers and extractors need, with every
// platform error turned into a false or negative result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/text.h"

namespace qorvex::platform {

// One piece of a scattered read: the next `size` bytes of the file go to `data`.
struct ReadSlice {
    void *data;
    size_t size;
};

// A file opened for reading (regular files only, so FIFOs and devices never block a read) or created
// for writing. Writes are buffered; the buffer is flushed before seeks, length changes and close.
class File {
public:
    File() = default;
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool OpenRead(const std::string &path);
    bool Create(const std::string &path);  // create or truncate, write only
    // Writes into a file the caller opened for writing (a descriptor; a HANDLE on Windows), from its start.
    // Close flushes and leaves it open: it stays the caller's.
    bool Adopt(intptr_t native);
#ifdef _WIN32
    bool IsOpen() const {
        return handle_ != nullptr;
    }
#else
    bool IsOpen() const {
        return fd_ >= 0;
    }
#endif
    bool Close();  // false when flushing or closing fails

    bool Seek(int64_t position);
    // Reads up to n bytes; returns the count read (short at end of file) or -1 on an error.
    int64_t Read(void *destination, int64_t n);
    // Where the platform reads into several buffers in one call (CanReadScattered): fills the slices in turn
    // from `offset`, the position unchanged; returns the bytes read (fewer at the end of the file) or -1.
    static bool CanReadScattered();
    int64_t ReadScattered(int64_t offset, const ReadSlice *slices, int count);
    bool Write(const void *data, size_t n);
    bool Flush();
    bool SetLength(int64_t length);
    bool SetModificationTime(int64_t seconds_since_1970);
    // Copies n bytes of `source` from `source_offset` to this file's position, inside the kernel where it can;
    // returns the bytes copied (fewer at the end of the source) or -1 on an error.
    int64_t CopyFrom(File &source, int64_t source_offset, int64_t n);

private:
#ifdef _WIN32
    void *handle_ = nullptr;  // a HANDLE; nullptr when closed
#else
    int fd_ = -1;
#endif
    bool writing_ = false;
    bool owned_ = true;     // false for an adopted file
    int64_t position_ = 0;  // where the next read or write goes (reads and writes are positional)
    std::vector<unsigned char> pending_;
};

// Length of a file found by name; -1 when nothing is found.
int64_t FindFileLength(const std::string &path);
bool IsDirectory(const std::string &path);
// Whether the path names a regular file itself (a symbolic link does not count).
bool IsPlainFile(const std::string &path);
// The names in a folder ("" for the current one), without "." and ".."; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string &folder);
bool CreateFolder(const std::string &path);
// Applies the attribute bits that have a meaning on this platform (none on POSIX: the hidden bit is a
// naming convention there, and a name from an image is never rewritten to carry it).
bool SetFileAttributes(const std::string &path, int32_t attributes);

// Creates every missing folder of an output path (the folders of everything before its last separator);
// true when one was made.
bool MakeOutputFolders(const std::string &path);

// Folder separator of output paths handed in by a host (used with find_last_of and find).
#ifdef _WIN32
constexpr const char *kPathSeparator = "\\/";  // either one
#else
constexpr char kPathSeparator = '/';
#endif

// The last folder separator of a path, npos when there is none; on Windows never the second byte of a
// double-byte character of the code page.
inline size_t LastSeparator(std::string_view path) {
#ifdef _WIN32
    return FindLastOf(path, kPathSeparator);
#else
    return path.find_last_of(kPathSeparator);
#endif
}

}  // namespace qorvex::platform
