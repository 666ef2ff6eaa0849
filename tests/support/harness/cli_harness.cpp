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
    TempDir io;
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

bool Exists(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> MakeIso(const std::string &image, const std::string &options, const std::string &source) {
    std::string command = "genisoimage -quiet " + options + " -o " + Quote(image) + " " + Quote(source) + " 2>&1";
    std::string output = qorvex::test::CaptureCommand(command);
    std::vector<uint8_t> bytes = ReadFile(image);
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

std::string EachJsonEntry(const std::string &json, const std::string &body) {
    TempDir scratch;
    WriteFile(scratch / "list.json", json);
    return qorvex::test::CaptureCommand("python3 -c 'import json,sys\nfor e in json.load(open(sys.argv[1])): " + body +
                                        "' " + Quote(scratch / "list.json"));
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
