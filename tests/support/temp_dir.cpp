#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <filesystem>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qorvex::test {

#ifdef _WIN32
// Windows (the engine's tests under Wine): the user's temporary folder, the C runtime's command processor.
TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::filesystem::path folder =
            base / ("qorvex-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++));
        std::error_code error;
        if (std::filesystem::create_directory(folder, error)) {
            path_ = folder.string();
            return;
        }
    }
    std::fprintf(stderr, "cannot make a folder in %s\n", base.string().c_str());
    std::abort();
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

void RemoveTree(const std::string &path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

int RunCommand(const std::string &command) {
    return std::system(command.c_str());
}

std::string CaptureCommand(const std::string &command, int *status) {
    std::string out;
    FILE *pipe = ::_popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::_pclose(pipe);
    if (status) *status = rc;
    return out;
}

bool HaveProgram(const std::string &name) {
    char found[MAX_PATH];
    return SearchPathA(nullptr, name.c_str(), ".exe", MAX_PATH, found, nullptr) > 0;
}
#else
TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qorvex-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

void RemoveTree(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.c_str(), 0700);  // a test may have made it unreadable
        if (DIR *dir = ::opendir(path.c_str())) {
            while (dirent *e = ::readdir(dir)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                RemoveTree(path + "/" + name);
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

int RunCommand(const std::string &command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string CaptureCommand(const std::string &command, int *status) {
    std::string out;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    if (status) *status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
    return out;
}

bool HaveProgram(const std::string &name) {
    return RunCommand("command -v '" + name + "' >/dev/null 2>&1") == 0;
}

#endif

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

void WriteFile(const std::string &path, const std::string &text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string &path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace qorvex::test
