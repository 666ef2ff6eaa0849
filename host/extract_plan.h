// What an extraction makes: the image paths a user selected (paths, folders, wildcards) turned into a list of
// folders, files, symbolic and hard links below the destination, with the dates and modes they get, and the
// entries that are not made with the reason. The same plan drives every host (extract_job.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disc.h"

namespace host {

// The image paths a user asked for. A pattern uses "\" or "/" separators, may leave out the leading one and the
// ";1" version suffix, and may hold "*" and "?" (within one name) and "**" (any number of folders); it selects
// what it names and, when that is a folder, everything below it. No pattern selects everything.
class PathSelection {
public:
    PathSelection() = default;
    explicit PathSelection(const std::vector<std::string> &patterns);
    bool Empty() const { return patterns_.empty(); }
    // Matches names case-insensitively for the patterns that `paths` holds no exact match for (ISO 9660 names
    // are upper case, people type them in lower case).
    void FoldCaseWhereUnmatched(const std::vector<std::string> &paths);
    // Whether the image path is selected; records the patterns that selected it.
    bool Selects(const std::string &image_path);
    // The patterns, as given, that selected nothing.
    std::vector<std::string> Unused() const;

private:
    struct Pattern {
        std::string given;
        std::vector<std::string> parts;
        bool fold_case = false;
        bool used = false;
    };
    bool Matches(const Pattern &p, const std::vector<std::string> &path) const;
    std::vector<Pattern> patterns_;
};

// An image path split into its names: "\" or "/" separators, no empty names, the version suffix cut.
std::vector<std::string> SplitImagePath(const std::string &path);

enum class ItemType { kFile, kFolder, kSymlink, kHardLink };

struct ExtractItem {
    ItemType type = ItemType::kFile;
    std::vector<std::string> target;  // below the destination
    std::string image_name;           // as listed, for messages
    // kFile: the entries of the walk whose bytes it holds, one after the other (none: an empty file).
    std::vector<int32_t> entries;
    std::vector<uint64_t> sizes;
    bool joined = false;      // one UDF entry whose extents the engine joins
    bool from_parts = false;  // the entries are of the system-part walk
    uint64_t size = 0;
    bool has_date = false;
    int64_t date = 0;  // seconds since 1970 UTC
    bool has_mode = false;
    uint32_t mode = 0;                   // permission bits
    std::string link_target;             // kSymlink
    std::vector<std::string> link_to;    // kHardLink: the target of the file it is another name of
    bool damaged = false;                // kFile: written with its missing bytes as zeros (keep_damaged)
    std::vector<QorvexExRange> missing;  // of the file's bytes
};

// An entry of the selection that is not made, and why (for the report).
struct PlanNote {
    enum class What { kNameCut, kUnsafeName, kLinkLeavesFolder, kSpecialFile, kNoLinks, kDamaged };
    What what;
    std::string image_name;
    std::string shown;  // the target as far as it goes, or the folder for cut names
    std::string link_target;
    bool failure = true;                 // a special file is listed, never made: not a failure
    std::vector<QorvexExRange> missing;  // kDamaged: the bytes the image lacks
};

struct PlanOptions {
    bool hard_links = false;          // Rock Ridge: one serial number, one file; later names are hard links
    bool same_permissions = false;    // keep set-user-ID, set-group-ID and sticky bits
    bool symlinks = true;             // false where the platform makes none
    bool keep_damaged = false;        // a damaged file is written with its missing bytes as zeros (else noted)
    std::vector<std::string> prefix;  // folders above every target (the desktop's label folder)
};

struct ExtractPlan {
    int32_t track = 0;
    int32_t kind = 0;
    std::vector<ExtractItem> items;  // folders first, then files and links in catalogue order
    std::vector<PlanNote> notes;
    uint64_t total = 0;  // bytes of the files
    int32_t skipped_folders = 0;
};

// The whole tree of one file system of a track, or what `selection` selects of it.
ExtractPlan PlanTree(const Disc &disc, int32_t track, int32_t kind, PathSelection &selection,
                     const PlanOptions &options);

}  // namespace host
