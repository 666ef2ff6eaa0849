#include "platform/file.h"

#include <algorithm>
#include <climits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace qorvex::platform {

namespace {
constexpr size_t kWriteBuffer = 1 << 20;

bool WriteAllAt(int fd, const unsigned char *data, size_t n, int64_t offset) {
    while (n > 0) {
        ssize_t done = ::pwrite(fd, data, n, static_cast<off_t>(offset));
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (done == 0) return false;
        data += done;
        offset += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

// Opens without blocking (a FIFO must not hang the caller) and keeps the descriptor only for a regular file,
// on which O_NONBLOCK has no effect.
int OpenRegular(const std::string &path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

File::~File() {
    Close();
}

bool File::OpenRead(const std::string &path) {
    Close();
    fd_ = OpenRegular(path, O_RDONLY);
    writing_ = false;
    position_ = 0;
    return fd_ >= 0;
}

bool File::Create(const std::string &path) {
    Close();
    fd_ = OpenRegular(path, O_WRONLY | O_CREAT | O_TRUNC);
    writing_ = fd_ >= 0;
    position_ = 0;
    pending_.clear();
    return writing_;
}

bool File::Adopt(intptr_t native) {
    Close();
    if (native < 0 || native > INT32_MAX) return false;
    fd_ = static_cast<int>(native);
    owned_ = false;
    writing_ = true;
    position_ = 0;
    pending_.clear();
    return true;
}

bool File::Flush() {
    if (pending_.empty()) return true;
    const int64_t offset = position_ - static_cast<int64_t>(pending_.size());
    bool ok = fd_ >= 0 && WriteAllAt(fd_, pending_.data(), pending_.size(), offset);
    pending_.clear();
    return ok;
}

bool File::Close() {
    if (fd_ < 0) return true;
    bool ok = Flush();
    if (owned_ && ::close(fd_) != 0) ok = false;
    fd_ = -1;
    owned_ = true;
    writing_ = false;
    pending_.clear();
    return ok;
}

bool File::Seek(int64_t position) {
    if (fd_ < 0 || position < 0 || !Flush()) return false;
    position_ = position;
    return true;
}

int64_t File::Read(void *destination, int64_t n) {
    if (fd_ < 0 || n < 0) return -1;
    auto *out = static_cast<unsigned char *>(destination);
    int64_t total = 0;
    while (total < n) {
        ssize_t got = ::pread(fd_, out + total, static_cast<size_t>(n - total), static_cast<off_t>(position_));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        total += got;
        position_ += got;
    }
    return total;
}

bool File::CanReadScattered() {
    return true;
}

int64_t File::ReadScattered(int64_t offset, const ReadSlice *slices, int count) {
    if (fd_ < 0 || offset < 0 || count < 0 || count > IOV_MAX) return -1;
    struct iovec vectors[IOV_MAX];
    for (int i = 0; i < count; ++i) vectors[i] = {slices[i].data, slices[i].size};
    for (;;) {  // a regular file fills every slice but at its end
        const ssize_t got = ::preadv(fd_, vectors, count, static_cast<off_t>(offset));
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

bool File::Write(const void *data, size_t n) {
    if (fd_ < 0 || !writing_) return false;
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (pending_.size() + n > kWriteBuffer) {
        if (!Flush()) return false;
        if (n >= kWriteBuffer) {
            if (!WriteAllAt(fd_, bytes, n, position_)) return false;
            position_ += static_cast<int64_t>(n);
            return true;
        }
    }
    pending_.insert(pending_.end(), bytes, bytes + n);
    position_ += static_cast<int64_t>(n);
    return true;
}

bool File::SetLength(int64_t length) {
    if (fd_ < 0 || length < 0 || !Flush()) return false;
    return ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

bool File::SetModificationTime(int64_t seconds) {
    if (fd_ < 0 || !Flush()) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time stays as it is
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    return ::futimens(fd_, times) == 0;
}

int64_t File::CopyFrom(File &source, int64_t source_offset, int64_t n) {
    if (fd_ < 0 || !writing_ || source.fd_ < 0 || n < 0 || source_offset < 0 || !Flush()) return -1;
    int64_t copied = 0;
    while (copied < n) {
        loff_t in = source_offset + copied;
        loff_t out = position_;
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(n - copied, int64_t(1) << 30));
        const ssize_t done = ::copy_file_range(source.fd_, &in, fd_, &out, chunk, 0);
        if (done > 0) {
            copied += done;
            position_ += done;
            continue;
        }
        if (done == 0) break;  // the source ends
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
        // No in-kernel copy between these files: go through a buffer.
        std::vector<unsigned char> buffer(std::min<size_t>(chunk, kWriteBuffer));
        const int64_t saved = source.position_;
        source.position_ = source_offset + copied;
        const int64_t got = source.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
        source.position_ = saved;
        if (got < 0) return -1;
        if (got == 0) break;
        if (!WriteAllAt(fd_, buffer.data(), static_cast<size_t>(got), position_)) return -1;
        copied += got;
        position_ += got;
    }
    return copied;
}

int64_t FindFileLength(const std::string &path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode)) return 0;
    if (!S_ISREG(st.st_mode)) return 0;  // FIFOs and devices have no length worth reading
    return static_cast<int64_t>(st.st_size);
}

bool IsDirectory(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsPlainFile(const std::string &path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> ListFolder(const std::string &folder) {
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool CreateFolder(const std::string &path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

bool SetFileAttributes(const std::string &, int32_t) {
    return true;
}

bool MakeOutputFolders(const std::string &path) {
    const size_t last = path.find_last_of(kPathSeparator);
    if (last == std::string::npos || last == 0) return false;
    if (IsDirectory(path.substr(0, last))) return false;  // nothing is missing (the usual case)
    // Walk the folders from the outermost, creating each one that is missing.
    bool made = false;
    for (size_t k = path.find(kPathSeparator, 1); k != std::string::npos && k <= last;
         k = path.find(kPathSeparator, k + 1)) {
        const std::string folder = path.substr(0, k);
        if (folder.empty() || folder.back() == kPathSeparator) continue;
        if (IsDirectory(folder)) continue;
        made = CreateFolder(folder);
        if (!made) return false;
    }
    return made;
}

}  // namespace qorvex::platform
