// ls, extract and extract-part.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "boot_images.h"
#include "commands.h"
#include "extract_job.h"
#include "extract_plan.h"
#include "image.h"
#include "output.h"
#include "output_tree.h"
#include "qorvex_ext.h"

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

// Opens the image and settles the track and the file system; reports failures.
struct Selection {
    Image image;
    int32_t track = 0;
    int32_t requested = KIND_AUTO;
    int32_t kind = 0;
};

std::string KindsText(const std::vector<int32_t> &kinds) {
    std::string text;
    for (int32_t k : kinds) text += (text.empty() ? "" : ", ") + std::string(KindName(k));
    return text;
}

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
    const std::vector<int32_t> present = s->image.KindsPresent(s->track);
    if (present.empty()) {
        std::fprintf(stderr, "qorvex: track %d holds no file system (an audio track, or data no reader knows)\n",
                     s->track + 1);
        return kExitFailed;
    }
    s->kind = s->image.ChooseKind(s->track, s->requested);
    if (std::find(present.begin(), present.end(), s->kind) == present.end()) {
        std::fprintf(stderr, "qorvex: track %d has no %s file system; it has %s\n", s->track + 1, KindName(s->kind),
                     KindsText(present).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

std::string TypeWord(const Entry &e) {
    switch (e.type) {
        case QORVEX_EX_TYPE_FOLDER: return "folder";
        case QORVEX_EX_TYPE_SYMLINK: return "link";
        case QORVEX_EX_TYPE_SPECIAL: return "special";
        case QORVEX_EX_TYPE_FILE: return "file";
        default: return "system";
    }
}

void PrintJson(const std::vector<Entry> &entries, int32_t kind) {
    std::printf("[");
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        bool lossy = false;
        std::string name = JsonString(e.name, &lossy);
        std::printf("%s\n  {\"name\": %s", i ? "," : "", name.c_str());
        if (lossy) std::printf(", \"name_hex\": \"%s\"", HexBytes(e.name).c_str());
        std::printf(", \"type\": \"%s\", \"fs\": \"%s\"", TypeWord(e).c_str(), host::KindKeyword(kind));
        std::printf(", \"kind\": %" PRId32 ", \"size\": %" PRIu64 ", \"time\": %" PRId32 ", \"date\": ", e.kind, e.size,
                    e.time);
        if (e.has_date)
            std::printf("\"%s\"", FormatInstant(true, e.date).c_str());
        else
            std::printf("null");
        std::printf(", \"start\": %" PRId32 ", \"sectors\": %" PRId32 ", \"offset\": %" PRId32
                    ", \"extent_index\": %u, \"extent_count\": %u, \"attributes\": %" PRId32
                    ", \"directory\": %s, \"hidden\": %s",
                    e.start, e.sectors, e.offset, e.extent_index, e.extent_count, e.attributes,
                    (e.attributes & 0x10) ? "true" : "false", (e.attributes & 0x02) ? "true" : "false");
        if (e.IsPosix())
            std::printf(", \"mode\": %" PRIu32 ", \"links\": %" PRIu32 ", \"uid\": %" PRIu32 ", \"gid\": %" PRIu32,
                        e.mode, e.links, e.uid, e.gid);
        if (e.ex_flags & QORVEX_EX_SYMLINK) std::printf(", \"link_target\": %s", JsonString(e.link_target).c_str());
        if (e.damaged) {
            std::printf(", \"damaged\": {\"missing_bytes\": %" PRIu64 ", \"ranges\": [", host::MissingBytes(e.missing));
            for (size_t r = 0; r < e.missing.size(); ++r)
                std::printf("%s{\"offset\": %" PRIu64 ", \"length\": %" PRIu64 "}", r ? ", " : "", e.missing[r].offset,
                            e.missing[r].length);
            std::printf("]}");
        }
        std::printf("}");
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
}

// Reports folders of the catalogue that the engine left out for depth; true when there were any.
bool ReportSkippedFolders(int32_t skipped, int32_t kind, const char *what) {
    if (skipped <= 0) return false;
    std::fprintf(stderr,
                 "qorvex: %" PRId32
                 " folder(s) of the %s file system lie more than 256 folders deep; "
                 "what they hold is %s\n",
                 skipped, KindName(kind), what);
    return true;
}

// The folders of a file system (each once, the root left out) from its system parts, in path order.
std::vector<Entry> Folders(const Image &image, int32_t track, int32_t kind) {
    std::vector<Entry> folders;
    std::set<std::string> seen;
    for (Entry &e : image.List(track, kind, true)) {
        if (e.type != QORVEX_EX_TYPE_FOLDER || e.path.empty() || e.path == "\\" || !seen.insert(e.path).second)
            continue;
        if (e.path.back() != '\\') e.path += '\\';
        e.name = e.path;
        folders.push_back(std::move(e));
    }
    std::sort(folders.begin(), folders.end(), [](const Entry &a, const Entry &b) { return a.path < b.path; });
    return folders;
}

// Puts the folders among the files: each before the first entry that sorts after it.
std::vector<Entry> WithFolders(std::vector<Entry> files, const std::vector<Entry> &folders) {
    std::vector<Entry> out;
    out.reserve(files.size() + folders.size());
    size_t f = 0;
    for (Entry &e : files) {
        while (f < folders.size() && folders[f].path < e.name) out.push_back(folders[f++]);
        out.push_back(std::move(e));
    }
    while (f < folders.size()) out.push_back(folders[f++]);
    return out;
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
                    owner.c_str(), e.size, FormatInstant(e.has_date, e.date).c_str(), name.c_str());
    }
}

// One line of the plain or long listing.
struct ListLine {
    uint64_t size;
    bool has_date;
    int64_t date;
    int32_t start, sectors;
    uint16_t extent_index, extent_count;
    std::string_view name;
    bool damaged = false;
    uint64_t missing = 0;  // bytes, with damaged
};

// The plain (names) or long listing, gathered into large blocks written to stdout.
class ListWriter {
public:
    // `salvaged`: a MISSING column (bytes the image lacks) and a "!" before a damaged entry's name.
    ListWriter(bool long_form, bool salvaged) : long_form_(long_form), salvaged_(long_form && salvaged) {
        text_.reserve(kBlock + 4096);
        if (long_form_) {
            char head[160];
            std::snprintf(head, sizeof head, "%14s  %-20s  %10s  %10s  %-7s  %s%s\n", "SIZE", "DATE (UTC)", "START",
                          "SECTORS", "EXTENT", salvaged_ ? "   MISSING  " : "", "NAME");
            text_ += head;
        }
    }
    ~ListWriter() { Write(); }
    ListWriter(const ListWriter &) = delete;
    ListWriter &operator=(const ListWriter &) = delete;

    void Add(const ListLine &e) {
        if (long_form_) {
            if (e.date != date_time_ || e.has_date != date_known_ || date_.empty()) {
                date_ = FormatInstant(e.has_date, e.date);
                date_time_ = e.date;
                date_known_ = e.has_date;
            }
            char extent[16], fields[128];
            std::snprintf(extent, sizeof extent, "%u/%u", e.extent_index, e.extent_count);
            const int n =
                std::snprintf(fields, sizeof fields, "%14" PRIu64 "  %-20s  %10" PRId32 "  %10" PRId32 "  %-7s  ",
                              e.size, date_.c_str(), e.start, e.sectors, extent);
            text_.append(fields, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof fields) - 1)));
            if (salvaged_) {
                const std::string missing = e.damaged ? std::to_string(e.missing) : "-";
                std::snprintf(fields, sizeof fields, "%10s %c ", missing.c_str(), e.damaged ? '!' : ' ');
                text_ += fields;
            }
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
    bool salvaged_;
    std::string text_;
    std::string date_;
    int64_t date_time_ = 0;
    bool date_known_ = false;
};

// The command line's answers to the extraction job: replace with --overwrite, else leave and report; every
// file that was not made is reported with its cause, and makes the run end with status 1.
class CommandDecisions : public host::Decisions {
public:
    CommandDecisions(bool overwrite, Progress &progress) : overwrite_(overwrite), progress_(progress) {}
    Answer AtTarget(const host::ExtractItem &, const std::string &) override {
        return overwrite_ ? Answer::kReplace : Answer::kSkip;
    }
    bool Advance(uint64_t bytes) override {
        progress_.Advance(bytes);
        return true;
    }
    void Finished(const host::ExtractItem &item, const std::string &shown, const host::Outcome &outcome) override {
        if (outcome.problem.refusal == host::Refusal::kExists) ++refused;
        std::string why = outcome.result ? DescribeResult(outcome.result) : outcome.problem.Describe();
        if (outcome.result == ENGINE_WRITE_FAILED && outcome.problem.error)
            why = std::string("writing failed: ") + std::strerror(outcome.problem.error);
        Report(shown.empty() ? item.image_name : shown, why);
    }
    void Report(const std::string &what, const std::string &why) {
        progress_.Finish();
        std::fprintf(stderr, "qorvex: %s: %s\n", DisplayName(what).c_str(), why.c_str());
    }
    size_t refused = 0;

private:
    bool overwrite_;
    Progress &progress_;
};

// Reports what the plan leaves out; true when any of it is a failure.
bool ReportNotes(const host::ExtractPlan &plan, CommandDecisions &decisions) {
    bool failed = false;
    for (const host::PlanNote &note : plan.notes) {
        switch (note.what) {
            case host::PlanNote::What::kNameCut:
                decisions.Report(note.shown,
                                 "names below this folder are longer than their records can hold and were cut; "
                                 "not extracted");
                break;
            case host::PlanNote::What::kUnsafeName:
                decisions.Report(note.image_name, "the name leaves nothing to create; not extracted");
                break;
            case host::PlanNote::What::kLinkLeavesFolder:
                decisions.Report(
                    note.shown, "symbolic link to \"" + note.link_target + "\" would lead out of the folder; not made");
                break;
            case host::PlanNote::What::kNoLinks:
                decisions.Report(note.shown, "symbolic links cannot be made here; not made");
                break;
            case host::PlanNote::What::kSpecialFile:
                decisions.Report(note.shown, "a device, FIFO or socket; listed, not made");
                break;
            case host::PlanNote::What::kDamaged:
                decisions.Report(note.shown, "damaged: the image lacks " +
                                                 std::to_string(host::MissingBytes(note.missing)) + " byte(s) of it (" +
                                                 host::DescribeRanges(note.missing) +
                                                 "); not extracted (--keep-damaged writes it with zeros there)");
                break;
        }
        failed = failed || note.failure;
    }
    return failed;
}

// extract -O: the selected files' bytes one after the other on standard output, in listing order.
int ExtractToStdout(const Selection &s, const host::ExtractPlan &plan) {
    std::vector<std::pair<int32_t, bool>> wanted;  // entry index, join its extents
    for (const host::ExtractItem &item : plan.items)
        if (item.type == host::ItemType::kFile)
            for (int32_t index : item.entries) wanted.emplace_back(index, item.joined);
    std::sort(wanted.begin(), wanted.end());
    Sink sink;
    sink.fd = STDOUT_FILENO;
    const host::EngineApi &api = s.image.Api();
    api.SetCallback(s.image.handle(), SinkCallback, &sink);
    int32_t result = 0;
    size_t next = 0;
    s.image.Walk(s.track, s.kind, false, [&](size_t i) {
        if (result || sink.write_error || next >= wanted.size() || wanted[next].first != static_cast<int32_t>(i))
            return;
        result = api.ExtractCurrentFile2(s.image.handle(), nullptr, wanted[next].second ? 0 : 1);
        ++next;
    });
    api.SetCallback(s.image.handle(), nullptr, nullptr);
    if (sink.write_error) {
        std::fprintf(stderr, "qorvex: writing to standard output failed: %s\n", std::strerror(sink.write_error));
        return kExitFailed;
    }
    if (result) {
        ReportEngineError("extracting to standard output", result);
        return kExitFailed;
    }
    return kExitOk;
}

// ls on a salvaged track: what could not be read and how many files lack data (details in qorvex info).
void ReportSalvage(const QorvexExSalvage *salvage, size_t damaged) {
    if (!salvage) return;
    if (salvage->failed > 0)
        std::fprintf(stderr, "qorvex: %" PRId32 " structure(s) of the image could not be read:\n%s", salvage->failed,
                     salvage->notes);
    if (damaged > 0) std::fprintf(stderr, "qorvex: %zu entry(ies) lack data the image does not hold (!)\n", damaged);
}

}  // namespace

int RunList(const Args &args) {
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const bool parts = args.Has("--system");
    const int32_t kind = s.kind;
    // Boot parts are ISO 9660 system parts; the automatic choice shows them beside another file system's.
    const bool boot = parts && s.requested == KIND_AUTO && kind != KIND_ISO9660;
    // The listing is printed either way; an incomplete one ends with status 1.
    int status =
        !parts && ReportSkippedFolders(s.image.SkippedFolders(s.track, kind), kind, "missing from this listing")
            ? kExitFailed
            : kExitOk;
    const bool long_form = args.Has("--long");
    const bool folders = !parts && !args.Has("--files-only");
    QorvexExSalvage salvage;
    const bool salvaged = s.image.Salvaged(s.track, &salvage);
    // With --check-edc the long listing reads each file for the sectors that fail their check (only a read finds
    // them); --json does the same through the host's listing.
    const uint32_t damage = long_form ? host::DamageFlags(s.image.Options()) : 0;
    if (salvaged && salvage.failed > 0) status = kExitFailed;  // parts of the catalogue could not be read
    if (args.Has("--json") || (long_form && kind == KIND_ROCKRIDGE)) {
        std::vector<Entry> entries = s.image.List(s.track, kind, parts);
        if (folders) entries = WithFolders(std::move(entries), Folders(s.image, s.track, kind));
        if (boot)
            for (Entry &e : BootParts(s.image, s.track)) entries.push_back(std::move(e));
        if (args.Has("--json"))
            PrintJson(entries, kind);
        else
            PrintPosixLong(entries);
        ReportSalvage(salvaged ? &salvage : nullptr,
                      static_cast<size_t>(
                          std::count_if(entries.begin(), entries.end(), [](const Entry &e) { return e.damaged; })));
        return status;
    }
    // The plain and long listings are written as the walk goes, without gathering the files.
    const std::vector<Entry> folder_list = folders ? Folders(s.image, s.track, kind) : std::vector<Entry>{};
    size_t next_folder = 0;
    ListWriter out(long_form, salvaged || damage != 0);
    auto add = [&](const Entry &e) {
        out.Add({e.size, e.has_date, e.date, e.start, e.sectors, e.extent_index, e.extent_count, e.name, e.damaged,
                 host::MissingBytes(e.missing)});
    };
    const host::EngineApi &api = s.image.Api();
    size_t damaged = 0;
    s.image.Visit(s.track, kind, parts, [&](const EntryInfo &info) {
        const std::string_view name(info.name, strnlen(info.name, sizeof info.name));
        while (next_folder < folder_list.size() && folder_list[next_folder].path < name)
            add(folder_list[next_folder++]);
        Entry e = host::ToEntry(info);
        // A date the 32-bit field cannot hold (none, or from 2038 on) is asked for in full; so is the damage of a
        // salvaged image's entry.
        if ((long_form && info.time == 0) || salvaged || damage != 0)
            host::AddDetails(api, s.image.handle(), parts, &e, damage);
        damaged += e.damaged ? 1 : 0;
        add(e);
    });
    while (next_folder < folder_list.size()) add(folder_list[next_folder++]);
    if (boot)
        for (const Entry &e : BootParts(s.image, s.track)) add(e);
    ReportSalvage(salvaged ? &salvage : nullptr, damaged);
    return status;
}

int RunExtract(const Args &args) {
    const bool to_stdout = args.Has("-O") || args.Has("--stdout");
    const std::string destination = args.Value("-o", ".");
    if (destination == "-" && !to_stdout) {
        std::fprintf(stderr,
                     "qorvex: extract writes a folder; use -O (--stdout) for the files' bytes on standard "
                     "output\n");
        return kExitUsage;
    }
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const int32_t kind = s.kind;

    host::PathSelection selection(std::vector<std::string>(args.positional.begin() + 1, args.positional.end()));
    host::PlanOptions options;
    options.hard_links = args.Has("--hard-links");
    options.same_permissions = args.Has("--same-permissions");
    options.keep_damaged = args.Has("--keep-damaged");
#ifdef _WIN32
    options.symlinks = false;
#endif
    const host::ExtractPlan plan = host::PlanTree(s.image, s.track, kind, selection, options);
    bool failed = false;
    for (const std::string &pattern : selection.Unused()) {
        std::fprintf(stderr, "qorvex: %s: not found in the %s file system\n", DisplayName(pattern).c_str(),
                     KindName(kind));
        failed = true;
    }
    if (to_stdout) {
        for (const host::PlanNote &note : plan.notes)
            if (note.what == host::PlanNote::What::kDamaged) {
                std::fprintf(stderr, "qorvex: %s: damaged; left out\n", DisplayName(note.image_name).c_str());
                failed = true;
            }
        const int status = ExtractToStdout(s, plan);
        return failed ? kExitFailed : status;
    }

    host::OutputTree tree;
    host::OutputProblem problem;
    if (!tree.Open(destination, &problem)) {
        std::fprintf(stderr, "qorvex: cannot open folder \"%s\": %s\n", DisplayName(destination).c_str(),
                     problem.Describe().c_str());
        return kExitFailed;
    }
    Progress progress(plan.total);
    CommandDecisions decisions(args.Has("--overwrite"), progress);
    if (ReportNotes(plan, decisions)) failed = true;
    const host::JobSummary summary = host::RunExtraction(s.image, plan, tree, decisions);
    progress.Finish();
    if (summary.failed || summary.skipped) failed = true;
    if (ReportSkippedFolders(plan.skipped_folders, kind, "not extracted")) failed = true;
    size_t refused = decisions.refused;
    if (args.Has("--boot") && !ExtractBootImages(s.image, s.track, tree, args.Has("--overwrite"), &refused))
        failed = true;
    if (refused) std::fprintf(stderr, "qorvex: %zu existing file(s) refused\n", refused);
    // A damaged file kept is not whole: each is named with the bytes written as zeros.
    for (const host::ExtractItem &item : plan.items) {
        if (!item.damaged) continue;
        std::fprintf(stderr, "qorvex: %s: damaged; written with %" PRIu64 " missing byte(s) as zeros (%s)\n",
                     DisplayName(host::JoinComponents(item.target)).c_str(), host::MissingBytes(item.missing),
                     host::DescribeRanges(item.missing).c_str());
        failed = true;
    }
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

    std::vector<int32_t> kinds = {s.kind};
    if (s.requested == KIND_AUTO)
        for (int32_t k : kKindOrder)
            if (k != kinds[0]) kinds.push_back(k);

    const host::EngineApi &api = s.image.Api();
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
        int32_t result = ENGINE_NO_CURRENT_ENTRY;
        if (s.image.Seek(s.track, kind, true, static_cast<int32_t>(index))) {
            api.SetCallback(s.image.handle(), SinkCallback, &sink);
            result = api.ExtractCurrentModule(s.image.handle(), output == "-" ? nullptr : output.c_str());
            api.SetCallback(s.image.handle(), nullptr, nullptr);
        }
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
