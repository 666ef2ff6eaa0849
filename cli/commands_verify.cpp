// verify, repair and hash: every stored sector checked (and corrected from its parity), the tracks hashed as a
// redump-style split and matched against a DAT.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "dat_match.h"
#include "disc_text.h"
#include "disc_verify.h"
#include "image.h"
#include "output.h"
#include "qorvex_ext.h"

#ifdef _WIN32
#include <direct.h>
// No symbolic links to keep apart from files here.
#define lstat stat
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif

namespace cli {

namespace {

host::RawAccess Access(const Image &image) {
    host::RawAccess access;
    access.handle = image.handle();
    access.track_count = QorvexGetTrackCount;
    access.track_info = QorvexGetTrackInfo;
    access.raw_size = QorvexExGetRawSectorSize;
    access.read_raw = QorvexExReadRawSectors;
    return access;
}

// The progress line of a scan, in bytes of stored sectors.
struct ScanProgress {
    std::unique_ptr<Progress> line;
    int64_t last = 0;
    int32_t stored = 2352;

    std::function<bool(int64_t, int64_t)> Callback() {
        return [this](int64_t done, int64_t total) {
            if (!line) line = std::make_unique<Progress>(static_cast<uint64_t>(total) * stored);
            line->Advance(static_cast<uint64_t>(done - last) * stored);
            last = done;
            return true;
        };
    }
    void Finish() {
        if (line) line->Finish();
    }
};

// Runs the scan, reporting a refusal of the engine; false when none could be made.
bool Scan(const Image &image, host::ScanOptions options, host::DiscScan *scan) {
    ScanProgress progress;
    options.progress = progress.Callback();
    *scan = host::ScanDisc(Access(image), options);
    progress.Finish();
    if (!scan->error.empty()) {
        std::fprintf(stderr, "qorvex: %s\n", scan->error.c_str());
        return false;
    }
    return true;
}

std::string Range(const host::DamagedRange &r) {
    return r.first == r.last ? std::to_string(r.first) : std::to_string(r.first) + "-" + std::to_string(r.last);
}

std::string RangeNote(const host::DamagedRange &r) {
    if (r.unreadable) return "not in the image files";
    return host::FaultNames(r.faults) + (r.correctable ? " (correctable)" : "");
}

void PrintVerifyText(const host::DiscScan &scan) {
    std::printf("%5s %-16s %9s %9s %7s %7s %11s %7s %10s %10s\n", "TRACK", "TYPE", "SECTORS", "GOOD", "EDC", "ECC",
                "CORRECTABLE", "ADDRESS", "SUBCHANNEL", "UNREADABLE");
    for (const host::TrackScan &t : scan.tracks) {
        std::printf("%5u %-16s %9" PRId64 " %9" PRId64 " %7" PRId64 " %7" PRId64 " %11" PRId64 " %7" PRId64
                    " %10" PRId64 " %10" PRId64 "\n",
                    t.info.track, host::FormatName(t.info.format), t.sectors, t.good, t.edc, t.ecc, t.correctable,
                    t.address, t.subchannel, t.unreadable);
        if (!t.checked)
            std::printf(
                "      %s: no sync, header, EDC or subchannel to check; only read\n",
                t.stored_size == 2048 || t.stored_size == 2324 || t.info.format == 0 ? "these sectors" : "this track");
        for (const host::DamagedRange &r : t.damaged)
            std::printf("      sectors %s: %s\n", Range(r).c_str(), RangeNote(r).c_str());
        if (t.more_ranges) std::printf("      ... and %" PRId64 " more damaged sectors\n", t.more_ranges);
    }
    std::printf("%s\n", scan.Good() ? "All sectors are good." : "Damaged sectors found.");
}

void PrintVerifyJson(const host::DiscScan &scan) {
    std::printf("{\"good\": %s, \"tracks\": [", scan.Good() ? "true" : "false");
    for (size_t i = 0; i < scan.tracks.size(); ++i) {
        const host::TrackScan &t = scan.tracks[i];
        std::printf("%s\n  {\"track\": %u, \"session\": %u, \"format\": \"%s\", \"checked\": %s, \"sectors\": %" PRId64
                    ", \"good\": %" PRId64 ", \"sync_errors\": %" PRId64 ", \"mode_errors\": %" PRId64
                    ", \"address_errors\": %" PRId64 ", \"edc_errors\": %" PRId64 ", \"ecc_errors\": %" PRId64
                    ", \"correctable\": %" PRId64 ", \"subchannel_errors\": %" PRId64 ", \"unreadable\": %" PRId64
                    ", \"damaged\": [",
                    i ? "," : "", t.info.track, t.info.session, host::FormatName(t.info.format),
                    t.checked ? "true" : "false", t.sectors, t.good, t.sync, t.mode, t.address, t.edc, t.ecc,
                    t.correctable, t.subchannel, t.unreadable);
        for (size_t k = 0; k < t.damaged.size(); ++k) {
            const host::DamagedRange &r = t.damaged[k];
            std::printf("%s{\"first\": %" PRId32 ", \"last\": %" PRId32
                        ", \"faults\": %s, \"correctable\": %s, "
                        "\"unreadable\": %s}",
                        k ? ", " : "", r.first, r.last, JsonString(host::FaultNames(r.faults)).c_str(),
                        r.correctable ? "true" : "false", r.unreadable ? "true" : "false");
        }
        std::printf("]}");
    }
    std::printf("%s]}\n", scan.tracks.empty() ? "" : "\n");
}

// A 1-based --track value as the engine's 0-based index; -1 for every track, -2 for a bad value.
int32_t TrackOption(const Args &args, const Image &image) {
    const std::string text = args.Value("--track");
    if (text.empty()) return -1;
    const int32_t n = ParseTrackNumber(text);
    if (n < 1 || n > image.TrackCount()) {
        std::fprintf(stderr, "qorvex: there is no track %s (the image has %d)\n", text.c_str(), image.TrackCount());
        return -2;
    }
    return n - 1;
}

// ---- repair ----

// The files the tracks' sectors lie in, in the order the tracks use them.
std::vector<std::string> DataFiles(const Image &image) {
    std::vector<std::string> files;
    for (int32_t t = 0; t < image.TrackCount(); ++t) {
        TrackInfo info{};
        if (QorvexGetTrackInfo(image.handle(), t, &info) != 0 || info.end_held <= info.first_held) continue;
        for (int32_t sector : {info.first_held, info.end_held - 1}) {
            const int32_t n = QorvexExGetSectorPlace(image.handle(), t, sector, nullptr, 0, nullptr);
            if (n <= 0) continue;
            std::string path(static_cast<size_t>(n) + 1, '\0');
            QorvexExGetSectorPlace(image.handle(), t, sector, path.data(), n + 1, nullptr);
            path.resize(static_cast<size_t>(n));
            if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
        }
    }
    return files;
}

std::string BaseName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int MakeFolder(const std::string &path) {
#ifdef _WIN32
    return _mkdir(path.c_str());
#else
    return mkdir(path.c_str(), 0777);
#endif
}

bool SameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes `output` anew (never through a link, never over anything) with the bytes of `input`.
int CopyToNew(const std::string &input, const std::string &output, const std::vector<std::string> &inputs) {
    struct stat out_st {};
    if (lstat(output.c_str(), &out_st) == 0) {
        for (const std::string &path : inputs) {
            struct stat in_st {};
            if (stat(path.c_str(), &in_st) == 0 && SameFile(in_st, out_st)) {
                std::fprintf(stderr, "qorvex: %s is the image itself: repair never writes over its input\n",
                             output.c_str());
                return -1;
            }
        }
        if (stat(output.c_str(), &out_st) == 0)
            for (const std::string &path : inputs) {
                struct stat in_st {};
                if (stat(path.c_str(), &in_st) == 0 && SameFile(in_st, out_st)) {
                    std::fprintf(stderr, "qorvex: %s leads to the image itself: repair never writes over its input\n",
                                 output.c_str());
                    return -1;
                }
            }
        std::fprintf(stderr, "qorvex: %s exists: repair writes a new file only\n", output.c_str());
        return -1;
    }
    const int in = open(input.c_str(), O_RDONLY | O_BINARY);
    if (in < 0) {
        std::fprintf(stderr, "qorvex: %s: %s\n", input.c_str(), std::strerror(errno));
        return -1;
    }
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_BINARY, 0644);
    if (out < 0) {
        std::fprintf(stderr, "qorvex: cannot create %s: %s\n", output.c_str(), std::strerror(errno));
        close(in);
        return -1;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got == 0) break;
        ssize_t put = got > 0 ? write(out, buffer.data(), static_cast<size_t>(got)) : -1;
        if (got < 0 || put != got) {
            std::fprintf(stderr, "qorvex: copying %s to %s: %s\n", input.c_str(), output.c_str(),
                         std::strerror(errno ? errno : EIO));
            close(in);
            close(out);
            unlink(output.c_str());
            return -1;
        }
    }
    close(in);
    return out;
}

}  // namespace

int RunVerify(const Args &args) {
    Image image;
    if (!image.Open(args.positional[0], args.open_options)) return kExitFailed;
    host::ScanOptions options;
    options.only_track = TrackOption(args, image);
    if (options.only_track == -2) return kExitFailed;
    host::DiscScan scan;
    if (!Scan(image, options, &scan)) return kExitFailed;
    if (args.Has("--json"))
        PrintVerifyJson(scan);
    else
        PrintVerifyText(scan);
    return scan.Good() ? kExitOk : kExitFailed;
}

int RunRepair(const Args &args) {
    const std::string output = args.Value("-o");
    if (output.empty()) {
        std::fprintf(stderr, "qorvex: repair needs -o FILE\n");
        return kExitUsage;
    }
    Image image;
    if (!image.Open(args.positional[0], args.open_options)) return kExitFailed;
    const std::vector<std::string> files = DataFiles(image);
    if (files.empty()) {
        std::fprintf(stderr, "qorvex: the image holds no sectors\n");
        return kExitFailed;
    }
    std::vector<std::string> inputs = files;
    inputs.push_back(args.positional[0]);

    // One file: OUT is its corrected copy. Several (a sheet naming a file per track): OUT is a new folder with
    // a copy of each and of the sheet.
    std::vector<std::pair<std::string, int>> copies;  // input path, descriptor of its copy
    std::vector<std::string> made;
    const auto undo = [&] {
        for (auto &[path, fd] : copies) close(fd);
        for (auto it = made.rbegin(); it != made.rend(); ++it) remove(it->c_str());
    };
    struct stat st {};
    if (files.size() > 1) {
        const bool exists = lstat(output.c_str(), &st) == 0;
        if (exists || MakeFolder(output) != 0) {
            std::fprintf(stderr, "qorvex: %s: %s; repair of an image in several files makes a new folder\n",
                         output.c_str(), exists ? "exists" : std::strerror(errno));
            return kExitFailed;
        }
        made.push_back(output);
    }
    std::vector<std::string> sources = files;
    if (files.size() > 1 && std::find(files.begin(), files.end(), args.positional[0]) == files.end())
        sources.push_back(args.positional[0]);
    for (const std::string &source : sources) {
        const std::string target = files.size() > 1 ? output + "/" + BaseName(source) : output;
        const int fd = CopyToNew(source, target, inputs);
        if (fd < 0) {
            undo();
            return kExitFailed;
        }
        made.push_back(target);
        copies.emplace_back(source, fd);
    }

    // The copies are made; each corrected sector is written over its place in its copy.
    host::ScanOptions options;
    options.repair = true;
    int write_error = 0;
    options.corrected = [&](int32_t track, int32_t sector, const uint8_t *bytes, int32_t size) {
        char path[4096];
        int64_t offset = 0;
        const int32_t n = QorvexExGetSectorPlace(image.handle(), track, sector, path, sizeof path, &offset);
        const auto copy = std::find_if(copies.begin(), copies.end(), [&](const auto &c) { return c.first == path; });
        // The 2352 bytes parity covers; subchannel bytes stay as they were.
        const size_t length = static_cast<size_t>(std::min(size, 2352));
        if (n <= 0 || copy == copies.end() || lseek(copy->second, static_cast<off_t>(offset), SEEK_SET) < 0 ||
            write(copy->second, bytes, length) != static_cast<ssize_t>(length)) {
            write_error = errno ? errno : EIO;
            return false;
        }
        return true;
    };
    host::DiscScan scan;
    const bool scanned = Scan(image, options, &scan);
    bool closed = true;
    for (auto &[path, fd] : copies) closed = close(fd) == 0 && closed;
    copies.clear();
    if (!scanned || write_error || !closed) {
        if (write_error || !closed)
            std::fprintf(stderr, "qorvex: writing %s: %s\n", output.c_str(),
                         std::strerror(write_error ? write_error : errno));
        undo();
        return kExitFailed;
    }
    int64_t corrected = 0, left = 0;
    for (const host::TrackScan &t : scan.tracks) {
        corrected += t.corrected;
        for (const host::DamagedRange &r : t.damaged)
            std::printf("track %u sectors %s: %s%s\n", t.info.track, Range(r).c_str(),
                        r.unreadable ? "not in the image files" : host::FaultNames(r.faults).c_str(),
                        r.correctable ? ": corrected" : ": not correctable");
        left += t.sectors - t.good - t.corrected;
    }
    std::printf("%" PRId64 " sectors corrected, %" PRId64 " not correctable; wrote %s\n", corrected, left,
                output.c_str());
    return left == 0 ? kExitOk : kExitFailed;
}

int RunHash(const Args &args) {
    Image image;
    if (!image.Open(args.positional[0], args.open_options)) return kExitFailed;
    host::Dat dat;
    const std::string dat_path = args.Value("--dat");
    if (!dat_path.empty()) {
        std::ifstream in(dat_path, std::ios::binary);
        std::ostringstream text;
        if (!in || !(text << in.rdbuf())) {
            std::fprintf(stderr, "qorvex: cannot read %s\n", dat_path.c_str());
            return kExitFailed;
        }
        std::string error;
        if (!host::ParseDat(text.str(), &dat, &error)) {
            std::fprintf(stderr, "qorvex: %s: %s\n", dat_path.c_str(), error.c_str());
            return kExitFailed;
        }
    }
    host::ScanOptions options;
    options.check = false;
    options.hash = true;
    host::DiscScan scan;
    if (!Scan(image, options, &scan)) return kExitFailed;
    bool readable = true;
    std::vector<host::DiscHash> hashes;
    for (const host::TrackScan &t : scan.tracks) {
        hashes.push_back(t.hash);
        readable &= t.unreadable == 0;
    }
    const bool json = args.Has("--json");
    host::DatMatch match;
    if (!dat_path.empty()) match = host::MatchDat(dat, hashes);
    const auto hash_json = [](const host::DiscHash &h) {
        return "\"size\": " + std::to_string(h.size) + ", \"crc32\": \"" + h.crc32 + "\", \"md5\": \"" + h.md5 +
               "\", \"sha1\": \"" + h.sha1 + "\"";
    };
    if (json) {
        std::printf("{\"tracks\": [");
        for (size_t i = 0; i < scan.tracks.size(); ++i) {
            const host::TrackScan &t = scan.tracks[i];
            std::printf("%s\n  {\"track\": %u, \"format\": \"%s\", %s", i ? "," : "", t.info.track,
                        host::FormatName(t.info.format), hash_json(t.hash).c_str());
            if (!dat_path.empty()) {
                const host::TrackMatch &m = match.tracks[i];
                std::printf(", \"dat\": {\"match\": %s", m.exact ? "true" : "false");
                if (m.rom)
                    std::printf(", \"game\": %s, \"rom\": %s", JsonString(m.game->name).c_str(),
                                JsonString(m.rom->name).c_str());
                std::printf("}");
            }
            std::printf("}");
        }
        std::printf("%s], \"image\": {%s}", scan.tracks.empty() ? "" : "\n", hash_json(scan.whole).c_str());
        if (!dat_path.empty())
            std::printf(", \"dat\": {\"name\": %s, \"match\": %s}", JsonString(dat.name).c_str(),
                        match.game ? JsonString(match.game->name).c_str() : "null");
        std::printf("}\n");
    } else {
        for (const host::TrackScan &t : scan.tracks)
            std::printf("Track %02u  %-16s size %-12" PRIu64 " crc32 %s  md5 %s  sha1 %s\n", t.info.track,
                        host::FormatName(t.info.format), t.hash.size, t.hash.crc32.c_str(), t.hash.md5.c_str(),
                        t.hash.sha1.c_str());
        std::printf("Image     %-16s size %-12" PRIu64 " crc32 %s  md5 %s  sha1 %s\n", "", scan.whole.size,
                    scan.whole.crc32.c_str(), scan.whole.md5.c_str(), scan.whole.sha1.c_str());
        if (!dat_path.empty()) {
            if (match.game) {
                std::printf("DAT match: %s\n", DisplayName(match.game->name).c_str());
            } else {
                std::printf("No entry of the DAT matches every track.\n");
                for (size_t i = 0; i < scan.tracks.size(); ++i) {
                    const host::TrackMatch &m = match.tracks[i];
                    if (!m.rom)
                        std::printf("  track %02u: no entry near it\n", scan.tracks[i].info.track);
                    else if (m.exact)
                        std::printf("  track %02u: matches %s (%s)\n", scan.tracks[i].info.track,
                                    DisplayName(m.rom->name).c_str(), DisplayName(m.game->name).c_str());
                    else
                        std::printf("  track %02u: does not match; nearest %s (%s), size %" PRIu64
                                    ", crc32 %s, md5 %s, sha1 %s\n",
                                    scan.tracks[i].info.track, DisplayName(m.rom->name).c_str(),
                                    DisplayName(m.game->name).c_str(), m.rom->size, m.rom->crc32.c_str(),
                                    m.rom->md5.c_str(), m.rom->sha1.c_str());
                }
            }
        }
    }
    if (!readable) std::fprintf(stderr, "qorvex: the image files end before the last sector\n");
    return readable && (dat_path.empty() || match.game) ? kExitOk : kExitFailed;
}

}  // namespace cli
