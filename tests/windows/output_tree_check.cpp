// The Windows half of the host's safe output tree, run under Wine by scripts/windows:
//   output_tree_check FOLDER
// Names Windows cannot hold are changed, double-byte names split only at real separators (code page 932),
// and the tree creates, refuses and replaces files as on POSIX. Exit status 0 when every check holds.
#include "output_tree.h"

#include <windows.h>
#undef CreateHardLink  // the A/W macro would rename OutputTree::CreateHardLink

#include <cstdio>
#include <string>
#include <vector>

namespace {
int failures = 0;

void Check(bool condition, const std::string &what) {
    if (!condition) {
        std::fprintf(stderr, "FAIL %s\n", what.c_str());
        ++failures;
    }
}

void Names() {
    const struct {
        const char *name, *safe;
    } cases[] = {
        {"a:b*c?d", "a_b_c_d"},
        {"x<y>z|\"q\"", "x_y_z__q_"},
        {"tab\there", "tab_here"},
        {"CON", "_CON"},
        {"aux.txt", "_aux.txt"},
        {"com1", "_com1"},
        {"LPT9.log", "_LPT9.log"},
        {"COM10", "COM10"},
        {"CONSOLE", "CONSOLE"},
        {"name.", "name_"},
        {"name ", "name_"},
        {"..", ""},
        {"a/b", "a_b"},
    };
    for (const auto &c : cases)
        Check(host::SafeComponent(c.name) == c.safe,
              std::string("SafeComponent(") + c.name + ") = " + host::SafeComponent(c.name));
    Check(host::TargetComponents("\\A\\..\\B;1", true) == std::vector<std::string>{"A", "B"}, "dots dropped");
    if (GetACP() == 932) {
        // 表示\ソフト.txt: the second byte of 表 and of ソ is 0x5C.
        const auto parts = host::TargetComponents("\\\x95\x5c\x8e\xa6\\\x83\x5c\x83\x74\x83\x67.txt;1", true);
        Check(parts == std::vector<std::string>{"\x95\x5c\x8e\xa6", "\x83\x5c\x83\x74\x83\x67.txt"},
              "double-byte names split at their own bytes");
    }
}

std::string ReadBack(const std::string &path) {
    std::string bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

void Tree(const std::string &folder) {
    host::OutputTree tree;
    host::OutputProblem problem;
    Check(tree.Open(folder + "\\made\\here", &problem), "open (made like mkdir -p): " + problem.Describe());

    host::OutputFile file;
    const std::vector<std::string> target{"sub", "f.txt"};
    Check(tree.Create(target, false, &file, &problem), "create: " + problem.Describe());
    Check(file.Append("first", 5) && file.Finish(1600000000, &problem), "finish: " + problem.Describe());
    const std::string path = folder + "\\made\\here\\sub\\f.txt";
    Check(ReadBack(path) == "first", "contents");
    WIN32_FILE_ATTRIBUTE_DATA data;
    Check(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
              ((int64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime) / 10000000 -
               11644473600LL) == 1600000000,
          "modification time");
    Check(tree.Probe(target, &problem) == host::OutputTree::Presence::kSomething, "probe finds the file");

    Check(!tree.Create(target, false, &file, &problem) && problem.refusal == host::Refusal::kExists, "not replaced");
    Check(tree.Create(target, true, &file, &problem), "replaced: " + problem.Describe());
    Check(file.Append("second", 6) && file.Finish(host::kKeepTime, &problem), "second finish");
    Check(ReadBack(path) == "second", "replaced contents");

    // A file where a folder is needed, and a folder where the file goes, are in the way.
    Check(!tree.Create({"sub", "f.txt", "g"}, true, &file, &problem) && problem.refusal == host::Refusal::kInTheWay,
          "file in the way");
    Check(!tree.Create({"sub"}, true, &file, &problem) && problem.refusal == host::Refusal::kInTheWay,
          "folder in the way");

    // An unfinished file does not stay.
    Check(tree.Create({"partial.bin"}, false, &file, &problem), "create partial");
    file.Append("x", 1);
    file.Discard();
    Check(GetFileAttributesA((folder + "\\made\\here\\partial.bin").c_str()) == INVALID_FILE_ATTRIBUTES,
          "discarded file removed");

    // A second name for a file made here.
    Check(tree.CreateHardLink(target, {"hard.txt"}, false, &problem), "hard link: " + problem.Describe());
    Check(ReadBack(folder + "\\made\\here\\hard.txt") == "second", "hard link contents");
}
}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: output_tree_check FOLDER\n");
        return 2;
    }
    Names();
    Tree(argv[1]);
    std::printf("output tree (code page %u): %s\n", GetACP(), failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
