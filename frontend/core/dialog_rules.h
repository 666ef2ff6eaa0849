// Decisions behind the front-end's dialogs and lists that do not need a widget to be taken.
#pragma once

#include <string>
#include <vector>

#include "ini_profile.h"

namespace lumast {

// Destination dialog: what the folder field shows and whether it can be edited for a destination kind
// (0 documents folder, 1 the image's own folder, 2 the folder given below).
struct DestinationField {
    bool editable = false;
    std::string folder;
};
DestinationField DestinationKindRule(int kind, const std::string &folder, const std::string &documents);

// One choice of a file dialog's filter resource ("text|patterns|text|patterns||"): its display text and its
// patterns, blank-separated ("*.iso *.img *.bin").
struct NameFilter {
    std::string text;
    std::string patterns;
};
// A "*.*" pattern keeps its Windows meaning, every file, and becomes "*": a file without an extension has no dot.
std::vector<NameFilter> ParseFilterResource(const std::string &resource);

// The extensions of the files the engine opens with the extended formats on, as the open dialog offers them:
// the described images, then the disc sheets. A format the engine learns to read is added here only.
inline constexpr const char *kImageExtensions[] = {"iso", "img", "bin", "cue", "toc", "ccd", "nrg",
                                                   "mds", "mdf", "cdi", "ecm", "isz", "chd"};
// The open dialog's filter resource: the described one, or with the extended formats every extension above.
std::string OpenFilterResource(bool extensions);

// Volume information dialog: the file system shown first among the present ones (bits 1, 2, 4): Joliet, else
// UDF, else ISO 9660.
int InitialVolumeKind(int present);

// The recent-file list: at most 8 paths, newest first, kept under "Recent File List" as File1..File8.
class RecentFileList {
public:
    static constexpr int kSize = 8;

    void Read(const IniProfile &ini);
    void Write(IniProfile &ini) const;
    // Puts `path` first; an entry already present moves up instead of being repeated.
    void Add(const std::string &path);
    void Remove(size_t index);
    const std::vector<std::string> &Paths() const { return paths_; }

private:
    std::vector<std::string> paths_;
};

}  // namespace lumast
