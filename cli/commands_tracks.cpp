// tracks, extract-track and info.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "disc_text.h"
#include "image.h"
#include "output.h"
#include "qorvex_ext.h"

// Optional: an engine without them shows no sheet details.
#pragma weak QorvexExGetTrackText
#pragma weak QorvexExGetTrackIndexes
#pragma weak QorvexExGetVolumeLabel

namespace cli {

int32_t ParseTrackNumber(const std::string &text) {
    if (text.empty() || text.size() > 4) return -1;
    int32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

namespace {

// The --fs word of a kind, as JSON output names file systems.
const char *FsWord(int32_t kind) {
    switch (kind) {
        case KIND_ISO9660: return "iso";
        case KIND_JOLIET: return "joliet";
        case KIND_UDF: return "udf";
        case KIND_ROCKRIDGE: return "rockridge";
        default: return "none";
    }
}

// What a disc sheet said about a track (or the disc, track -1): its text fields, indexes and files.
struct SheetDetails {
    bool sheet = false;
    std::vector<int32_t> indexes;
    std::vector<std::string> files;
    std::string title, performer, isrc;
};

std::string ExText(QorvexHandle h, int32_t track, int32_t field) {
    if (!QorvexExGetTrackText) return {};
    const int32_t n = QorvexExGetTrackText(h, track, field, nullptr, 0);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n) + 1, '\0');
    QorvexExGetTrackText(h, track, field, text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

SheetDetails GetSheetDetails(QorvexHandle h, int32_t track) {
    SheetDetails d;
    d.sheet = !ExText(h, -1, QORVEX_EX_TEXT_SHEET).empty();
    if (!d.sheet || !QorvexExGetTrackIndexes) return d;
    d.indexes.resize(100);
    const int32_t n = QorvexExGetTrackIndexes(h, track, d.indexes.data(), 100);
    d.indexes.resize(static_cast<size_t>(std::clamp(n, 0, 100)));
    for (int32_t i = 0; i < 256; ++i) {
        std::string name = ExText(h, track, QORVEX_EX_TEXT_FILE + i);
        if (name.empty()) break;
        d.files.push_back(std::move(name));
    }
    d.title = ExText(h, track, QORVEX_EX_TEXT_TITLE);
    d.performer = ExText(h, track, QORVEX_EX_TEXT_PERFORMER);
    d.isrc = ExText(h, track, QORVEX_EX_TEXT_ISRC);
    return d;
}

// What a sheet (or its CD-TEXT) says of the whole disc: title, performer, media catalogue number.
struct DiscText {
    std::string title, performer, catalog;
    bool Empty() const { return title.empty() && performer.empty() && catalog.empty(); }
};

// The disc's text; what the sheet's reader had to guess goes to standard error at once.
DiscText GetDiscText(QorvexHandle h) {
    const std::string warning = ExText(h, -1, QORVEX_EX_TEXT_WARNING);
    if (!warning.empty()) std::fprintf(stderr, "qorvex: warning: %s\n", DisplayName(warning).c_str());
    return {ExText(h, -1, QORVEX_EX_TEXT_TITLE), ExText(h, -1, QORVEX_EX_TEXT_PERFORMER),
            ExText(h, -1, QORVEX_EX_TEXT_CATALOG)};
}

// "Disc: title "...", performer "...", catalog N" for the text listings; nothing when the disc says nothing.
void PrintDiscText(const DiscText &disc) {
    if (disc.Empty()) return;
    std::string line = "Disc:";
    if (!disc.title.empty()) line += " title \"" + DisplayName(disc.title) + "\",";
    if (!disc.performer.empty()) line += " performer \"" + DisplayName(disc.performer) + "\",";
    if (!disc.catalog.empty()) line += " catalog " + DisplayName(disc.catalog) + ",";
    line.pop_back();
    std::printf("%s\n", line.c_str());
}

// The same as members of each JSON object ("disc_title", "disc_performer", "catalog").
std::string DiscJson(const DiscText &disc) {
    std::string out;
    if (!disc.title.empty()) out += ", \"disc_title\": " + JsonString(disc.title.c_str(), nullptr);
    if (!disc.performer.empty()) out += ", \"disc_performer\": " + JsonString(disc.performer.c_str(), nullptr);
    if (!disc.catalog.empty()) out += ", \"catalog\": " + JsonString(disc.catalog.c_str(), nullptr);
    return out;
}

// One object of "tracks --json"; positions and lengths in sectors.
void PrintTrackJson(const TrackInfo &info, const SheetDetails &sheet, const DiscText &disc, bool first) {
    std::printf("%s\n  {\"session\": %u, \"track\": %u, \"format\": \"%s\", \"format_code\": %" PRId32
                ", \"first_held\": %" PRId32 ", \"start\": %" PRId32 ", \"end_held\": %" PRId32 ", \"length\": %" PRId64
                ", \"user_size\": %" PRId32,
                first ? "" : ",", info.session, info.track, host::FormatName(info.format), info.format, info.first_held,
                info.start, info.end_held, static_cast<int64_t>(info.end_held) - info.start, info.user_size);
    if (sheet.sheet) {
        std::printf(", \"indexes\": [");
        for (size_t i = 0; i < sheet.indexes.size(); ++i) std::printf("%s%" PRId32, i ? ", " : "", sheet.indexes[i]);
        std::printf("], \"files\": [");
        for (size_t i = 0; i < sheet.files.size(); ++i)
            std::printf("%s%s", i ? ", " : "", JsonString(sheet.files[i].c_str(), nullptr).c_str());
        std::printf("]");
        if (!sheet.title.empty()) std::printf(", \"title\": %s", JsonString(sheet.title.c_str(), nullptr).c_str());
        if (!sheet.performer.empty())
            std::printf(", \"performer\": %s", JsonString(sheet.performer.c_str(), nullptr).c_str());
        if (!sheet.isrc.empty()) std::printf(", \"isrc\": %s", JsonString(sheet.isrc.c_str(), nullptr).c_str());
    }
    std::printf("%s}", DiscJson(disc).c_str());
}

// A file system's label, also of a volume without files (which the described information leaves empty).
std::string VolumeLabel(QorvexHandle h, int32_t track, int32_t kind) {
    if (QorvexExGetVolumeLabel) {
        const int32_t n = QorvexExGetVolumeLabel(h, track, kind, nullptr, 0);
        std::string label(static_cast<size_t>(std::max(n, 0)) + 1, '\0');
        if (n > 0) QorvexExGetVolumeLabel(h, track, kind, label.data(), n + 1);
        label.resize(static_cast<size_t>(std::max(n, 0)));
        return label;
    }
    char label[33] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    QorvexGetImageInformation(h, track, kind, label, &sectors, &bytes);
    return label;
}

// A label as JSON members: "label", and "label_hex" with the raw bytes when they are not UTF-8.
std::string LabelJson(const char *label) {
    bool lossy = false;
    std::string out = "\"label\": " + JsonString(label, &lossy);
    if (lossy) out += ", \"label_hex\": \"" + HexBytes(label) + "\"";
    return out;
}

}  // namespace

int RunTracks(const Args &args) {
    Image image;
    if (!image.Open(args.positional[0], args.open_options)) return kExitFailed;
    const bool json = args.Has("--json");
    // A sheet's tracks show index 00 (the pregap start, whether the files hold it or not) and their files too.
    const bool sheet = GetSheetDetails(image.handle(), 0).sheet;
    const DiscText disc = GetDiscText(image.handle());
    if (!json) PrintDiscText(disc);
    if (json)
        std::printf("[");
    else if (sheet)
        std::printf("%-7s %-5s %-16s %9s %9s %9s %9s  %s\n", "SESSION", "TRACK", "TYPE", "PRE", "START", "LENGTH",
                    "INDEX00", "FILE");
    else
        std::printf("%-7s %-5s %-16s %9s %9s %9s\n", "SESSION", "TRACK", "TYPE", "PRE", "START", "LENGTH");
    for (int32_t t = 0; t < image.TrackCount(); ++t) {
        TrackInfo info{};
        if (int32_t r = QorvexGetTrackInfo(image.handle(), t, &info); r != 0) {
            if (json) std::printf("\n]\n");
            ReportEngineError("track " + std::to_string(t + 1), r);
            return kExitFailed;
        }
        const SheetDetails details = GetSheetDetails(image.handle(), t);
        if (json) {
            PrintTrackJson(info, details, disc, t == 0);
            continue;
        }
        std::printf("%7u %5u %-16s %9s %9s %9s", info.session, info.track, host::FormatName(info.format),
                    host::SectorTime(info.first_held).c_str(), host::SectorTime(info.start).c_str(),
                    host::SectorTime(static_cast<int64_t>(info.end_held) - info.start).c_str());
        if (sheet) {
            std::string files;
            for (const std::string &f : details.files) files += (files.empty() ? "" : ", ") + f;
            std::printf(" %9s  %s", details.indexes.empty() ? "" : host::SectorTime(details.indexes[0]).c_str(),
                        files.c_str());
        }
        std::printf("\n");
    }
    if (json) std::printf("%s]\n", image.TrackCount() ? "\n" : "");
    return kExitOk;
}

int RunExtractTrack(const Args &args) {
    const std::string output = args.Value("-o");
    if (output.empty()) {
        std::fprintf(stderr, "qorvex: extract-track needs -o FILE\n");
        return kExitUsage;
    }
    int32_t number = ParseTrackNumber(args.positional[1]);
    if (number < 0) {
        std::fprintf(stderr, "qorvex: \"%s\" is not a track number\n", args.positional[1].c_str());
        return kExitUsage;
    }
    Image image;
    if (!image.Open(args.positional[0], args.open_options)) return kExitFailed;
    if (number < 1 || number > image.TrackCount()) {
        std::fprintf(stderr, "qorvex: there is no track %d (the image has %d)\n", number, image.TrackCount());
        return kExitFailed;
    }
    const int32_t track = number - 1;
    uint32_t flags = 0;
    if (args.Has("--raw")) flags |= TRACK_RAW;
    if (args.Has("--wav")) flags |= TRACK_WAV | TRACK_RAW;
    if (args.Has("--pregap")) flags |= TRACK_PREGAP | TRACK_RAW;

    TrackInfo info{};
    QorvexGetTrackInfo(image.handle(), track, &info);
    // Only for the progress line: raw sectors are at most 2352 bytes.
    int32_t first = (flags & TRACK_PREGAP) ? info.first_held : info.start;
    uint64_t total = static_cast<uint64_t>(info.end_held > first ? info.end_held - first : 0) *
                     static_cast<uint64_t>((flags & TRACK_RAW) || info.user_size == 0 ? 2352 : info.user_size);

    Progress progress(output == "-" ? 0 : total);
    Sink sink;
    sink.progress = output == "-" ? nullptr : &progress;
    if (output == "-") sink.fd = STDOUT_FILENO;
    // Without a progress line the engine writes the file alone, in runs rather than sector by sector.
    const bool watched = output == "-" || progress.Shown();
    if (watched) QorvexSetCallback(image.handle(), SinkCallback, &sink);
    const UnfinishedOutput unfinished(output);
    int32_t result = QorvexExtractTrack(image.handle(), track, output == "-" ? nullptr : output.c_str(), flags);
    if (watched) QorvexSetCallback(image.handle(), nullptr, nullptr);
    progress.Finish();
    if (sink.write_error) {
        std::fprintf(stderr, "qorvex: writing %s failed: %s\n", output.c_str(), std::strerror(sink.write_error));
        return kExitFailed;
    }
    if (result != 0) {
        unfinished.Remove();
        ReportEngineError("extracting track " + std::to_string(number) + " to " + output, result);
        return kExitFailed;
    }
    return kExitOk;
}

namespace {
// What an open of a cut or damaged image salvaged on a track: its real end against the recorded one, the
// incomplete last sector, and each structure that failed with the fallback used.
void PrintSalvage(const QorvexExSalvage &s, bool json) {
    std::vector<std::string> lines;
    for (std::string_view text = s.notes; !text.empty();) {
        const size_t end = text.find('\n');
        if (end != 0) lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    if (json) {
        std::printf(", \"salvaged\": {\"held_end\": %" PRId64 ", \"recorded_end\": %" PRId64
                    ", \"part_bytes\": %" PRId64 ", \"failed\": %" PRId32 ", \"notes\": [",
                    s.held_end, s.recorded_end, s.part_bytes, s.failed);
        for (size_t i = 0; i < lines.size(); ++i) std::printf("%s%s", i ? ", " : "", JsonString(lines[i]).c_str());
        std::printf("]}");
        return;
    }
    std::printf("  salvaged:");
    if (s.flags & QORVEX_EX_SALVAGE_CUT)
        std::printf(" the image ends at sector %" PRId64 " of the %" PRId64 " its volume records (%" PRId64 " missing)",
                    s.held_end, s.recorded_end, s.recorded_end - s.held_end);
    else
        std::printf(" the image holds sectors up to %" PRId64, s.held_end);
    if (s.flags & QORVEX_EX_SALVAGE_PART) std::printf("; an incomplete last sector of %" PRId64 " bytes", s.part_bytes);
    std::printf("\n");
    for (const std::string &line : lines) std::printf("    %s\n", DisplayName(line).c_str());
}
}  // namespace

int RunInfo(const Args &args) {
    Image image;
    if (!image.Open(args.positional[0], args.open_options)) return kExitFailed;
    const bool json = args.Has("--json");
    const DiscText disc = GetDiscText(image.handle());
    if (json)
        std::printf("[");
    else
        PrintDiscText(disc);
    // The sheet or container the tracks were read from (cue, nrg, ecm, isz, ...); a plain image names none.
    if (const std::string container = ExText(image.handle(), -1, QORVEX_EX_TEXT_SHEET); !json && !container.empty())
        std::printf("Image: %s\n", container.c_str());
    for (int32_t t = 0; t < image.TrackCount(); ++t) {
        TrackInfo track{};
        QorvexGetTrackInfo(image.handle(), t, &track);
        char label[33] = {};
        int32_t sectors = 0;
        int64_t bytes = 0;
        int32_t preferred = QorvexGetImageInformation(image.handle(), t, KIND_AUTO, label, &sectors, &bytes);
        // With the extensions read, the kind ls and extract take by default (Rock Ridge first).
        if (preferred != 0 && (args.open_options & OPEN_EXTENSIONS)) preferred = image.ChooseKind(t, KIND_AUTO);
        if (json)
            std::printf("%s\n  {\"track\": %u, \"session\": %u, \"format\": \"%s\", \"sectors\": %" PRId32
                        ", \"bytes\": %" PRId64 ", \"default_fs\": \"%s\", \"file_systems\": [",
                        t ? "," : "", track.track, track.session, host::FormatName(track.format), sectors, bytes,
                        FsWord(preferred));
        else
            std::printf("Track %u (session %u): %s, %" PRId32 " sectors, %" PRId64 " bytes\n", track.track,
                        track.session, host::FormatName(track.format), sectors, bytes);
        bool any = false;
        for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF, KIND_ROCKRIDGE}) {
            int32_t files = QorvexGetFileCount(image.handle(), t, kind);
            int32_t parts = image.PartCount(t, kind);
            if (files == 0 && parts == 0) continue;
            const std::string kind_label = VolumeLabel(image.handle(), t, kind);
            if (json)
                std::printf("%s{\"fs\": \"%s\", %s, \"files\": %" PRId32 ", \"system_parts\": %" PRId32 "}",
                            any ? ", " : "", FsWord(kind), LabelJson(kind_label.c_str()).c_str(), files, parts);
            else
                std::printf("  %-9s label \"%s\", %" PRId32 " files, %" PRId32 " system parts%s\n", KindName(kind),
                            DisplayName(kind_label.c_str()).c_str(), files, parts,
                            kind == preferred ? " (shown by default)" : "");
            any = true;
        }
        if (json)
            std::printf("]%s", DiscJson(disc).c_str());
        else if (!any)
            std::printf("  no file system\n");
        if (QorvexExSalvage salvage; image.Salvaged(t, &salvage)) PrintSalvage(salvage, json);
        if (json) std::printf("}");
    }
    if (json) std::printf("%s]\n", image.TrackCount() ? "\n" : "");
    return kExitOk;
}

}  // namespace cli
