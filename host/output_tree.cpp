#include "output_tree.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace host {

namespace {

#ifndef _WIN32
void CutVersion(std::string *name) {
    *name = WithoutVersion(*name);
}
#endif

std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

#ifndef _WIN32
OutputProblem SystemProblem(int error) {
    return {Refusal::kSystem, error, {}};
}

OutputProblem InTheWay(const std::vector<std::string> &components, size_t last) {
    std::vector<std::string> head(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(last + 1));
    return {Refusal::kInTheWay, 0, JoinComponents(head)};
}

void Set(OutputProblem *problem, OutputProblem value) {
    if (problem) *problem = std::move(value);
}
#endif

}  // namespace

#ifndef _WIN32  // Windows names have more rules: output_tree_win32.cpp
std::string SafeComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return {};
    std::string out(name);
    for (char &c : out)
        if (c == '/' || c == '\0') c = '_';
    return out;
}

std::vector<std::string> TargetComponents(std::string_view image_path, bool cut_version) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= image_path.size()) {
        size_t end = image_path.find('\\', begin);
        if (end == std::string_view::npos) end = image_path.size();
        parts.emplace_back(image_path.substr(begin, end - begin));
        begin = end + 1;
    }
    // The version suffix belongs to the file name, which is the last component as recorded.
    if (cut_version && !parts.empty()) CutVersion(&parts.back());
    std::vector<std::string> out;
    for (const auto &part : parts)
        if (std::string safe = SafeComponent(part); !safe.empty()) out.push_back(std::move(safe));
    return out;
}

#endif

std::string JoinComponents(const std::vector<std::string> &components) {
    std::string out;
    for (const auto &c : components) {
        if (!out.empty()) out += '/';
        out += c;
    }
    return out;
}

std::string OutputProblem::Describe() const {
    switch (refusal) {
        case Refusal::kNone: return "no problem";
        case Refusal::kNothingLeft: return "the name leaves nothing to create";
        case Refusal::kExists: return "exists (use --overwrite to replace it)";
        case Refusal::kInTheWay:
            return Quoted(where) +
                   " is in the way (a link, or not a folder where one is needed; links are not followed)";
        case Refusal::kSystem: return std::strerror(error);
        case Refusal::kWriteFailed: return std::string("writing failed: ") + std::strerror(error);
    }
    return "?";
}

// ---- OutputFile (the buffering is the same on every platform; WriteAll and the rest are the platform's)

bool OutputFile::Flush() {
    if (buffer_.empty() || write_error_) return write_error_ == 0;
    const bool ok = WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool OutputFile::Append(const void *data, size_t length) {
    if (fd_ < 0 || write_error_) return false;
    const char *bytes = static_cast<const char *>(data);
    if (buffer_.capacity() < kBlock) buffer_.reserve(kBlock);
    while (length > 0) {
        // A run that fills whole blocks goes straight out when nothing is waiting before it.
        if (buffer_.empty() && length >= kBlock) {
            const size_t whole = length - length % kBlock;
            if (!WriteAll(bytes, whole)) return false;
            bytes += whole;
            length -= whole;
            continue;
        }
        const size_t take = std::min(length, kBlock - buffer_.size());
        buffer_.insert(buffer_.end(), bytes, bytes + take);
        bytes += take;
        length -= take;
        if (buffer_.size() == kBlock && !Flush()) return false;
    }
    return true;
}

#ifndef _WIN32  // output_tree_win32.cpp on Windows

struct OutputFile::Folder {
    int fd;
    explicit Folder(int descriptor) : fd(descriptor) {}
    ~Folder() { close(fd); }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
};

void OutputFile::Adopt(int fd, std::shared_ptr<const Folder> folder, std::string name) {
    Discard();
    fd_ = fd;
    folder_ = std::move(folder);
    name_ = std::move(name);
    buffer_.clear();
    final_mode_ = -1;
    write_error_ = 0;
    write_calls_ = 0;
}

intptr_t OutputFile::Native() const {
    return fd_;
}

bool OutputFile::WriteAll(const char *data, size_t length) {
    while (length > 0) {
        ++write_calls_;
        const ssize_t n = write(fd_, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            write_error_ = errno;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void OutputFile::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    folder_.reset();
    buffer_.clear();
}

bool OutputFile::Finish(int64_t modified, OutputProblem *problem) {
    if (fd_ < 0) {
        Set(problem, SystemProblem(EBADF));
        return false;
    }
    bool ok = write_error_ == 0 && Flush();
    if (ok && final_mode_ >= 0 && fchmod(fd_, static_cast<mode_t>(final_mode_)) != 0) write_error_ = errno, ok = false;
    if (ok && modified != kKeepTime) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
        if (futimens(fd_, times) != 0) write_error_ = errno, ok = false;
    }
    if (close(fd_) != 0 && ok) write_error_ = errno, ok = false;
    fd_ = -1;
    if (!ok) {
        Set(problem, {Refusal::kWriteFailed, write_error_, {}});
        unlinkat(folder_->fd, name_.c_str(), 0);
    }
    Close();
    return ok;
}

void OutputFile::Discard() {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    unlinkat(folder_->fd, name_.c_str(), 0);
    Close();
}

// ---- OutputTree

OutputTree::~OutputTree() {
    if (fd_ >= 0) close(fd_);
}

bool OutputTree::Open(const std::string &path, OutputProblem *problem) {
    if (fd_ >= 0) close(fd_), fd_ = -1;
    cached_.reset();
    cached_path_.clear();
    if (path.empty()) {
        Set(problem, SystemProblem(ENOENT));
        return false;
    }
    // The destination itself is the user's choice: made like "mkdir -p".
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string partial = path.substr(0, pos);
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            const int error = errno;
            struct stat st {};
            if (stat(partial.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                Set(problem, SystemProblem(error));
                return false;
            }
        }
        if (pos == std::string::npos) break;
    }
    fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        Set(problem, SystemProblem(errno));
        return false;
    }
    return true;
}

bool OutputTree::Fork(OutputTree *other, OutputProblem *problem) const {
    if (other->fd_ >= 0) close(other->fd_);
    other->cached_.reset();
    other->cached_path_.clear();
    other->fd_ = fd_ < 0 ? -1 : fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (other->fd_ < 0) Set(problem, SystemProblem(fd_ < 0 ? EBADF : errno));
    return other->fd_ >= 0;
}

std::shared_ptr<const OutputFile::Folder> OutputTree::Parent(const std::vector<std::string> &components, bool make,
                                                             OutputProblem *problem) const {
    const size_t count = components.size() - 1;
    if (cached_ && cached_path_.size() == count &&
        std::equal(cached_path_.begin(), cached_path_.end(), components.begin()))
        return cached_;
    const int folder = EnterFolders(components, count, make, problem);
    if (folder < 0) return nullptr;
    cached_ = std::make_shared<const OutputFile::Folder>(folder);
    cached_path_.assign(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(count));
    return cached_;
}

int OutputTree::EnterFolders(const std::vector<std::string> &components, size_t count, bool make,
                             OutputProblem *problem) const {
    int folder = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (folder < 0) {
        Set(problem, SystemProblem(errno));
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        const char *name = components[i].c_str();
        if (make && mkdirat(folder, name, 0777) != 0 && errno != EEXIST) {
            Set(problem, SystemProblem(errno));
            close(folder);
            return -1;
        }
        // O_NOFOLLOW with O_DIRECTORY: a link fails with ELOOP, a file or FIFO with ENOTDIR, and nothing blocks.
        const int next = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        close(folder);
        if (next < 0) {
            Set(problem, error == ELOOP || error == ENOTDIR ? InTheWay(components, i) : SystemProblem(error));
            return -1;
        }
        folder = next;
    }
    return folder;
}

OutputTree::Presence OutputTree::Probe(const std::vector<std::string> &components, OutputProblem *problem) const {
    if (components.empty()) {
        Set(problem, {Refusal::kNothingLeft, 0, {}});
        return Presence::kBlocked;
    }
    OutputProblem local;
    const std::shared_ptr<const OutputFile::Folder> folder = Parent(components, false, &local);
    if (!folder) {
        // A folder still to be made is no obstacle.
        if (local.refusal == Refusal::kSystem && local.error == ENOENT) return Presence::kNothing;
        Set(problem, local);
        return Presence::kBlocked;
    }
    struct stat st {};
    const bool present = fstatat(folder->fd, components.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    return present ? Presence::kSomething : Presence::kNothing;
}

bool OutputTree::Create(const std::vector<std::string> &components, bool replace, OutputFile *file,
                        OutputProblem *problem, mode_t mode) const {
    file->Discard();
    if (fd_ < 0) {
        Set(problem, SystemProblem(EBADF));
        return false;
    }
    if (components.empty()) {
        Set(problem, {Refusal::kNothingLeft, 0, {}});
        return false;
    }
    const std::shared_ptr<const OutputFile::Folder> parent = Parent(components, true, problem);
    if (!parent) return false;
    const int folder = parent->fd;
    const char *name = components.back().c_str();
    // O_EXCL: only a new file is opened, never a FIFO or device that is at the name (so none can block).
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(folder, name, flags, mode);
    if (fd < 0 && errno == EEXIST) {
        struct stat old {};
        const bool known = fstatat(folder, name, &old, AT_SYMLINK_NOFOLLOW) == 0;
        // Only a file or a link is replaced; a folder, FIFO, socket or device at the name is somebody's.
        if (known && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) {
            Set(problem, InTheWay(components, components.size() - 1));
            return false;
        }
        if (!replace) {
            Set(problem, {Refusal::kExists, EEXIST, {}});
            return false;
        }
        // The old name goes and a new file is made: a link or a second hard link keeps what it pointed at.
        if (unlinkat(folder, name, 0) == 0 || errno == ENOENT) fd = openat(folder, name, flags, mode);
        if (fd < 0 && errno == EEXIST) {
            // Something appeared between the removal and the creation: not followed, not replaced again.
            Set(problem, InTheWay(components, components.size() - 1));
            return false;
        }
    }
    if (fd < 0) {
        Set(problem, SystemProblem(errno));
        return false;
    }
    file->Adopt(fd, parent, components.back());
    return true;
}

#endif

bool LinkStaysInside(const std::vector<std::string> &link_folder, std::string_view target) {
    if (target.empty() || target.front() == '/') return false;
    size_t depth = link_folder.size();
    bool named = false;
    size_t begin = 0;
    while (begin <= target.size()) {
        size_t end = target.find('/', begin);
        if (end == std::string_view::npos) end = target.size();
        const std::string_view part = target.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (named || depth == 0) return false;
            --depth;
        } else {
            named = true;
        }
    }
    return true;
}

#ifndef _WIN32
bool OutputTree::FreeName(int folder, const std::vector<std::string> &components, bool replace,
                          OutputProblem *problem) const {
    const char *name = components.back().c_str();
    struct stat old {};
    if (fstatat(folder, name, &old, AT_SYMLINK_NOFOLLOW) != 0) return true;
    if (!S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) {
        Set(problem, InTheWay(components, components.size() - 1));
        return false;
    }
    if (!replace) {
        Set(problem, {Refusal::kExists, EEXIST, {}});
        return false;
    }
    if (unlinkat(folder, name, 0) != 0 && errno != ENOENT) {
        Set(problem, SystemProblem(errno));
        return false;
    }
    return true;
}

bool OutputTree::MakeFolder(const std::vector<std::string> &components, OutputProblem *problem) const {
    if (fd_ < 0 || components.empty()) {
        Set(problem, components.empty() ? OutputProblem{Refusal::kNothingLeft, 0, {}} : SystemProblem(EBADF));
        return false;
    }
    const int folder = EnterFolders(components, components.size(), true, problem);
    if (folder < 0) return false;
    close(folder);
    return true;
}

bool OutputTree::SetFolderAttributes(const std::vector<std::string> &components, mode_t mode, int64_t modified,
                                     OutputProblem *problem) const {
    if (fd_ < 0) {
        Set(problem, SystemProblem(EBADF));
        return false;
    }
    const int folder = EnterFolders(components, components.size(), false, problem);
    if (folder < 0) return false;
    bool ok = mode == kKeepMode || fchmod(folder, mode) == 0;
    if (ok && modified != kKeepTime) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
        ok = futimens(folder, times) == 0;
    }
    if (!ok) Set(problem, SystemProblem(errno));
    close(folder);
    return ok;
}

bool OutputTree::CreateSymlink(const std::vector<std::string> &components, const std::string &target, int64_t modified,
                               bool replace, OutputProblem *problem) const {
    if (fd_ < 0 || components.empty()) {
        Set(problem, components.empty() ? OutputProblem{Refusal::kNothingLeft, 0, {}} : SystemProblem(EBADF));
        return false;
    }
    const int folder = EnterFolders(components, components.size() - 1, true, problem);
    if (folder < 0) return false;
    const char *name = components.back().c_str();
    bool ok = FreeName(folder, components, replace, problem);
    if (ok && symlinkat(target.c_str(), folder, name) != 0) {
        // Something appeared at the name meanwhile: it is not replaced again.
        Set(problem, errno == EEXIST ? InTheWay(components, components.size() - 1) : SystemProblem(errno));
        ok = false;
    }
    if (ok && modified != kKeepTime) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
        utimensat(folder, name, times, AT_SYMLINK_NOFOLLOW);  // a file system without link times keeps its own
    }
    close(folder);
    return ok;
}

bool OutputTree::CreateHardLink(const std::vector<std::string> &existing, const std::vector<std::string> &components,
                                bool replace, OutputProblem *problem) const {
    if (fd_ < 0 || components.empty() || existing.empty()) {
        Set(problem, fd_ < 0 ? SystemProblem(EBADF) : OutputProblem{Refusal::kNothingLeft, 0, {}});
        return false;
    }
    const int from = EnterFolders(existing, existing.size() - 1, false, problem);
    if (from < 0) return false;
    struct stat st {};
    // Only a regular file this extraction made is linked to; linkat without AT_SYMLINK_FOLLOW never follows.
    if (fstatat(from, existing.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        Set(problem, InTheWay(existing, existing.size() - 1));
        close(from);
        return false;
    }
    const int folder = EnterFolders(components, components.size() - 1, true, problem);
    if (folder < 0) {
        close(from);
        return false;
    }
    bool ok = FreeName(folder, components, replace, problem);
    if (ok && linkat(from, existing.back().c_str(), folder, components.back().c_str(), 0) != 0) {
        Set(problem, errno == EEXIST ? InTheWay(components, components.size() - 1) : SystemProblem(errno));
        ok = false;
    }
    close(from);
    close(folder);
    return ok;
}

#endif

}  // namespace host
