#include "platform/file.h"

#include <windows.h>
#undef SetFileAttributes  // the A/W macro would rename the platform function below

#include <algorithm>

#include "platform/text.h"

namespace qorvex::platform {

namespace {
constexpr size_t kWriteBuffer = 1 << 20;
// Paths at or beyond this many UTF-16 units go through the "\\?\" form, which lifts the MAX_PATH limit.
constexpr size_t kLongPath = 240;
// Seconds between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr int64_t kFileTimeEpoch = 11644473600;

HANDLE H(void *handle) {
    return static_cast<HANDLE>(handle);
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// A path in the code page as a path for the wide API: long ones made absolute and given the "\\?\" prefix
// (which also means no more "/" to "\" translation, so it is done here).
std::wstring LongForm(const std::wstring &wide) {
    if (wide.size() < kLongPath || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (got == 0 || got >= needed) return wide;
    full.resize(got);
    std::replace(full.begin(), full.end(), L'/', L'\\');
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
    return L"\\\\?\\" + full;
}

std::wstring Wide(const std::string &text) {
    const std::u16string units = MultiByteToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::wstring WidePath(const std::string &path) {
    return LongForm(Wide(path));
}

DWORD AttributesOf(const std::string &path) {
    if (path.empty()) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(WidePath(path).c_str());
}

// Keeps a handle only when it is a file on a disk (a pipe, console or device must never block a read).
HANDLE KeepDiskFile(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    return handle;
}

bool WriteAllAt(HANDLE handle, const unsigned char *data, size_t n, int64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) return false;
    while (n > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(handle, data, chunk, &done, nullptr) || done == 0) return false;
        data += done;
        n -= done;
    }
    return true;
}
}  // namespace

File::~File() {
    Close();
}

bool File::OpenRead(const std::string &path) {
    Close();
    if (path.empty()) return false;
    // Others may read, write and rename the image meanwhile, as with a POSIX descriptor.
    handle_ = KeepDiskFile(CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    writing_ = false;
    position_ = 0;
    return handle_ != nullptr;
}

bool File::Create(const std::string &path) {
    Close();
    if (path.empty()) return false;
    const std::wstring wide = WidePath(path);
    // Replacing a hidden or system file needs the same bits in the request, else the system refuses it.
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    const DWORD existing = GetFileAttributesW(wide.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_DIRECTORY))
        flags = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (flags == 0) flags = FILE_ATTRIBUTE_NORMAL;
    handle_ =
        KeepDiskFile(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr));
    writing_ = handle_ != nullptr;
    position_ = 0;
    pending_.clear();
    return writing_;
}

bool File::Adopt(intptr_t native) {
    Close();
    if (native == 0 || native == -1) return false;
    handle_ = reinterpret_cast<void *>(native);
    owned_ = false;
    writing_ = true;
    position_ = 0;
    pending_.clear();
    return true;
}

bool File::Flush() {
    if (pending_.empty()) return true;
    const int64_t offset = position_ - static_cast<int64_t>(pending_.size());
    bool ok = handle_ && WriteAllAt(H(handle_), pending_.data(), pending_.size(), offset);
    pending_.clear();
    return ok;
}

bool File::Close() {
    if (!handle_) return true;
    bool ok = Flush();
    if (owned_ && !CloseHandle(H(handle_))) ok = false;
    handle_ = nullptr;
    owned_ = true;
    writing_ = false;
    pending_.clear();
    return ok;
}

bool File::Seek(int64_t position) {
    if (!handle_ || position < 0 || !Flush()) return false;
    position_ = position;
    return true;
}

int64_t File::Read(void *destination, int64_t n) {
    if (!handle_ || n < 0) return -1;
    LARGE_INTEGER at;
    at.QuadPart = position_;
    if (!SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN)) return -1;
    auto *out = static_cast<unsigned char *>(destination);
    int64_t total = 0;
    while (total < n) {
        const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(n - total, int64_t(1) << 30));
        DWORD got = 0;
        if (!ReadFile(H(handle_), out + total, chunk, &got, nullptr)) return -1;
        if (got == 0) break;
        total += got;
        position_ += got;
    }
    return total;
}

// ReadFileScatter wants unbuffered handles and whole pages: readers take the read-ahead path instead.
bool File::CanReadScattered() {
    return false;
}

int64_t File::ReadScattered(int64_t, const ReadSlice *, int) {
    return -1;
}

bool File::Write(const void *data, size_t n) {
    if (!handle_ || !writing_) return false;
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (pending_.size() + n > kWriteBuffer) {
        if (!Flush()) return false;
        if (n >= kWriteBuffer) {
            if (!WriteAllAt(H(handle_), bytes, n, position_)) return false;
            position_ += static_cast<int64_t>(n);
            return true;
        }
    }
    pending_.insert(pending_.end(), bytes, bytes + n);
    position_ += static_cast<int64_t>(n);
    return true;
}

bool File::SetLength(int64_t length) {
    if (!handle_ || length < 0 || !Flush()) return false;
    LARGE_INTEGER at;
    at.QuadPart = length;
    return SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN) && SetEndOfFile(H(handle_));
}

bool File::SetModificationTime(int64_t seconds) {
    if (!handle_ || !Flush()) return false;
    const int64_t ticks = (seconds + kFileTimeEpoch) * 10000000;
    if (ticks < 0) return false;  // before 1601: FILETIME cannot hold it
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    written.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return SetFileTime(H(handle_), nullptr, nullptr, &written);  // creation and access times stay as they are
}

int64_t File::CopyFrom(File &source, int64_t source_offset, int64_t n) {
    if (!handle_ || !writing_ || !source.handle_ || n < 0 || source_offset < 0 || !Flush()) return -1;
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min<int64_t>(n, kWriteBuffer)));
    int64_t copied = 0;
    while (copied < n) {
        const int64_t saved = source.position_;
        source.position_ = source_offset + copied;
        const int64_t got = source.Read(buffer.data(), std::min<int64_t>(n - copied, buffer.size()));
        source.position_ = saved;
        if (got < 0) return -1;
        if (got == 0) break;  // the source ends
        if (!WriteAllAt(H(handle_), buffer.data(), static_cast<size_t>(got), position_)) return -1;
        copied += got;
        position_ += got;
    }
    return copied;
}

int64_t FindFileLength(const std::string &path) {
    if (path.empty()) return -1;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool IsDirectory(const std::string &path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsPlainFile(const std::string &path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

std::vector<std::string> ListFolder(const std::string &folder) {
    std::vector<std::string> names;
    // Joined in UTF-16: in a double-byte code page the last byte of a folder name may be 0x5C.
    std::wstring pattern = Wide(folder.empty() ? std::string(".") : folder);
    if (!IsSeparator(pattern.back())) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE search =
        FindFirstFileExW(LongForm(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring wide = found.cFileName;
        if (wide == L"." || wide == L"..") continue;
        const std::string name = Utf16ToMultiByte(std::u16string(wide.begin(), wide.end()));
        // A name the code page cannot spell could never be opened through it.
        if (MultiByteToUtf16(name) == std::u16string(wide.begin(), wide.end())) names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool CreateFolder(const std::string &path) {
    return !path.empty() && CreateDirectoryW(WidePath(path).c_str(), nullptr);
}

bool SetFileAttributes(const std::string &path, int32_t attributes) {
    // Only the hidden bit: a read-only file from an image would refuse the next extraction over it.
    if (!(attributes & FILE_ATTRIBUTE_HIDDEN)) return true;
    const std::wstring wide = WidePath(path);
    const DWORD now = GetFileAttributesW(wide.c_str());
    if (now == INVALID_FILE_ATTRIBUTES) return false;
    return SetFileAttributesW(wide.c_str(), (now & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_HIDDEN);
}

// Works on the UTF-16 form: in a double-byte code page a trail byte may equal "\\".
bool MakeOutputFolders(const std::string &path) {
    const std::wstring wide = Wide(path);
    constexpr const wchar_t *kSeparators = L"\\/";
    const size_t last = wide.find_last_of(kSeparators);
    if (last == std::wstring::npos || last == 0) return false;
    const auto is_folder = [](const std::wstring &folder) {
        const DWORD attributes = GetFileAttributesW(LongForm(folder).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    if (is_folder(wide.substr(0, last))) return false;  // nothing is missing (the usual case)
    // The first folder that may be made: past a drive ("C:\"), a UNC share ("\\server\share\") or a "\\?\" prefix.
    size_t first = 1;
    if (wide.rfind(L"\\\\?\\", 0) == 0) {
        first = wide.size() > 6 && wide[5] == L':' ? 7 : 4;
    } else if (wide.size() >= 2 && wide[1] == L':') {
        first = 3;
    } else if (wide.size() > 2 && IsSeparator(wide[0]) && IsSeparator(wide[1])) {
        const size_t server = wide.find_first_of(kSeparators, 2);
        const size_t share = server == std::wstring::npos ? server : wide.find_first_of(kSeparators, server + 1);
        if (share == std::wstring::npos) return false;
        first = share + 1;
    }
    // Walk the folders from the outermost, creating each one that is missing.
    bool made = false;
    for (size_t k = wide.find_first_of(kSeparators, first); k != std::wstring::npos && k <= last;
         k = wide.find_first_of(kSeparators, k + 1)) {
        const std::wstring folder = wide.substr(0, k);
        if (folder.empty() || IsSeparator(folder.back())) continue;
        if (is_folder(folder)) continue;
        made = CreateDirectoryW(LongForm(folder).c_str(), nullptr);
        if (!made) return false;
    }
    return made;
}

}  // namespace qorvex::platform
