// ls, extract and extract-part.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "boot_images.h"
#include "commands.h"
#include "copy_queue.h"
#include "extent_groups.h"
#include "image.h"
#include "output.h"
#include "output_tree.h"
#include "qorvex_ext.h"

// Optional: an engine without the copy export has every file filled through the callback.
#pragma weak QorvexExCopyFile
#pragma weak QorvexExCloseImageFiles

namespace cli {

int32_t ParseKind(const std::string &text) {
    if (text == "auto") return KIND_AUTO;
    if (text == "iso" || text == "iso9660") return KIND_ISO9660;
    if (text == "joliet") return KIND_JOLIET;
    if (text == "udf") return KIND_UDF;
    if (text == "rockridge" || text == "rr") return KIND_ROCKRIDGE;
    return -1;
}

namespace {

// Opens the image and settles the track and the requested kind (KIND_AUTO still possible); reports failures.
struct Selection {
    Image image;
    int32_t track = 0;
    int32_t requested = KIND_AUTO;
};

int Select(const Args &args, Selection *s) {
    s->requested = ParseKind(args.Value("--fs", "auto"));
    if (s->requested < 0) {
        std::fprintf(stderr, "qorvex: --fs takes auto, rockridge, joliet, udf or iso\n");
        return kExitUsage;
    }
    int32_t number = -1;
    if (args.values.count("--track")) {
        number = ParseTrackNumber(args.Value("--track"));
        if (number < 0) {
            std::fprintf(stderr, "qorvex: \"%s\" is not a track number\n", args.Value("--track").c_str());
            return kExitUsage;
        }
    }
    if (!s->image.Open(args.positional[0], args.open_options)) return kExitFailed;
    if (number < 0) {
        s->track = s->image.DefaultTrack();
    } else if (number < 1 || number > s->image.TrackCount()) {
        std::fprintf(stderr, "qorvex: there is no track %d (the image has %d)\n", number, s->image.TrackCount());
        return kExitFailed;
    } else {
        s->track = number - 1;
    }
    return kExitOk;
}

bool HasVersionSuffix(int32_t kind) {
    return kind == KIND_ISO9660 || kind == KIND_JOLIET;
}

// An image path in one form for matching: "\" separators, a leading "\", no trailing "\", no ";1".
// Whole characters only: in a double-byte code page the second byte of a character may be "\".
std::string NormalPath(const std::string &path) {
    std::string out = "\\";
    bool separator = true;  // out ends with a separator
    for (size_t i = 0; i < path.size();) {
        const size_t n = CharacterLength(path, i);
        const bool slash = n == 1 && (path[i] == '/' || path[i] == '\\');
        if (slash && !separator) out += '\\';
        if (!slash) out.append(path, i, n);
        separator = slash;
        i += n;
    }
    if (out.size() > 1 && separator) out.pop_back();
    if (size_t semicolon = out.rfind(';'); semicolon != std::string::npos && semicolon > LastBackslash(out)) {
        bool digits = true;
        for (size_t i = semicolon + 1; i < out.size(); ++i) digits = digits && out[i] >= '0' && out[i] <= '9';
        if (digits) out.erase(semicolon);
    }
    return out;
}

bool Matches(const std::string &entry, const std::string &pattern) {
    if (pattern == "\\") return true;
    return entry == pattern || (entry.size() > pattern.size() && entry.compare(0, pattern.size(), pattern) == 0 &&
                                entry[pattern.size()] == '\\');
}

void PrintJson(const std::vector<Entry> &entries) {
    std::printf("[");
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        bool lossy = false;
        std::string name = JsonString(e.name, &lossy);
        std::printf("%s\n  {\"name\": %s", i ? "," : "", name.c_str());
        if (lossy) std::printf(", \"name_hex\": \"%s\"", HexBytes(e.name).c_str());
        std::printf(", \"kind\": %" PRId32 ", \"size\": %" PRIu64 ", \"time\": %" PRId32 ", \"date\": ", e.kind, e.size,
                    e.time);
        if (e.time)
            std::printf("\"%s\"", FormatDate(e.time).c_str());
        else
            std::printf("null");
        std::printf(", \"start\": %" PRId32 ", \"sectors\": %" PRId32 ", \"offset\": %" PRId32
                    ", \"extent_index\": %u, \"extent_count\": %u, \"attributes\": %" PRId32
                    ", \"directory\": %s, \"hidden\": %s",
                    e.start, e.sectors, e.offset, e.extent_index, e.extent_count, e.attributes,
                    (e.attributes & 0x10) ? "true" : "false", (e.attributes & 0x02) ? "true" : "false");
        if (e.ex_flags & QORVEX_EX_POSIX)
            std::printf(", \"mode\": %" PRIu32 ", \"links\": %" PRIu32 ", \"uid\": %" PRIu32 ", \"gid\": %" PRIu32,
                        e.mode, e.links, e.uid, e.gid);
        if (e.ex_flags & QORVEX_EX_SYMLINK) std::printf(", \"link_target\": %s", JsonString(e.link_target).c_str());
        std::printf("}");
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
}

// Reports folders of the catalogue that the engine left out for depth; true when there were any.
bool ReportSkippedFolders(const Image &image, int32_t track, int32_t kind, const char *what) {
    const int32_t skipped = image.SkippedFolders(track, kind);
    if (skipped <= 0) return false;
    std::fprintf(stderr,
                 "qorvex: %" PRId32
                 " folder(s) of the %s file system lie more than 256 folders deep; "
                 "what they hold is %s\n",
                 skipped, KindName(kind), what);
    return true;
}

// "drwxr-xr-x" from a POSIX mode; "?" for the type when none is recorded.
std::string ModeText(const Entry &e) {
    if ((e.ex_flags & QORVEX_EX_POSIX) == 0) return "?---------";
    static const char kTypes[] = "?pc?d?b?-?l?s???";
    std::string text(1, kTypes[(e.mode >> 12) & 0xF]);
    const char *bits = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) text += (e.mode & (0400u >> i)) ? bits[i] : '-';
    if (e.mode & 04000) text[3] = (e.mode & 0100) ? 's' : 'S';
    if (e.mode & 02000) text[6] = (e.mode & 0010) ? 's' : 'S';
    if (e.mode & 01000) text[9] = (e.mode & 0001) ? 't' : 'T';
    return text;
}

// ls --long of Rock Ridge: mode, links, owner, size, date and the name (with "-> target" for a link).
void PrintPosixLong(const std::vector<Entry> &entries) {
    std::printf("%-10s  %5s  %-11s  %14s  %-20s  %s\n", "MODE", "LINKS", "UID/GID", "SIZE", "DATE (UTC)", "NAME");
    for (const Entry &e : entries) {
        const bool posix = (e.ex_flags & QORVEX_EX_POSIX) != 0;
        const std::string owner = posix ? std::to_string(e.uid) + "/" + std::to_string(e.gid) : "-";
        std::string name = DisplayName(e.name);
        if (e.ex_flags & QORVEX_EX_SYMLINK) name += " -> " + DisplayName(e.link_target);
        std::printf("%-10s  %5" PRIu32 "  %-11s  %14" PRIu64 "  %-20s  %s\n", ModeText(e).c_str(), e.links,
                    owner.c_str(), e.size, FormatDate(e.time).c_str(), name.c_str());
    }
}

// The folder part of an image path, "\" for the root.
std::string FolderOf(const std::string &name) {
    const size_t slash = LastBackslash(name);
    return slash == std::string::npos ? std::string("\\") : name.substr(0, slash + 1);
}

// One line of the plain or long listing.
struct ListLine {
    uint64_t size;
    int32_t time, start, sectors;
    uint16_t extent_index, extent_count;
    std::string_view name;
};

// The plain (names) or long listing, gathered into large blocks written to stdout.
class ListWriter {
public:
    explicit ListWriter(bool long_form) : long_form_(long_form) {
        text_.reserve(kBlock + 4096);
        if (long_form_) {
            char head[128];
            std::snprintf(head, sizeof head, "%14s  %-20s  %10s  %10s  %-7s  %s\n", "SIZE", "DATE (UTC)", "START",
                          "SECTORS", "EXTENT", "NAME");
            text_ += head;
        }
    }
    ~ListWriter() { Write(); }
    ListWriter(const ListWriter &) = delete;
    ListWriter &operator=(const ListWriter &) = delete;

    void Add(const ListLine &e) {
        if (long_form_) {
            if (e.time != date_time_ || date_.empty()) {
                date_ = FormatDate(e.time);
                date_time_ = e.time;
            }
            char extent[16], fields[128];
            std::snprintf(extent, sizeof extent, "%u/%u", e.extent_index, e.extent_count);
            const int n =
                std::snprintf(fields, sizeof fields, "%14" PRIu64 "  %-20s  %10" PRId32 "  %10" PRId32 "  %-7s  ",
                              e.size, date_.c_str(), e.start, e.sectors, extent);
            text_.append(fields, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof fields) - 1)));
        }
        AppendDisplayName(text_, e.name);
        text_ += '\n';
        if (text_.size() >= kBlock) Write();
    }

private:
    static constexpr size_t kBlock = 64 * 1024;
    void Write() {
        if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), stdout);
        text_.clear();
    }

    bool long_form_;
    std::string text_;
    std::string date_;
    int32_t date_time_ = 0;
};

}  // namespace

int RunList(const Args &args) {
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const bool parts = args.Has("--system");
    const int32_t kind = s.image.ChooseKind(s.track, s.requested);
    // Boot parts are ISO 9660 system parts; the automatic choice shows them beside another file system's.
    const bool boot = parts && s.requested == KIND_AUTO && kind != KIND_ISO9660;
    // The listing is printed either way; an incomplete one ends with status 1.
    const int status =
        !parts && ReportSkippedFolders(s.image, s.track, kind, "missing from this listing") ? kExitFailed : kExitOk;
    const bool long_form = args.Has("--long");
    if (args.Has("--json") || (long_form && kind == KIND_ROCKRIDGE)) {
        std::vector<Entry> entries = s.image.List(s.track, kind, parts, kind == KIND_ROCKRIDGE);
        if (boot)
            for (Entry &e : BootParts(s.image, s.track)) entries.push_back(std::move(e));
        if (args.Has("--json"))
            PrintJson(entries);
        else
            PrintPosixLong(entries);
        return status;
    }
    // The plain and long listings are written as the walk goes, without gathering the entries.
    ListWriter out(long_form);
    s.image.Visit(s.track, kind, parts, [&](const EntryInfo &info) {
        out.Add({(static_cast<uint64_t>(info.size_high) << 32) | info.size_low, info.time, info.start, info.sectors,
                 info.extent_index, info.extent_count,
                 std::string_view(info.name, strnlen(info.name, sizeof info.name))});
    });
    if (boot)
        for (const Entry &e : BootParts(s.image, s.track))
            out.Add({e.size, e.time, e.start, e.sectors, e.extent_index, e.extent_count, e.name});
    return status;
}

int RunExtract(const Args &args) {
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const int32_t kind = s.image.ChooseKind(s.track, s.requested);
    const bool overwrite = args.Has("--overwrite");
    std::vector<Entry> entries = s.image.List(s.track, kind, false, true);

    std::vector<std::string> patterns;
    for (size_t i = 1; i < args.positional.size(); ++i) patterns.push_back(NormalPath(args.positional[i]));
    std::vector<bool> pattern_used(patterns.size(), false);
    auto selected = [&](const std::string &name) {
        if (patterns.empty()) return true;
        bool any = false;
        const std::string normal = NormalPath(name);
        for (size_t p = 0; p < patterns.size(); ++p)
            if (Matches(normal, patterns[p])) any = true, pattern_used[p] = true;
        return any;
    };

    // Plan the output files.
    std::vector<host::ListedEntry> listed;
    listed.reserve(entries.size());
    for (const Entry &e : entries) listed.push_back({e.name, e.size, e.extent_count, e.extent_index, e.more_extents});
    const std::vector<host::OutputGroup> groups = host::GroupExtents(listed, kind == KIND_UDF);
    std::vector<bool> wanted(groups.size(), false);
    std::vector<size_t> posix_others;  // Rock Ridge links and special files selected
    uint64_t total = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        wanted[g] = selected(entries[groups[g].entries[0]].name);
        // Links and special files have no data: they are made (or reported) apart from the files.
        const int32_t first_kind = entries[groups[g].entries[0]].kind;
        if (first_kind == QORVEX_KIND_RR_SYMLINK || first_kind == QORVEX_KIND_RR_SPECIAL) {
            if (wanted[g]) posix_others.push_back(groups[g].entries[0]);
            wanted[g] = false;
        }
        if (wanted[g]) total += groups[g].size;
    }
    const std::vector<size_t> group_of = host::GroupOfEntries(groups, entries.size());

    // UDF lists a file without allocation descriptors (an empty file) only among its system parts, as
    // "udf entry  " with its path; such files are made empty so that a whole extraction is complete.
    struct EmptyFile {
        std::string path;
        bool name_cut;
    };
    std::vector<EmptyFile> selected_empty;
    if (kind == KIND_UDF) {
        std::unordered_set<std::string> names;
        for (const Entry &e : entries) names.insert(e.name);
        const std::string prefix = "udf entry  ";
        for (const Entry &part : s.image.List(s.track, kind, true, true)) {
            if (part.name.compare(0, prefix.size(), prefix) != 0) continue;
            std::string path = part.name.substr(prefix.size());
            if (!path.empty() && LastBackslash(path) != path.size() - 1 && !names.count(path) && selected(path))
                selected_empty.push_back({path, part.name_cut});
        }
    }

    bool failed = false;
    for (size_t p = 0; p < patterns.size(); ++p) {
        if (!pattern_used[p]) {
            std::fprintf(stderr, "qorvex: %s: not found in the %s file system\n",
                         DisplayName(args.positional[p + 1]).c_str(), KindName(kind));
            failed = true;
        }
    }

    host::OutputTree tree;
    host::OutputProblem problem;
    const std::string destination = args.Value("-o", ".");
    if (!tree.Open(destination, &problem)) {
        std::fprintf(stderr, "qorvex: cannot open folder \"%s\": %s\n", DisplayName(destination).c_str(),
                     problem.Describe().c_str());
        return kExitFailed;
    }

    Progress progress(total);
    host::OutputFile file;
    Sink sink;
    sink.progress = &progress;
    QorvexSetCallback(s.image.handle(), SinkCallback, &sink);
    bool skipping = false;  // the current group was refused or failed
    size_t refused = 0;
    auto fail = [&](const std::string &name, const std::string &why) {
        progress.Finish();
        std::fprintf(stderr, "qorvex: %s: %s\n", DisplayName(name).c_str(), why.c_str());
        failed = true;
    };
    std::unordered_set<std::string> cut_folders;  // each reported once
    auto refuse_cut = [&](const std::string &name) {
        failed = true;
        if (!cut_folders.insert(FolderOf(name)).second) return;
        fail(FolderOf(name),
             "names below this folder are longer than their records can hold and were cut; "
             "not extracted");
    };
    // Makes the file of one output; false when it was refused (reported).
    auto create = [&](const std::string &name, bool cut_version, host::OutputFile *into) {
        const std::vector<std::string> components = host::TargetComponents(name, cut_version);
        if (tree.Create(components, overwrite, into, &problem)) return true;
        if (problem.refusal == host::Refusal::kExists) ++refused;
        fail(components.empty() ? name : host::JoinComponents(components), problem.Describe());
        return false;
    };

    // Rock Ridge: one serial number names one file; its later names become hard links of the first.
    const bool hard_links = args.Has("--hard-links");
    const bool same_permissions = args.Has("--same-permissions");
    auto PermissionBits = [&](const Entry &e) {
        return static_cast<mode_t>(e.mode & (same_permissions ? 07777u : 0777u));
    };
    std::unordered_map<uint64_t, std::vector<std::string>> made_by_serial;

    // With the engine's copy export, each file is filled on a worker thread while the next ones are made here.
    std::unique_ptr<host::CopyQueue> queue;
    uint64_t shown = 0;
    auto report_copies = [&] {
        const uint64_t copied = queue->Copied();
        progress.Advance(copied - shown);
        shown = copied;
        for (const host::CopyFailure &f : queue->TakeFailures())
            fail(entries[groups[f.tag].entries[0]].name, f.result ? DescribeResult(f.result) : f.problem.Describe());
    };
    if (QorvexExCopyFile)
        queue = std::make_unique<host::CopyQueue>(QorvexExCopyFile, s.image.handle(), s.track, kind,
                                                  host::CopyQueue::DefaultWorkers());
    auto link_by_serial = [&](const Entry &e) {
        if (!hard_links || !(e.ex_flags & QORVEX_EX_HARDLINK_SERIAL) || e.links < 2) return false;
        const auto it = made_by_serial.find(e.serial);
        if (it == made_by_serial.end()) return false;
        if (queue) queue->Wait();  // the file linked to is whole first (a failed one is removed)
        const std::vector<std::string> components = host::TargetComponents(e.name, false);
        if (!tree.CreateHardLink(it->second, components, overwrite, &problem)) {
            if (problem.refusal == host::Refusal::kExists) ++refused;
            fail(components.empty() ? e.name : host::JoinComponents(components), problem.Describe());
        }
        return true;
    };

    s.image.Walk(s.track, kind, false, [&](size_t i) {
        if (i >= group_of.size() || !wanted[group_of[i]]) return;
        const host::OutputGroup &group = groups[group_of[i]];
        const Entry &first = entries[group.entries[0]];
        if (i == group.entries.front()) {
            skipping = true;
            for (size_t k : group.entries)
                if (entries[k].name_cut) {
                    refuse_cut(entries[k].name);
                    return;
                }
            if (link_by_serial(first)) return;
            host::CopyJob job;
            if (queue) job.file = std::make_unique<host::OutputFile>();
            host::OutputFile &made = queue ? *job.file : file;
            if (!create(first.name, HasVersionSuffix(kind), &made)) return;
            if (first.ex_flags & QORVEX_EX_POSIX) made.SetFinalMode(PermissionBits(first));
            if (hard_links && (first.ex_flags & QORVEX_EX_HARDLINK_SERIAL) && first.links > 1)
                made_by_serial.emplace(first.serial, host::TargetComponents(first.name, false));
            if (queue) {
                job.joined = group.engine_joins;
                for (size_t k : group.entries) {
                    job.indexes.push_back(static_cast<int32_t>(k));
                    job.sizes.push_back(entries[k].size);
                    if (job.joined) break;
                }
                job.modified = first.time;
                job.size = group.size;
                job.tag = group_of[i];
                queue->Submit(std::move(job));
                report_copies();
                return;  // skipping stays set: the queue does the group's entries
            }
            skipping = false;
        }
        if (skipping || (group.engine_joins && i != group.entries.front())) return;
        sink.file = &file;
        const int32_t result = QorvexExtractCurrentFile2(s.image.handle(), nullptr, group.engine_joins ? 0 : 1);
        sink.file = nullptr;
        if (sink.write_error || result != 0) {
            const std::string why = sink.write_error ? std::string("writing failed: ") + std::strerror(sink.write_error)
                                                     : DescribeResult(result);
            sink.write_error = 0;
            file.Discard();
            fail(first.name, why);
            skipping = true;
            return;
        }
        if (group.engine_joins || i == group.entries.back()) {
            if (!file.Finish(first.time, &problem)) fail(first.name, problem.Describe());
        }
    });
    QorvexSetCallback(s.image.handle(), nullptr, nullptr);
    file.Discard();  // a group cut short by the end of the walk
    if (queue) {
        queue->Finish(report_copies);
        if (QorvexExCloseImageFiles) QorvexExCloseImageFiles(s.image.handle());
    }
    progress.Finish();
    for (const EmptyFile &empty : selected_empty) {
        if (empty.name_cut) {
            refuse_cut(empty.path);
            continue;
        }
        if (create(empty.path, false, &file) && !file.Finish(0, &problem)) fail(empty.path, problem.Describe());
    }
    if (kind == KIND_ROCKRIDGE) {
        for (size_t i : posix_others) {
            const Entry &e = entries[i];
            const std::vector<std::string> components = host::TargetComponents(e.name, false);
            const std::string shown = components.empty() ? e.name : host::JoinComponents(components);
            if (e.kind == QORVEX_KIND_RR_SPECIAL) {
                std::fprintf(stderr, "qorvex: %s: a device, FIFO or socket; listed, not made\n",
                             DisplayName(shown).c_str());
                continue;
            }
            const std::vector<std::string> folder(components.begin(), components.end() - (components.empty() ? 0 : 1));
            if (components.empty() || !host::LinkStaysInside(folder, e.link_target)) {
                fail(shown, "symbolic link to \"" + e.link_target + "\" would lead out of the folder; not made");
            } else if (!tree.CreateSymlink(components, e.link_target, e.modified, overwrite, &problem)) {
                if (problem.refusal == host::Refusal::kExists) ++refused;
                fail(shown, problem.Describe());
            }
        }
        // Folders: every selected one is made (empty ones too), then given its mode and time, deepest first so
        // that a folder without write permission is closed only once what it holds is done.
        const std::vector<Entry> folders = s.image.List(s.track, kind, true, true);
        const std::string prefix = "rockridge folder ";
        std::vector<std::pair<std::vector<std::string>, const Entry *>> made;
        for (const Entry &f : folders) {
            if (f.kind != QORVEX_KIND_RR_FOLDER || f.name.compare(0, prefix.size(), prefix) != 0) continue;
            const std::string path = f.name.substr(prefix.size());
            const std::vector<std::string> components = host::TargetComponents(path, false);
            if (components.empty() || !selected(path)) continue;  // the destination itself is the user's
            if (!tree.MakeFolder(components, &problem)) {
                fail(host::JoinComponents(components), problem.Describe());
                continue;
            }
            made.emplace_back(components, &f);
        }
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            const Entry &f = *it->second;
            const mode_t mode = (f.ex_flags & QORVEX_EX_POSIX) ? PermissionBits(f) : 0755;
            if (!tree.SetFolderAttributes(it->first, mode, f.modified, &problem))
                fail(host::JoinComponents(it->first), problem.Describe());
        }
    }
    if (ReportSkippedFolders(s.image, s.track, kind, "not extracted")) failed = true;
    if (args.Has("--boot") && !ExtractBootImages(s.image, s.track, tree, overwrite, &refused)) failed = true;
    if (refused) std::fprintf(stderr, "qorvex: %zu existing file(s) refused\n", refused);
    return failed ? kExitFailed : kExitOk;
}

int RunExtractPart(const Args &args) {
    const std::string output = args.Value("-o");
    if (output.empty()) {
        std::fprintf(stderr, "qorvex: extract-part needs -o FILE\n");
        return kExitUsage;
    }
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const std::string &wanted = args.positional[1];

    std::vector<int32_t> kinds = {s.image.ChooseKind(s.track, s.requested)};
    if (s.requested == KIND_AUTO)
        for (int32_t k : kKindOrder)
            if (k != kinds[0]) kinds.push_back(k);

    for (int32_t kind : kinds) {
        std::vector<Entry> parts = s.image.List(s.track, kind, true);
        size_t index = 0;
        while (index < parts.size() && parts[index].name != wanted) ++index;
        if (index == parts.size()) continue;

        Progress progress(output == "-" ? 0 : parts[index].size);
        Sink sink;
        sink.progress = output == "-" ? nullptr : &progress;
        if (output == "-") sink.fd = STDOUT_FILENO;
        const UnfinishedOutput unfinished(output);
        int32_t result = 0;
        s.image.Walk(s.track, kind, true, [&](size_t i) {
            if (i != index) return;
            QorvexSetCallback(s.image.handle(), SinkCallback, &sink);
            result = QorvexExtractCurrentModule(s.image.handle(), output == "-" ? nullptr : output.c_str());
            QorvexSetCallback(s.image.handle(), nullptr, nullptr);
        });
        progress.Finish();
        if (sink.write_error) {
            std::fprintf(stderr, "qorvex: writing %s failed: %s\n", output.c_str(), std::strerror(sink.write_error));
            return kExitFailed;
        }
        if (result != 0) {
            unfinished.Remove();
            ReportEngineError("extracting \"" + DisplayName(wanted) + "\" to " + output, result);
            return kExitFailed;
        }
        return kExitOk;
    }
    std::fprintf(stderr, "qorvex: no system part named \"%s\" (see \"qorvex ls IMAGE --system\")\n",
                 DisplayName(wanted).c_str());
    return kExitFailed;
}

}  // namespace cli
