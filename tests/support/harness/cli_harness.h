// Drives the real qorvex program on images made at test time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/peers.h"
#include "support/temp_dir.h"

namespace cli_test {

using qorvex::test::Quote;
using qorvex::test::ReadFile;
using qorvex::test::ReadText;
using qorvex::test::RunCommand;
using qorvex::test::TempDir;
using qorvex::test::WriteFile;

struct Result {
    int status = -1;  // exit status; -1 when the program did not exit normally (a crash)
    std::string out;
    std::string err;
};

// Runs the program named by QORVEX_CLI with these arguments (no shell), stdin from /dev/null.
Result Qorvex(const std::vector<std::string> &args);
bool Exists(const std::string &path);  // without following a final symbolic link

// Runs genisoimage quietly with the given options on a source folder; fails the test when it fails.
std::vector<uint8_t> MakeIso(const std::string &scratch_image, const std::string &options, const std::string &source);

// Replaces every occurrence of `from` by `to` (same length); returns the number of replacements.
int Patch(std::vector<uint8_t> *bytes, const std::string &from, const std::string &to);

// Python's reading of a JSON list (as "ls --json" writes it): runs `body` for each entry, named `e`, and answers
// what it printed.
std::string EachJsonEntry(const std::string &json, const std::string &body);

// Regular files below a folder (relative paths, "/" separated), sorted.
std::vector<std::string> FilesBelow(const std::string &folder);

}  // namespace cli_test
