// The safe output tree on Windows. There are no folder descriptors, so every target is a full path below the
// destination, checked one component at a time with the link (reparse point) test done before it is entered;
// files are created exclusively (CREATE_NEW) and a replaced file is deleted first, as on POSIX. Names an image
// may hold but Windows cannot (reserved characters, device names, trailing dots and spaces) are changed.
#include "output_tree.h"

#include <windows.h>
#undef CreateHardLink  // the A/W macro would rename the member function below
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace host {

namespace {

void CutVersion(std::string *name) {
    *name = WithoutVersion(*name);
}

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

// The errno value closest to a system error, for the messages (strerror).
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE: return EINVAL;
        default: return EIO;
    }
}

OutputProblem LastError() {
    return SystemProblem(ErrnoOf(GetLastError()));
}

// Names are in the ANSI code page, as the engine gives them.
std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// Where the next "\" of an image path is, stepping over double-byte characters whose second byte may be 0x5C.
size_t FindSeparator(std::string_view text, size_t from) {
    for (size_t i = from; i < text.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (text[i] == '\\') return i;
    }
    return std::string_view::npos;
}

bool IsReservedDevice(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char &c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices)
        if (stem == device) return true;
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '0' &&
           stem[3] <= '9';
}

DWORD AttributesOf(const std::wstring &path) {
    return GetFileAttributesW(path.c_str());
}

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(attributes);
}

void SetTime(HANDLE handle, int64_t modified) {
    const int64_t ticks = (modified + 11644473600LL) * 10000000;
    if (ticks < 0) return;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    written.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    SetFileTime(handle, nullptr, nullptr, &written);
}

}  // namespace

std::string SafeComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return {};
    std::string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(out[i])) && i + 1 < out.size()) {
            ++i;  // the trail byte of a double-byte character is part of a letter
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (c < 0x20 || std::strchr("/\\:*?\"<>|", c)) out[i] = '_';
    }
    // The system drops trailing dots and spaces; a name that relies on them would name something else.
    if (out.back() == '.' || out.back() == ' ') out.back() = '_';
    if (IsReservedDevice(out)) out.insert(out.begin(), '_');
    return out;
}

std::vector<std::string> TargetComponents(std::string_view image_path, bool cut_version) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= image_path.size()) {
        size_t end = FindSeparator(image_path, begin);
        if (end == std::string_view::npos) end = image_path.size();
        parts.emplace_back(image_path.substr(begin, end - begin));
        begin = end + 1;
    }
    if (cut_version && !parts.empty()) CutVersion(&parts.back());
    std::vector<std::string> out;
    for (const auto &part : parts)
        if (std::string safe = SafeComponent(part); !safe.empty()) out.push_back(std::move(safe));
    return out;
}

// ---- OutputFile

void OutputFile::Adopt(int fd, std::wstring path) {
    Discard();
    fd_ = fd;
    path_ = std::move(path);
    buffer_.clear();
    final_mode_ = -1;
    write_error_ = 0;
    write_calls_ = 0;
}

intptr_t OutputFile::Native() const {
    return fd_ < 0 ? -1 : _get_osfhandle(fd_);
}

bool OutputFile::WriteAll(const char *data, size_t length) {
    while (length > 0) {
        ++write_calls_;
        const unsigned chunk = static_cast<unsigned>(std::min<size_t>(length, size_t{1} << 30));
        const int n = _write(fd_, data, chunk);
        if (n <= 0) {
            write_error_ = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Flush and Append are in output_tree.cpp.

void OutputFile::Close() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    buffer_.clear();
}

bool OutputFile::Finish(int64_t modified, OutputProblem *problem) {
    if (fd_ < 0) {
        Set(problem, SystemProblem(EBADF));
        return false;
    }
    bool ok = write_error_ == 0 && Flush();
    // Permission bits have no meaning here beyond read-only, which would refuse the next extraction over it.
    if (ok && modified != kKeepTime) SetTime(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), modified);
    if (_close(fd_) != 0 && ok) write_error_ = errno, ok = false;
    fd_ = -1;
    if (!ok) {
        Set(problem, {Refusal::kWriteFailed, write_error_, {}});
        DeleteFileW(path_.c_str());
    }
    Close();
    return ok;
}

void OutputFile::Discard() {
    if (fd_ < 0) return;
    _close(fd_);
    fd_ = -1;
    DeleteFileW(path_.c_str());
    Close();
}

// ---- OutputTree

OutputTree::~OutputTree() = default;

bool OutputTree::Open(const std::string &path, OutputProblem *problem) {
    fd_ = -1;
    root_.clear();
    if (path.empty()) {
        Set(problem, SystemProblem(ENOENT));
        return false;
    }
    std::wstring wide = Wide(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD got = needed ? GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr) : 0;
    if (got == 0 || got >= needed) {
        Set(problem, LastError());
        return false;
    }
    full.resize(got);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    // The destination itself is the user's choice: made like "mkdir -p" (links in it are followed).
    for (size_t pos = full.find(L'\\', 3);; pos = full.find(L'\\', pos + 1)) {
        const std::wstring partial = full.substr(0, pos);
        const DWORD existing = AttributesOf(partial);
        const bool folder = existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY);
        if (partial.size() > 2 && !folder && !CreateDirectoryW(partial.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            Set(problem, LastError());
            return false;
        }
        if (pos == std::wstring::npos) break;
    }
    const DWORD attributes = AttributesOf(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Set(problem, SystemProblem(ENOTDIR));
        return false;
    }
    // The long form lifts the MAX_PATH limit for everything below it.
    root_ = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
    fd_ = 0;  // open
    return true;
}

bool OutputTree::Fork(OutputTree *other, OutputProblem *problem) const {
    other->fd_ = fd_;
    other->root_ = root_;
    if (fd_ < 0) Set(problem, SystemProblem(EBADF));
    return fd_ >= 0;
}

std::wstring OutputTree::PathOf(const std::vector<std::string> &components, size_t count) const {
    std::wstring path = root_;
    for (size_t i = 0; i < count; ++i) path += L'\\' + Wide(components[i]);
    return path;
}

bool OutputTree::EnterFolders(const std::vector<std::string> &components, size_t count, bool make,
                              OutputProblem *problem, std::wstring *path) const {
    *path = root_;
    for (size_t i = 0; i < count; ++i) {
        *path += L'\\' + Wide(components[i]);
        DWORD attributes = AttributesOf(*path);
        if (attributes == INVALID_FILE_ATTRIBUTES && make) {
            if (!CreateDirectoryW(path->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                Set(problem, LastError());
                return false;
            }
            attributes = AttributesOf(*path);
        }
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            Set(problem, LastError());
            return false;
        }
        // A junction or symbolic link, or a file, where a folder is needed is not entered.
        if (!IsFolder(attributes)) {
            Set(problem, InTheWay(components, i));
            return false;
        }
    }
    return true;
}

OutputTree::Presence OutputTree::Probe(const std::vector<std::string> &components, OutputProblem *problem) const {
    if (components.empty()) {
        Set(problem, {Refusal::kNothingLeft, 0, {}});
        return Presence::kBlocked;
    }
    OutputProblem local;
    std::wstring folder;
    if (!EnterFolders(components, components.size() - 1, false, &local, &folder)) {
        if (local.refusal == Refusal::kSystem && local.error == ENOENT) return Presence::kNothing;
        Set(problem, local);
        return Presence::kBlocked;
    }
    return AttributesOf(folder + L'\\' + Wide(components.back())) != INVALID_FILE_ATTRIBUTES ? Presence::kSomething
                                                                                             : Presence::kNothing;
}

bool OutputTree::FreeName(const std::wstring &path, const std::vector<std::string> &components, bool replace,
                          OutputProblem *problem) const {
    const DWORD old = AttributesOf(path);
    if (old == INVALID_FILE_ATTRIBUTES) return true;
    // Only a file or a link to one is replaced; a folder (or a link to one) is somebody's.
    if (old & FILE_ATTRIBUTE_DIRECTORY) {
        Set(problem, InTheWay(components, components.size() - 1));
        return false;
    }
    if (!replace) {
        Set(problem, {Refusal::kExists, EEXIST, {}});
        return false;
    }
    // The old name goes (a link itself, never what it points at) and a new file is made.
    if (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        Set(problem, LastError());
        return false;
    }
    return true;
}

bool OutputTree::Create(const std::vector<std::string> &components, bool replace, OutputFile *file,
                        OutputProblem *problem, mode_t) const {
    file->Discard();
    if (fd_ < 0) {
        Set(problem, SystemProblem(EBADF));
        return false;
    }
    if (components.empty()) {
        Set(problem, {Refusal::kNothingLeft, 0, {}});
        return false;
    }
    std::wstring path;
    if (!EnterFolders(components, components.size() - 1, true, problem, &path)) return false;
    path += L'\\' + Wide(components.back());
    if (!FreeName(path, components, replace, problem)) return false;
    // CREATE_NEW: something that appeared at the name meanwhile is neither followed nor replaced.
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Set(problem,
            error == ERROR_FILE_EXISTS ? InTheWay(components, components.size() - 1) : SystemProblem(ErrnoOf(error)));
        return false;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileW(path.c_str());
        Set(problem, SystemProblem(EMFILE));
        return false;
    }
    file->Adopt(fd, std::move(path));
    return true;
}

bool OutputTree::MakeFolder(const std::vector<std::string> &components, OutputProblem *problem) const {
    if (fd_ < 0 || components.empty()) {
        Set(problem, components.empty() ? OutputProblem{Refusal::kNothingLeft, 0, {}} : SystemProblem(EBADF));
        return false;
    }
    std::wstring path;
    return EnterFolders(components, components.size(), true, problem, &path);
}

bool OutputTree::SetFolderAttributes(const std::vector<std::string> &components, mode_t, int64_t modified,
                                     OutputProblem *problem) const {
    if (fd_ < 0) {
        Set(problem, SystemProblem(EBADF));
        return false;
    }
    std::wstring path;
    if (!EnterFolders(components, components.size(), false, problem, &path)) return false;
    if (modified == kKeepTime) return true;
    HANDLE folder =
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        Set(problem, LastError());
        return false;
    }
    SetTime(folder, modified);
    CloseHandle(folder);
    return true;
}

// Symbolic links need a privilege most accounts lack; they are refused like any other system failure.
bool OutputTree::CreateSymlink(const std::vector<std::string> &components, const std::string &, int64_t, bool,
                               OutputProblem *problem) const {
    Set(problem, components.empty() ? OutputProblem{Refusal::kNothingLeft, 0, {}} : SystemProblem(ENOSYS));
    return false;
}

bool OutputTree::CreateHardLink(const std::vector<std::string> &existing, const std::vector<std::string> &components,
                                bool replace, OutputProblem *problem) const {
    if (fd_ < 0 || components.empty() || existing.empty()) {
        Set(problem, fd_ < 0 ? SystemProblem(EBADF) : OutputProblem{Refusal::kNothingLeft, 0, {}});
        return false;
    }
    std::wstring from;
    if (!EnterFolders(existing, existing.size() - 1, false, problem, &from)) return false;
    from += L'\\' + Wide(existing.back());
    // Only a regular file this extraction made is linked to.
    const DWORD attributes = AttributesOf(from);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        Set(problem, InTheWay(existing, existing.size() - 1));
        return false;
    }
    std::wstring path;
    if (!EnterFolders(components, components.size() - 1, true, problem, &path)) return false;
    path += L'\\' + Wide(components.back());
    if (!FreeName(path, components, replace, problem)) return false;
    if (!CreateHardLinkW(path.c_str(), from.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        Set(problem, error == ERROR_ALREADY_EXISTS ? InTheWay(components, components.size() - 1)
                                                   : SystemProblem(ErrnoOf(error)));
        return false;
    }
    return true;
}

}  // namespace host
