#include "safe_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli {

namespace {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

void CutVersion(std::string *name) {
    size_t semicolon = name->rfind(';');
    if (semicolon == std::string::npos) return;
    if (semicolon + 1 == name->size()) {
        name->erase(semicolon);
        return;
    }
    for (size_t i = semicolon + 1; i < name->size(); ++i)
        if ((*name)[i] < '0' || (*name)[i] > '9') return;
    name->erase(semicolon);
}

bool Droppable(const std::string &c) {
    return c.empty() || c == "." || c == "..";
}

// Opens (making it first when missing) the folder `name` inside `parent`, refusing symbolic links.
int OpenFolder(int parent, const std::string &name, std::string *error) {
    if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = "cannot make folder \"" + name + "\": " + ErrnoText(errno);
        return -1;
    }
    int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (e == ELOOP || e == ENOTDIR)
            *error = "\"" + name + "\" is in the way (a file or a symbolic link, which is not followed)";
        else
            *error = "cannot open folder \"" + name + "\": " + ErrnoText(e);
    }
    return fd;
}

}  // namespace

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
    for (auto &part : parts) {
        for (char &c : part)
            if (c == '/' || c == '\0') c = '_';
        if (!Droppable(part)) out.push_back(std::move(part));
    }
    return out;
}

std::string JoinComponents(const std::vector<std::string> &components) {
    std::string out;
    for (const auto &c : components) {
        if (!out.empty()) out += '/';
        out += c;
    }
    return out;
}

Destination::~Destination() {
    if (fd_ >= 0) close(fd_);
}

bool Destination::Open(const std::string &path, std::string *error) {
    // The destination itself is the user's choice: make it like "mkdir -p".
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty() && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            *error = "cannot make folder \"" + partial + "\": " + ErrnoText(errno);
            return false;
        }
    }
    fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        *error = "cannot open folder \"" + path + "\": " + ErrnoText(errno);
        return false;
    }
    return true;
}

CreateResult Destination::Create(const std::vector<std::string> &components, bool overwrite, Target *target,
                                 std::string *error) const {
    if (components.empty()) {
        *error = "the name leaves nothing to create";
        return CreateResult::kFailed;
    }
    int folder = dup(fd_);
    if (folder < 0) {
        *error = ErrnoText(errno);
        return CreateResult::kFailed;
    }
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        int next = OpenFolder(folder, components[i], error);
        close(folder);
        if (next < 0) return CreateResult::kFailed;
        folder = next;
    }
    const std::string &name = components.back();
    // O_NONBLOCK keeps a planted FIFO from blocking the open; the file type is checked right after.
    const int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = openat(folder, name.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        if (!overwrite) {
            close(folder);
            *error = "exists (use --overwrite to replace it)";
            return CreateResult::kExists;
        }
        // Replace rather than write through: an existing symbolic or hard link must not carry the data elsewhere.
        struct stat old {};
        if (fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(old.st_mode)) {
            close(folder);
            *error = "exists and is a folder";
            return CreateResult::kFailed;
        }
        if (unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT)
            fd = openat(folder, name.c_str(), flags | O_CREAT | O_EXCL, 0666);
    }
    if (fd < 0) {
        *error = ErrnoText(errno);
        close(folder);
        return CreateResult::kFailed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "exists and is not a regular file";
        close(fd);
        close(folder);
        return CreateResult::kFailed;
    }
    if (fcntl(fd, F_SETFL, 0) != 0) {
        *error = ErrnoText(errno);
        close(fd);
        close(folder);
        return CreateResult::kFailed;
    }
    target->fd = fd;
    target->folder = folder;
    target->name = name;
    return CreateResult::kCreated;
}

bool FinishTarget(Target *target, int32_t time, std::string *error) {
    bool ok = true;
    if (time != 0) {
        struct timespec times[2] = {{0, UTIME_OMIT}, {time, 0}};
        if (futimens(target->fd, times) != 0) {
            *error = "cannot set the modification time: " + ErrnoText(errno);
            ok = false;
        }
    }
    if (close(target->fd) != 0 && ok) {
        *error = "closing failed: " + ErrnoText(errno);
        ok = false;
    }
    target->fd = -1;
    close(target->folder);
    target->folder = -1;
    return ok;
}

void DiscardTarget(Target *target) {
    if (target->fd >= 0) close(target->fd);
    if (target->folder >= 0) {
        unlinkat(target->folder, target->name.c_str(), 0);
        close(target->folder);
    }
    target->fd = target->folder = -1;
}

}  // namespace cli
