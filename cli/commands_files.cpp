// ls, extract and extract-part.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "commands.h"
#include "image.h"
#include "output.h"
#include "safe_path.h"

namespace cli {

int32_t ParseKind(const std::string &text) {
    if (text == "auto") return KIND_AUTO;
    if (text == "iso" || text == "iso9660") return KIND_ISO9660;
    if (text == "joliet") return KIND_JOLIET;
    if (text == "udf") return KIND_UDF;
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
        std::fprintf(stderr, "qorvex: --fs takes auto, iso, joliet or udf\n");
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
std::string NormalPath(std::string path) {
    for (char &c : path)
        if (c == '/') c = '\\';
    std::string out = "\\";
    for (char c : path)
        if (!(c == '\\' && out.back() == '\\')) out += c;
    if (out.size() > 1 && out.back() == '\\') out.pop_back();
    if (size_t semicolon = out.rfind(';'); semicolon != std::string::npos && semicolon > out.rfind('\\')) {
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
                    ", \"directory\": %s, \"hidden\": %s}",
                    e.start, e.sectors, e.offset, e.extent_index, e.extent_count, e.attributes,
                    (e.attributes & 0x10) ? "true" : "false", (e.attributes & 0x02) ? "true" : "false");
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
}

// One output file: one entry, consecutive ISO 9660 / Joliet entries of one name (a file recorded in several
// extents), or a UDF file of several extents that the engine joins itself.
struct Group {
    std::vector<size_t> entries;
    bool engine_joins = false;
    uint64_t size = 0;
};

}  // namespace

int RunList(const Args &args) {
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const bool parts = args.Has("--system");
    const int32_t kind = s.image.ChooseKind(s.track, s.requested);
    std::vector<Entry> entries = s.image.List(s.track, kind, parts);
    if (args.Has("--json")) {
        PrintJson(entries);
        return kExitOk;
    }
    const bool long_form = args.Has("--long");
    if (long_form)
        std::printf("%14s  %-20s  %10s  %10s  %-7s  %s\n", "SIZE", "DATE (UTC)", "START", "SECTORS", "EXTENT", "NAME");
    for (const Entry &e : entries) {
        if (long_form) {
            std::string extent = std::to_string(e.extent_index) + "/" + std::to_string(e.extent_count);
            std::printf("%14" PRIu64 "  %-20s  %10" PRId32 "  %10" PRId32 "  %-7s  %s\n", e.size,
                        FormatDate(e.time).c_str(), e.start, e.sectors, extent.c_str(), DisplayName(e.name).c_str());
        } else {
            std::printf("%s\n", DisplayName(e.name).c_str());
        }
    }
    return kExitOk;
}

int RunExtract(const Args &args) {
    Selection s;
    if (int status = Select(args, &s); status != kExitOk) return status;
    const int32_t kind = s.image.ChooseKind(s.track, s.requested);
    const bool overwrite = args.Has("--overwrite");
    std::vector<Entry> entries = s.image.List(s.track, kind, false);

    std::vector<std::string> patterns;
    for (size_t i = 1; i < args.positional.size(); ++i) patterns.push_back(NormalPath(args.positional[i]));
    std::vector<bool> pattern_used(patterns.size(), false);

    // Plan the output files.
    std::vector<Group> groups;
    std::unordered_map<std::string, size_t> joined;  // UDF name -> its group
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        if (kind == KIND_UDF && e.extent_count > 1) {
            // Every extent comes with the engine's joined extraction of the first one met.
            auto [it, added] = joined.emplace(e.name, groups.size());
            if (added)
                groups.push_back({{i}, true, e.size});
            else
                groups[it->second].size += e.size;
        } else if (HasVersionSuffix(kind) && i > 0 && !groups.empty() && !groups.back().engine_joins &&
                   entries[groups.back().entries.back()].name == e.name && groups.back().entries.back() == i - 1) {
            groups.back().entries.push_back(i);
            groups.back().size += e.size;
        } else {
            groups.push_back({{i}, false, e.size});
        }
    }
    // UDF lists a file without allocation descriptors (an empty file) only among its system parts, as
    // "udf entry  " with its path; such files are made empty so that a whole extraction is complete.
    std::vector<std::string> empty_files;
    if (kind == KIND_UDF) {
        std::unordered_set<std::string> listed;
        for (const Entry &e : entries) listed.insert(e.name);
        const std::string prefix = "udf entry  ";
        for (const Entry &part : s.image.List(s.track, kind, true)) {
            if (part.name.compare(0, prefix.size(), prefix) != 0) continue;
            std::string path = part.name.substr(prefix.size());
            if (!path.empty() && path.back() != '\\' && !listed.count(path)) empty_files.push_back(path);
        }
    }
    std::vector<int> group_of(entries.size(), -1);
    uint64_t total = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        const std::string &name = entries[groups[g].entries[0]].name;
        bool selected = patterns.empty();
        if (!patterns.empty()) {
            std::string normal = NormalPath(name);
            for (size_t p = 0; p < patterns.size(); ++p)
                if (Matches(normal, patterns[p])) selected = true, pattern_used[p] = true;
        }
        if (!selected) continue;
        for (size_t i : groups[g].entries) group_of[i] = static_cast<int>(g);
        total += groups[g].size;
    }

    std::vector<std::string> selected_empty;
    for (const std::string &path : empty_files) {
        bool selected = patterns.empty();
        std::string normal = NormalPath(path);
        for (size_t p = 0; p < patterns.size(); ++p)
            if (Matches(normal, patterns[p])) selected = true, pattern_used[p] = true;
        if (selected) selected_empty.push_back(path);
    }

    bool failed = false;
    for (size_t p = 0; p < patterns.size(); ++p) {
        if (!pattern_used[p]) {
            std::fprintf(stderr, "qorvex: %s: not found in the %s file system\n",
                         DisplayName(args.positional[p + 1]).c_str(), KindName(kind));
            failed = true;
        }
    }

    Destination destination;
    std::string error;
    if (!destination.Open(args.Value("-o", "."), &error)) {
        std::fprintf(stderr, "qorvex: %s\n", error.c_str());
        return kExitFailed;
    }

    Progress progress(total);
    Sink sink;
    sink.progress = &progress;
    QorvexSetCallback(s.image.handle(), SinkCallback, &sink);
    Target target;
    bool skipping = false;  // the current group was refused or failed
    size_t refused = 0;
    auto fail = [&](const std::string &name, const std::string &why) {
        progress.Finish();
        std::fprintf(stderr, "qorvex: %s: %s\n", DisplayName(name).c_str(), why.c_str());
        failed = true;
    };

    s.image.Walk(s.track, kind, false, [&](size_t i) {
        if (group_of[i] < 0) return;
        const Group &group = groups[static_cast<size_t>(group_of[i])];
        const Entry &first = entries[group.entries[0]];
        if (i == group.entries.front()) {
            skipping = false;
            std::vector<std::string> components = TargetComponents(first.name, HasVersionSuffix(kind));
            CreateResult created = destination.Create(components, overwrite, &target, &error);
            if (created != CreateResult::kCreated) {
                std::string shown = components.empty() ? first.name : JoinComponents(components);
                if (created == CreateResult::kExists) ++refused;
                fail(shown, error);
                skipping = true;
                return;
            }
        }
        if (skipping) return;
        sink.fd = target.fd;
        int32_t result = QorvexExtractCurrentFile2(s.image.handle(), nullptr, group.engine_joins ? 0 : 1);
        sink.fd = -1;
        if (sink.write_error || result != 0) {
            std::string why = sink.write_error ? std::string("writing failed: ") + std::strerror(sink.write_error)
                                               : DescribeResult(result);
            sink.write_error = 0;
            DiscardTarget(&target);
            fail(first.name, why);
            skipping = true;
            return;
        }
        if (i == group.entries.back()) {
            if (!FinishTarget(&target, first.time, &error)) fail(first.name, error);
        }
    });
    QorvexSetCallback(s.image.handle(), nullptr, nullptr);
    progress.Finish();
    for (const std::string &path : selected_empty) {
        std::vector<std::string> components = TargetComponents(path, false);
        CreateResult created = destination.Create(components, overwrite, &target, &error);
        if (created == CreateResult::kCreated && FinishTarget(&target, 0, &error)) continue;
        if (created == CreateResult::kExists) ++refused;
        fail(components.empty() ? path : JoinComponents(components), error);
    }
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
