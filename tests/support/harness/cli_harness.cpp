#include "support/harness/cli_harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern char **environ;

namespace cli_test {

namespace fs = std::filesystem;

Scratch::Scratch() {
    std::string base = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string pattern = base + "/qorvex-cli-XXXXXX";
    char *made = mkdtemp(pattern.data());
    if (!made) std::abort();
    path_ = made;
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);  // does not follow symbolic links
}

namespace {

// QORVEX_CLI, else the qorvex program beside this test program (both land in the build's bin folder).
std::string ProgramPath() {
    if (const char *cli = std::getenv("QORVEX_CLI")) return cli;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : (self.parent_path() / "qorvex").string();
}

}  // namespace

Result Qorvex(const std::vector<std::string> &args) {
    static const std::string path = ProgramPath();
    const char *program = path.c_str();
    Result r;
    if (path.empty() || access(program, X_OK) != 0) {
        ADD_FAILURE() << "the qorvex program was not found (QORVEX_CLI)";
        return r;
    }
    Scratch io;
    std::string out = io / "out", err = io / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program));
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << program;
        return r;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
}

int Shell(const std::string &command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellOutput(const std::string &command) {
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    return text;
}

std::string Quote(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> ReadBytes(const std::string &path) {
    std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

void WriteText(const std::string &path, const std::string &text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool Exists(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> MakeIso(const std::string &image, const std::string &options, const std::string &source) {
    std::string command = "genisoimage -quiet " + options + " -o " + Quote(image) + " " + Quote(source) + " 2>&1";
    std::string output = ShellOutput(command);
    std::vector<uint8_t> bytes = ReadBytes(image);
    EXPECT_FALSE(bytes.empty()) << command << "\n" << output;
    return bytes;
}

int Patch(std::vector<uint8_t> *bytes, const std::string &from, const std::string &to) {
    int count = 0;
    auto it = bytes->begin();
    while ((it = std::search(it, bytes->end(), from.begin(), from.end())) != bytes->end()) {
        std::copy(to.begin(), to.end(), it);
        it += static_cast<std::ptrdiff_t>(from.size());
        ++count;
    }
    return count;
}

namespace {

uint32_t Edc(const uint8_t *data, size_t n) {
    uint32_t edc = 0;
    for (size_t i = 0; i < n; ++i) {
        edc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) edc = (edc >> 1) ^ ((edc & 1) ? 0xD8018001u : 0);
    }
    return edc;
}

uint8_t Bcd(int value) {
    return static_cast<uint8_t>((value / 10) << 4 | (value % 10));
}

}  // namespace

std::vector<uint8_t> WrapMode1(const std::vector<uint8_t> &user, bool pregap) {
    const int first = pregap ? -150 : 0;
    const int count = static_cast<int>(user.size() / 2048);
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(count - first) * 2352);
    for (int lba = first; lba < count; ++lba) {
        uint8_t s[2352] = {};
        std::fill(s + 1, s + 11, 0xFF);
        int address = lba + 150;
        s[12] = Bcd(address / 4500);
        s[13] = Bcd(address / 75 % 60);
        s[14] = Bcd(address % 75);
        s[15] = 1;
        if (lba >= 0) std::copy_n(user.begin() + static_cast<std::ptrdiff_t>(lba) * 2048, 2048, s + 16);
        uint32_t edc = Edc(s, 2064);
        for (int i = 0; i < 4; ++i) s[2064 + i] = static_cast<uint8_t>(edc >> (8 * i));
        out.insert(out.end(), s, s + 2352);
    }
    return out;
}

std::vector<std::string> FilesBelow(const std::string &folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && !it->is_symlink()) files.push_back(fs::relative(it->path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace cli_test
