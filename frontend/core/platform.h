// The few platform services the core needs, kept behind small functions (POSIX now).
#pragma once

#include <cstdint>
#include <string>

namespace lumast::platform {

inline constexpr char kSeparator = '/';

void *LoadLibrary(const std::string &path);
void *FindSymbol(void *module, const char *name);
void FreeLibrary(void *module);

// Full path of this program; its folder (with a trailing separator).
std::string ProgramPath();
std::string ProgramFolder();

// The temporary-files folder with a trailing separator ($TMPDIR, else /tmp/).
std::string TempFilesFolder();

bool Exists(const std::string &path);       // anything under the path, links not followed
bool IsDirectory(const std::string &path);  // a real folder, links not followed
bool FolderWritable(const std::string &folder);
bool CreatePrivateFolder(const std::string &path);  // mode 0700, fails if it exists
// Creates every missing folder of `folder` (private, 0700); the result is not relied upon.
void MakeOutputFolders(const std::string &folder);
// Creates a new file exclusively for reading and writing, mode 0600; -1 on failure.
int CreateExclusiveFile(const std::string &path);
// Writes all bytes; returns how many were written.
size_t WriteFile(int fd, const void *data, size_t length);
void CloseFile(int fd);
bool DeleteFile(const std::string &path);
// Removes a folder with everything in it, never following symbolic links. False if anything could not be
// removed (the folder itself is still tried).
bool RemoveTree(const std::string &path);
// True when `path` is a folder owned by this user (links not followed).
bool OwnedFolder(const std::string &path);

}  // namespace lumast::platform
