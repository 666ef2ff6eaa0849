#include "extract_plan.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "extent_groups.h"
#include "output_tree.h"

namespace host {
namespace {

bool HasVersionSuffix(int32_t kind) {
    return kind == KIND_ISO9660 || kind == KIND_JOLIET;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// "*" and "?" within one name; ASCII case folded on request.
bool NameMatches(std::string_view pattern, std::string_view name, bool fold) {
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || pattern[p] == name[n] || (fold && Lower(pattern[p]) == Lower(name[n])))) {
            ++p, ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// The pattern's names against the leading names of the path ("**" takes any number of them).
bool PartsMatch(const std::vector<std::string> &pattern, size_t p, const std::vector<std::string> &path, size_t n,
                bool fold) {
    if (p == pattern.size()) return true;  // a folder selects what lies below it
    if (pattern[p] == "**") {
        for (size_t k = n; k <= path.size(); ++k)
            if (PartsMatch(pattern, p + 1, path, k, fold)) return true;
        return false;
    }
    return n < path.size() && NameMatches(pattern[p], path[n], fold) && PartsMatch(pattern, p + 1, path, n + 1, fold);
}

std::string FolderOf(const std::string &name) {
    const size_t slash = name.rfind('\\');
    return slash == std::string::npos ? std::string("\\") : name.substr(0, slash + 1);
}

// Image paths of folders end in "\"; the target is the same without it.
std::vector<std::string> Target(const std::string &path, bool version, const PlanOptions &options) {
    std::vector<std::string> target = TargetComponents(path, version);
    if (!target.empty()) target.insert(target.begin(), options.prefix.begin(), options.prefix.end());
    return target;
}

class Planner {
public:
    Planner(const Disc &disc, int32_t track, int32_t kind, PathSelection &selection, const PlanOptions &options)
        : disc_(disc), selection_(selection), options_(options), version_(HasVersionSuffix(kind)) {
        plan_.track = track;
        plan_.kind = kind;
    }

    ExtractPlan Run() {
        files_ = disc_.List(plan_.track, plan_.kind, false);
        parts_ = disc_.List(plan_.track, plan_.kind, true);
        if (!selection_.Empty()) {
            std::vector<std::string> paths;
            for (const Entry &e : files_) paths.push_back(e.path);
            for (const Entry &e : parts_)
                if (e.type != QORVEX_EX_TYPE_NONE) paths.push_back(e.path);
            selection_.FoldCaseWhereUnmatched(paths);
        }
        PlanFolders();
        PlanFiles();
        PlanEmptyFiles();
        plan_.skipped_folders = disc_.SkippedFolders(plan_.track, plan_.kind);
        return std::move(plan_);
    }

private:
    void Note(PlanNote::What what, const std::string &image_name, const std::string &shown, bool failure = true,
              const std::string &link_target = {}) {
        plan_.notes.push_back({what, image_name, shown, link_target, failure, {}});
    }
    // A cut name is refused once per folder: every name below it may be cut the same way.
    void NoteCut(const std::string &name) {
        if (cut_folders_.insert(FolderOf(name)).second) Note(PlanNote::What::kNameCut, name, FolderOf(name));
    }
    void Date(const Entry &e, ExtractItem *item) const {
        item->has_date = e.has_date;
        item->date = e.date;
    }
    void Mode(const Entry &e, ExtractItem *item) const {
        if (!e.IsPosix()) return;
        item->has_mode = true;
        item->mode = e.mode & (options_.same_permissions ? 07777u : 0777u);
    }

    // Every folder of the file system (empty ones too), each once, parents before what they hold.
    void PlanFolders() {
        std::set<std::string> seen;
        for (const Entry &e : parts_) {
            if (e.type != QORVEX_EX_TYPE_FOLDER || !seen.insert(e.path).second) continue;
            if (e.name_cut) {
                NoteCut(e.path);
                continue;
            }
            std::vector<std::string> target = TargetComponents(e.path, false);
            if (target.empty() || !selection_.Selects(e.path)) continue;  // the root is the destination itself
            target.insert(target.begin(), options_.prefix.begin(), options_.prefix.end());
            ExtractItem item;
            item.type = ItemType::kFolder;
            item.target = std::move(target);
            item.image_name = e.path;
            Date(e, &item);
            Mode(e, &item);
            folders_.push_back(std::move(item));
        }
        // Listed in walk order; a parent is made by its child's creation anyway, but attributes are set
        // deepest first (extract_job.cpp), so the order here only needs to be stable.
        std::stable_sort(folders_.begin(), folders_.end(),
                         [](const ExtractItem &a, const ExtractItem &b) { return a.target.size() < b.target.size(); });
        for (ExtractItem &f : folders_) plan_.items.push_back(std::move(f));
    }

    void PlanFiles() {
        std::vector<ListedEntry> listed;
        listed.reserve(files_.size());
        for (const Entry &e : files_)
            listed.push_back({e.name, e.size, e.extent_count, e.extent_index, e.more_extents});
        const std::vector<OutputGroup> groups = GroupExtents(listed, plan_.kind == KIND_UDF);
        std::unordered_map<uint64_t, std::vector<std::string>> first_of_serial;
        for (const OutputGroup &group : groups) {
            const Entry &first = files_[group.entries.front()];
            if (!selection_.Selects(first.path)) continue;
            bool cut = false;
            for (size_t k : group.entries) cut = cut || files_[k].name_cut;
            if (cut) {
                NoteCut(first.name);
                continue;
            }
            ExtractItem item;
            item.image_name = first.name;
            item.target = Target(first.name, version_, options_);
            if (item.target.empty()) {
                Note(PlanNote::What::kUnsafeName, first.name, first.name);
                continue;
            }
            Date(first, &item);
            Mode(first, &item);
            const std::string shown = JoinComponents(item.target);
            if (first.type == QORVEX_EX_TYPE_SPECIAL || first.kind == QORVEX_KIND_RR_SPECIAL) {
                Note(PlanNote::What::kSpecialFile, first.name, shown, false);
                continue;
            }
            if (first.type == QORVEX_EX_TYPE_SYMLINK || first.kind == QORVEX_KIND_RR_SYMLINK) {
                const std::vector<std::string> folder(item.target.begin(), item.target.end() - 1);
                if (!options_.symlinks) {
                    Note(PlanNote::What::kNoLinks, first.name, shown, true, first.link_target);
                } else if (!LinkStaysInside(folder, first.link_target) || (first.ex_flags & QORVEX_EX_SYMLINK) == 0) {
                    Note(PlanNote::What::kLinkLeavesFolder, first.name, shown, true, first.link_target);
                } else {
                    item.type = ItemType::kSymlink;
                    item.link_target = first.link_target;
                    plan_.items.push_back(std::move(item));
                }
                continue;
            }
            if (options_.hard_links && (first.ex_flags & QORVEX_EX_HARDLINK_SERIAL) && first.links > 1) {
                const auto [it, fresh] = first_of_serial.emplace(first.serial, item.target);
                if (!fresh) {
                    item.type = ItemType::kHardLink;
                    item.link_to = it->second;
                    plan_.items.push_back(std::move(item));
                    continue;
                }
            }
            // A damaged file is never made under its name as if whole: only on request, its gaps as zeros.
            uint64_t base = 0;
            for (size_t k : group.entries) {
                const Entry &e = files_[k];
                item.damaged = item.damaged || e.damaged;
                for (const QorvexExRange &r : e.missing) item.missing.push_back({base + r.offset, r.length});
                base += e.size;
            }
            if (item.damaged && !options_.keep_damaged) {
                Note(PlanNote::What::kDamaged, first.name, shown);
                plan_.notes.back().missing = std::move(item.missing);
                continue;
            }
            item.joined = group.engine_joins;
            for (size_t k : group.entries) {
                item.entries.push_back(static_cast<int32_t>(k));
                item.sizes.push_back(files_[k].size);
                if (item.joined) break;
            }
            item.size = group.size;
            plan_.total += item.size;
            plan_.items.push_back(std::move(item));
        }
    }

    // UDF lists a file without allocation descriptors (an empty file) only among its system parts: it is made
    // empty, so that a whole extraction is complete.
    void PlanEmptyFiles() {
        if (plan_.kind != KIND_UDF) return;
        std::unordered_set<std::string> listed;
        for (const Entry &e : files_) listed.insert(e.name);
        std::unordered_set<std::string> made;
        for (const Entry &e : parts_) {
            if (e.type != QORVEX_EX_TYPE_FILE || listed.count(e.path) || !made.insert(e.path).second ||
                !selection_.Selects(e.path))
                continue;
            if (e.name_cut) {
                NoteCut(e.path);
                continue;
            }
            ExtractItem item;
            item.image_name = e.path;
            item.target = Target(e.path, false, options_);
            if (item.target.empty()) continue;
            Date(e, &item);
            plan_.items.push_back(std::move(item));
        }
    }

    const Disc &disc_;
    PathSelection &selection_;
    const PlanOptions &options_;
    const bool version_;
    ExtractPlan plan_;
    std::vector<Entry> files_, parts_;
    std::vector<ExtractItem> folders_;
    std::unordered_set<std::string> cut_folders_;
};

}  // namespace

std::string WithoutVersion(std::string_view name) {
    std::string out(name);
    const size_t semicolon = out.rfind(';');
    if (semicolon == std::string::npos) return out;
    for (size_t i = semicolon + 1; i < out.size(); ++i)
        if (out[i] < '0' || out[i] > '9') return out;
    out.erase(semicolon);
    if (out.size() > 1 && out.back() == '.' && out[out.size() - 2] != '\\') out.pop_back();
    return out;
}

std::vector<std::string> SplitImagePath(const std::string &path) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        if (!part.empty()) parts.push_back(std::move(part));
        part.clear();
    };
    for (size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
#ifdef _WIN32
        // A double-byte character of the code page (names come in it here) may end in 0x5C: it is no separator.
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < path.size()) {
            part += c;
            part += path[++i];
            continue;
        }
#endif
        if (c == '\\' || c == '/')
            flush();
        else
            part += c;
    }
    flush();
    return parts;
}

PathSelection::PathSelection(const std::vector<std::string> &patterns) {
    for (const std::string &given : patterns) {
        Pattern p;
        p.given = given;
        p.parts = SplitImagePath(given);
        if (!p.parts.empty()) p.parts.back() = WithoutVersion(p.parts.back());
        patterns_.push_back(std::move(p));
    }
}

bool PathSelection::Matches(const Pattern &p, const std::vector<std::string> &path) const {
    return PartsMatch(p.parts, 0, path, 0, p.fold_case);
}

void PathSelection::FoldCaseWhereUnmatched(const std::vector<std::string> &paths) {
    std::vector<std::vector<std::string>> split;
    split.reserve(paths.size());
    for (const std::string &path : paths) {
        split.push_back(SplitImagePath(path));
        if (!split.back().empty()) split.back().back() = WithoutVersion(split.back().back());
    }
    for (Pattern &p : patterns_)
        p.fold_case = std::none_of(split.begin(), split.end(), [&](const auto &path) { return Matches(p, path); });
}

bool PathSelection::Selects(const std::string &image_path) {
    if (patterns_.empty()) return true;
    std::vector<std::string> path = SplitImagePath(image_path);
    if (!path.empty()) path.back() = WithoutVersion(path.back());
    bool any = false;
    for (Pattern &p : patterns_)
        if (Matches(p, path)) any = p.used = true;
    return any;
}

std::vector<std::string> PathSelection::Unused() const {
    std::vector<std::string> unused;
    for (const Pattern &p : patterns_)
        if (!p.used) unused.push_back(p.given);
    return unused;
}

ExtractPlan PlanTree(const Disc &disc, int32_t track, int32_t kind, PathSelection &selection,
                     const PlanOptions &options) {
    return Planner(disc, track, kind, selection, options).Run();
}

}  // namespace host
