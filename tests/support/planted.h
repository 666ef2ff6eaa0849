// Hostile destinations: links, hard links, FIFOs and files planted where an extraction will write, and a record
// of everything around a destination so that a test can tell that nothing outside it changed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qorvex::test {

// One name below a folder as found without following links.
struct TreeNode {
    char type = '?';  // f file, d folder, l link, p FIFO, other '?'
    uint64_t size = 0;
    ino_t inode = 0;
    uint64_t hash = 0;        // of a file's contents
    std::string link_target;  // of a link

    bool operator==(const TreeNode &) const = default;
};
using TreeRecord = std::map<std::string, TreeNode>;  // relative path -> node

// Everything below `root` (names, types, sizes, content hashes, link targets, inode numbers), leaving out the
// subtree `skip` (a path relative to root, e.g. the destination); links are recorded, never followed.
TreeRecord RecordTree(const std::string &root, const std::string &skip = {});
// What an extraction made, comparable across two trees (no inode numbers): "f 5 @981173106" (size and
// modification time), "d", or "l -> target" for every name below `root`.
std::map<std::string, std::string> TreeSummary(const std::string &root);
// Lines naming what differs, for a failure message.
std::string TreeDifference(const TreeRecord &before, const TreeRecord &after);

// The image every planted case extracts: \SUB\EVIL.TXT ("evil") and \F.TXT ("image data"), with Joliet names.
std::vector<uint8_t> PlantedCaseImage();
inline constexpr const char *kPlantedFileData = "image data";

// A destination prepared by an attacker. `root` holds "dest" (the destination) and "outside" (with
// outside/victim.txt, "keep me"); the plant is made inside dest before extracting.
struct PlantedCase {
    const char *name;
    void (*plant)(const std::string &root);
    bool needs_replace;   // the plant sits at a file's own name: the host asks (or needs --overwrite)
    const char *blocked;  // the target refused as in the way ("SUB", "F.TXT"), or nullptr
    bool file_written;    // dest/F.TXT ends up a new regular file with the image's data
};
const std::vector<PlantedCase> &PlantedCases();
// Makes root/dest and root/outside with its victim file.
void PrepareRoot(const std::string &root);
// True when `path` is a regular file (not a link to one) holding exactly `text`.
bool IsRegularWith(const std::string &path, const std::string &text);

}  // namespace qorvex::test
