#include "support/planted.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace qorvex::test {

namespace {

uint64_t Fnv1a(const std::string &bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string Contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Walk(const std::string &root, const std::string &relative, const std::string &skip, TreeRecord *record) {
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR *dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        if (rel == skip) continue;
        const std::string path = root + "/" + rel;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;
        TreeNode node;
        node.inode = st.st_ino;
        if (S_ISREG(st.st_mode)) {
            node.type = 'f';
            node.size = static_cast<uint64_t>(st.st_size);
            node.hash = Fnv1a(Contents(path));
        } else if (S_ISDIR(st.st_mode)) {
            node.type = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            node.type = 'l';
            char target[4096];
            const ssize_t n = readlink(path.c_str(), target, sizeof target);
            if (n > 0) node.link_target.assign(target, static_cast<size_t>(n));
        } else if (S_ISFIFO(st.st_mode)) {
            node.type = 'p';
        }
        (*record)[rel] = node;
        if (node.type == 'd') Walk(root, rel, skip, record);
    }
    closedir(dir);
}

void Check(bool ok, const char *what) {
    if (!ok) {
        std::perror(what);
        std::abort();
    }
}

}  // namespace

TreeRecord RecordTree(const std::string &root, const std::string &skip) {
    TreeRecord record;
    Walk(root, "", skip, &record);
    return record;
}

std::string TreeDifference(const TreeRecord &before, const TreeRecord &after) {
    std::string out;
    for (const auto &[path, node] : before) {
        auto it = after.find(path);
        if (it == after.end())
            out += "removed: " + path + "\n";
        else if (!(it->second == node))
            out += "changed: " + path + "\n";
    }
    for (const auto &[path, node] : after)
        if (!before.count(path)) out += "added: " + path + "\n";
    return out;
}

std::vector<uint8_t> PlantedCaseImage() {
    IsoOptions o;
    o.joliet = true;
    return BuildIso({Dir("SUB", {File("EVIL.TXT;1", "evil")}), File("F.TXT;1", kPlantedFileData)}, o).bytes;
}

void PrepareRoot(const std::string &root) {
    Check(mkdir((root + "/dest").c_str(), 0755) == 0, "mkdir dest");
    Check(mkdir((root + "/outside").c_str(), 0755) == 0, "mkdir outside");
    WriteFile(root + "/outside/victim.txt", std::string("keep me"));
}

const std::vector<PlantedCase> &PlantedCases() {
    static const std::vector<PlantedCase> cases = {
        {"folder link to outside",
         [](const std::string &r) { Check(symlink("../outside", (r + "/dest/SUB").c_str()) == 0, "symlink"); }, false,
         "SUB", true},
        {"file link to a file outside",
         [](const std::string &r) {
             Check(symlink("../outside/victim.txt", (r + "/dest/F.TXT").c_str()) == 0, "symlink");
         },
         true, nullptr, true},
        {"dangling link",
         [](const std::string &r) {
             Check(symlink("../outside/created.txt", (r + "/dest/F.TXT").c_str()) == 0, "symlink");
         },
         true, nullptr, true},
        {"hard link at the file's name",
         [](const std::string &r) {
             Check(link((r + "/outside/victim.txt").c_str(), (r + "/dest/F.TXT").c_str()) == 0, "link");
         },
         true, nullptr, true},
        {"FIFO at the file's name",
         [](const std::string &r) { Check(mkfifo((r + "/dest/F.TXT").c_str(), 0600) == 0, "mkfifo"); }, true, "F.TXT",
         false},
        {"FIFO where a folder goes",
         [](const std::string &r) { Check(mkfifo((r + "/dest/SUB").c_str(), 0600) == 0, "mkfifo"); }, false, "SUB",
         true},
        {"file where a folder goes", [](const std::string &r) { WriteFile(r + "/dest/SUB", std::string("a file")); },
         false, "SUB", true},
    };
    return cases;
}

bool IsRegularWith(const std::string &path, const std::string &text) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ReadText(path) == text;
}

std::map<std::string, std::string> TreeSummary(const std::string &root) {
    std::map<std::string, std::string> out;
    for (const auto &[path, node] : RecordTree(root)) {
        struct stat st {};
        lstat((root + "/" + path).c_str(), &st);
        std::string text(1, node.type);
        if (node.type == 'f') text += " " + std::to_string(node.size) + " @" + std::to_string(st.st_mtime);
        if (node.type == 'l') text += " -> " + node.link_target;
        out[path] = text;
    }
    return out;
}

}  // namespace qorvex::test
