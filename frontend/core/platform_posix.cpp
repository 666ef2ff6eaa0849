#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform.h"

namespace lumast::platform {

void *LoadLibrary(const std::string &path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void *FindSymbol(void *module, const char *name) {
    return dlsym(module, name);
}
void FreeLibrary(void *module) {
    if (module) dlclose(module);
}

std::string ProgramPath() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::string ProgramFolder() {
    const std::string path = ProgramPath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TempFilesFolder() {
    const char *env = std::getenv("TMPDIR");
    std::string folder = env && *env ? env : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

bool Exists(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderWritable(const std::string &folder) {
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

bool CreatePrivateFolder(const std::string &path) {
    return mkdir(path.c_str(), 0700) == 0;
}

void MakeOutputFolders(const std::string &folder) {
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            const std::string part = folder.substr(0, i);
            if (!part.empty() && part.back() != '/') mkdir(part.c_str(), 0700);
        }
    }
}

int CreateExclusiveFile(const std::string &path) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

size_t WriteFile(int fd, const void *data, size_t length) {
    size_t done = 0;
    while (fd >= 0 && done < length) {
        const ssize_t n = write(fd, static_cast<const char *>(data) + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void CloseFile(int fd) {
    if (fd >= 0) close(fd);
}

bool DeleteFile(const std::string &path) {
    return unlink(path.c_str()) == 0;
}

namespace {

// Empties the folder open as `fd` (which it closes); entries are removed relative to it, so a link swapped in
// for a folder is removed as a link and never followed.
bool EmptyFolder(int fd, int depth) {
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool ok = true;
    while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child =
                depth < 256 ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            if (child < 0 || !EmptyFolder(child, depth + 1)) ok = false;
            if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) ok = false;
        } else if (unlinkat(fd, name.c_str(), 0) != 0) {
            ok = false;
        }
    }
    closedir(dir);
    return ok;
}

}  // namespace

bool RemoveTree(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = EmptyFolder(fd, 0);
    rmdir(path.c_str());
    return ok;
}

bool OwnedFolder(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace lumast::platform
