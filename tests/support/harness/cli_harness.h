// Drives the real qorvex program on images made at test time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli_test {

// A fresh folder, removed with everything in it.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

struct Result {
    int status = -1;  // exit status; -1 when the program did not exit normally (a crash)
    std::string out;
    std::string err;
};

// Runs the program named by QORVEX_CLI with these arguments (no shell), stdin from /dev/null.
Result Qorvex(const std::vector<std::string> &args);
// Runs a shell command; returns its exit status.
int Shell(const std::string &command);
std::string ShellOutput(const std::string &command);
std::string Quote(const std::string &text);

std::string ReadText(const std::string &path);
std::vector<uint8_t> ReadBytes(const std::string &path);
void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
void WriteText(const std::string &path, const std::string &text);
bool Exists(const std::string &path);  // without following a final symbolic link

// Runs genisoimage quietly with the given options on a source folder; fails the test when it fails.
std::vector<uint8_t> MakeIso(const std::string &scratch_image, const std::string &options, const std::string &source);

// Replaces every occurrence of `from` by `to` (same length); returns the number of replacements.
int Patch(std::vector<uint8_t> *bytes, const std::string &from, const std::string &to);

// MODE1/2352 sectors (sync, BCD address, mode byte, EDC) around 2048-byte user sectors, optionally with the
// 150-sector pregap in front.
std::vector<uint8_t> WrapMode1(const std::vector<uint8_t> &user, bool pregap);

// Regular files below a folder (relative paths, "/" separated), sorted.
std::vector<std::string> FilesBelow(const std::string &folder);

}  // namespace cli_test
