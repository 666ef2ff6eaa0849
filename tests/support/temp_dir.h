// Scratch files for tests: a fresh private folder that is removed with everything in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorvex::test {

class TempDir {
public:
    TempDir();   // creates a new folder under $TMPDIR (or /tmp; the user's temporary folder on Windows)
    ~TempDir();  // removes it recursively, without following symbolic links
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + name.
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes bytes to a file (created or truncated); aborts the test program on failure.
void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);
void WriteFile(const std::string &path, const std::string &text);
// Whole contents of a file; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::string &path);
std::string ReadText(const std::string &path);
// Removes a file or folder tree; missing paths are fine.
void RemoveTree(const std::string &path);
// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string &command);
// Runs a shell command and returns its standard output.
std::string CaptureCommand(const std::string &command, int *status = nullptr);
// True when a program is found on PATH.
bool HaveProgram(const std::string &name);

}  // namespace qorvex::test
