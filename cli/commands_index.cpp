// index: an inventory of many images, one JSON line (or DFXML block) per image, built on several threads.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "digest.h"
#include "disc_text.h"
#include "disc_verify.h"
#include "extent_groups.h"
#include "image.h"
#include "output.h"
#include "qorvex_ext.h"
#include "xml_text.h"

namespace cli {
namespace {

#ifdef _WIN32
// No links to leave alone, no descriptors children could inherit; the lines' bytes as they are.
#define lstat stat
constexpr int kOutputFlags = O_BINARY;
int64_t ModifiedNs(const struct stat &st) {
    return static_cast<int64_t>(st.st_mtime) * 1000000000;
}
#else
constexpr int kOutputFlags = O_CLOEXEC;
int64_t ModifiedNs(const struct stat &st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
#endif

// What one image's stat says; the resume key.
struct Stamp {
    bool ok = false;
    int error = 0;
    uint64_t size = 0;
    int64_t mtime_ns = 0;
};

Stamp StatImage(const std::string &path) {
    struct stat st {};
    Stamp s;
    if (stat(path.c_str(), &st) != 0) {
        s.error = errno;
        return s;
    }
    if (!S_ISREG(st.st_mode)) return s;  // a folder link, device or FIFO: nothing to open (a FIFO would block)
    s.ok = true;
    s.size = static_cast<uint64_t>(st.st_size);
    s.mtime_ns = ModifiedNs(st);
    return s;
}

// Folders are walked for their regular files, names in byte order; links to folders are not entered (no loops).
void Collect(const std::string &path, bool top, std::vector<std::string> *out) {
    struct stat st {};
    const bool is_dir = (top ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) == 0 && S_ISDIR(st.st_mode);
    if (!is_dir) {
        if (top || S_ISREG(st.st_mode)) out->push_back(path);
        return;
    }
    DIR *dir = opendir(path.c_str());
    if (!dir) {
        out->push_back(path);  // its line tells why
        return;
    }
    std::vector<std::string> names;
    while (dirent *d = readdir(dir))
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) names.emplace_back(d->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    const std::string prefix = path.back() == '/' ? path : path + "/";
    for (const std::string &name : names) Collect(prefix + name, false, out);
}

const char *TypeWord(uint32_t type) {
    switch (type) {
        case QORVEX_EX_TYPE_FILE: return "file";
        case QORVEX_EX_TYPE_FOLDER: return "folder";
        case QORVEX_EX_TYPE_SYMLINK: return "link";
        case QORVEX_EX_TYPE_SPECIAL: return "special";
        default: return "other";
    }
}

// One file as the index records it: the records of a file kept in several extents joined, its size theirs
// together.
struct IndexedEntry {
    Entry entry;  // its first record
    std::string hash;
    int32_t error = 0;  // of reading its bytes
    bool damaged = false;
    std::vector<QorvexExRange> missing;  // the bytes of the joined file the image lacks
};

struct IndexedFs {
    int32_t kind = 0;
    std::string label;
    std::vector<IndexedEntry> entries;
};

struct IndexedTrack {
    TrackInfo info{};
    bool salvaged = false;
    QorvexExSalvage salvage{};
    std::vector<IndexedFs> file_systems;
};

// What a scan of every stored sector found (--verify), the tracks together.
struct VerifySummary {
    bool done = false;
    std::string error;  // a track the engine would not scan
    bool checked = false;
    int64_t sectors = 0, good = 0, edc = 0, address = 0, unreadable = 0;
};

struct IndexedImage {
    std::string path;
    Stamp stamp;
    int32_t code = 0;    // the engine's, when it failed
    std::string reason;  // why the image has no listing
    std::string container;
    std::vector<IndexedTrack> tracks;
    VerifySummary verify;
};

std::string ContainerOf(const host::Disc &disc) {
    const host::EngineApi &api = disc.Api();
    if (!api.ExGetTrackText) return "plain";
    char text[64] = {};
    return api.ExGetTrackText(disc.handle(), -1, QORVEX_EX_TEXT_SHEET, text, sizeof text) > 0 ? text : "plain";
}

// Every missing range of file `index` (of the joined file with QORVEX_EX_COPY_JOINED).
std::vector<QorvexExRange> MissingRanges(const host::Disc &disc, int32_t track, int32_t kind, int32_t index,
                                         uint32_t flags) {
    const host::EngineApi &api = disc.Api();
    std::vector<QorvexExRange> ranges;
    if (!api.ExGetDamage) return ranges;
    const int32_t n = api.ExGetDamage(disc.handle(), track, kind, index, flags, nullptr, 0);
    if (n <= 0) return ranges;
    ranges.resize(static_cast<size_t>(n));
    const int32_t got = api.ExGetDamage(disc.handle(), track, kind, index, flags, ranges.data(), n);
    ranges.resize(static_cast<size_t>(std::clamp(got, 0, n)));
    return ranges;
}

// Feeds the bytes of file `index` (the joined file with QORVEX_EX_COPY_JOINED) to the digest; 0 or the engine's code.
int32_t DigestFile(const host::Disc &disc, int32_t track, int32_t kind, int32_t index, uint32_t flags,
                   host::Digest *digest) {
    constexpr uint32_t kChunk = 256 * 1024;
    thread_local std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
    for (uint64_t at = 0;;) {
        uint32_t done = 0;
        const int32_t result = disc.Api().ExReadFile(disc.handle(), track, kind, index, at, buffer.get(), kChunk,
                                                     flags | QORVEX_EX_COPY_KEEP_OPEN, &done);
        if (result) return result;
        digest->Update(buffer.get(), done);
        if (done < kChunk) return 0;
        at += done;
    }
}

// The files of one file system, a file kept in several extents as one, each with its hash and damage.
IndexedFs IndexFs(const host::Disc &disc, int32_t track, int32_t kind, const std::string &hash) {
    const host::EngineApi &api = disc.Api();
    IndexedFs fs;
    fs.kind = kind;
    char label[33] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    api.GetImageInformation(disc.handle(), track, kind, label, &sectors, &bytes);
    fs.label = label;
    const std::vector<Entry> list = disc.List(track, kind, false);
    std::vector<host::ListedEntry> listed;
    listed.reserve(list.size());
    for (const Entry &e : list) listed.push_back({e.name, e.size, e.extent_count, e.extent_index, e.more_extents});
    for (const host::OutputGroup &group : host::GroupExtents(listed, kind == KIND_UDF)) {
        IndexedEntry ie;
        const int32_t first = static_cast<int32_t>(group.entries.front());
        ie.entry = list[group.entries.front()];
        ie.entry.size = group.size;
        // The engine joins a UDF file's extents itself; the records of an ISO 9660 file follow each other.
        const uint32_t joined = group.engine_joins ? QORVEX_EX_COPY_JOINED : 0;
        std::vector<int32_t> parts;
        if (group.engine_joins)
            parts.push_back(first);
        else
            for (size_t k : group.entries) parts.push_back(static_cast<int32_t>(k));
        uint64_t base = 0;
        for (size_t k : group.entries) {
            ie.damaged = ie.damaged || list[k].damaged;
            if (!group.engine_joins && list[k].damaged)
                for (const QorvexExRange &r : MissingRanges(disc, track, kind, static_cast<int32_t>(k), 0))
                    ie.missing.push_back({base + r.offset, r.length});
            base += list[k].size;
        }
        if (ie.damaged && group.engine_joins) ie.missing = MissingRanges(disc, track, kind, first, joined);
        if (ie.entry.type == QORVEX_EX_TYPE_FILE && !hash.empty()) {
            std::unique_ptr<host::Digest> digest = host::MakeDigest(hash);
            for (size_t p = 0; p < parts.size() && !ie.error; ++p)
                ie.error = DigestFile(disc, track, kind, parts[p], joined, digest.get());
            if (!ie.error) ie.hash = digest->Finish();
        }
        fs.entries.push_back(std::move(ie));
    }
    return fs;
}

// Every stored sector read and checked: sync, header address, EDC as the track's format carries them.
VerifySummary VerifyImage(const host::Disc &disc) {
    const host::EngineApi &api = disc.Api();
    VerifySummary v;
    v.done = true;
    if (!api.ExGetRawSectorSize || !api.ExReadRawSectors) {
        v.error = "the engine cannot read raw sectors";
        return v;
    }
    host::RawAccess access;
    access.handle = disc.handle();
    access.track_count = api.GetTrackCount;
    access.track_info = api.GetTrackInfo;
    access.raw_size = api.ExGetRawSectorSize;
    access.read_raw = api.ExReadRawSectors;
    const host::DiscScan scan = host::ScanDisc(access, host::ScanOptions{});
    v.error = scan.error;
    for (const host::TrackScan &t : scan.tracks) {
        v.checked = v.checked || t.checked;
        v.sectors += t.sectors, v.good += t.good, v.edc += t.edc, v.address += t.address;
        v.unreadable += t.unreadable;
    }
    return v;
}

IndexedImage IndexImage(const std::string &path, uint32_t options, const std::string &hash, bool verify) {
    IndexedImage image;
    image.path = path;
    image.stamp = StatImage(path);
    if (!image.stamp.ok) {
        image.reason = image.stamp.error ? std::strerror(image.stamp.error) : "not a regular file";
        return image;
    }
    host::Disc disc(LinkedEngine());
    if (const int32_t error = disc.Open(path, options)) {
        image.code = error;
        image.reason = "not opened";
        return image;
    }
    image.container = ContainerOf(disc);
    for (int32_t t = 0; t < disc.TrackCount(); ++t) {
        IndexedTrack track;
        disc.Api().GetTrackInfo(disc.handle(), t, &track.info);
        track.salvaged = disc.Salvaged(t, &track.salvage);
        for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF, KIND_ROCKRIDGE})
            if (disc.FileCount(t, kind) > 0) track.file_systems.push_back(IndexFs(disc, t, kind, hash));
        image.tracks.push_back(std::move(track));
    }
    if (verify) image.verify = VerifyImage(disc);
    return image;
}

// The line's head up to the modification time: what --resume matches.
std::string JsonKey(const std::string &path, const Stamp &stamp) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, ",\"size\":%" PRIu64 ",\"mtime_ns\":%" PRId64, stamp.size, stamp.mtime_ns);
    return "{\"image\":" + JsonString(path) + numbers;
}

// The lines of a salvage record's notes.
std::vector<std::string> NoteLines(const QorvexExSalvage &s) {
    std::vector<std::string> lines;
    std::string_view text(s.notes, strnlen(s.notes, sizeof s.notes));
    for (size_t end; !text.empty(); text.remove_prefix(std::min(end + 1, text.size()))) {
        end = std::min(text.find('\n'), text.size());
        if (end) lines.emplace_back(text.substr(0, end));
    }
    return lines;
}

// As `info --json` tells it.
std::string SalvageJson(const QorvexExSalvage &s) {
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  ",\"salvaged\":{\"held_end\":%" PRId64 ",\"recorded_end\":%" PRId64 ",\"part_bytes\":%" PRId64
                  ",\"failed\":%" PRId32 ",\"notes\":[",
                  s.held_end, s.recorded_end, s.part_bytes, s.failed);
    std::string out = buf;
    const std::vector<std::string> lines = NoteLines(s);
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "," : "") + JsonString(lines[i]);
    return out + "]}";
}

// As `ls --json` tells it.
std::string DamageJson(const IndexedEntry &ie) {
    std::string out =
        ",\"damaged\":{\"missing_bytes\":" + std::to_string(host::MissingBytes(ie.missing)) + ",\"ranges\":[";
    for (size_t r = 0; r < ie.missing.size(); ++r)
        out += std::string(r ? "," : "") + "{\"offset\":" + std::to_string(ie.missing[r].offset) +
               ",\"length\":" + std::to_string(ie.missing[r].length) + "}";
    return out + "]}";
}

std::string VerifyJson(const VerifySummary &v) {
    if (!v.error.empty()) return ",\"verify\":{\"error\":" + JsonString(v.error) + "}";
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  ",\"verify\":{\"checked\":%s,\"sectors\":%" PRId64 ",\"good\":%" PRId64 ",\"edc_errors\":%" PRId64
                  ",\"address_errors\":%" PRId64 ",\"unreadable\":%" PRId64 "}",
                  v.checked ? "true" : "false", v.sectors, v.good, v.edc, v.address, v.unreadable);
    return buf;
}

std::string JsonLine(const IndexedImage &image, const std::string &hash) {
    std::string out = JsonKey(image.path, image.stamp);
    char buf[160];
    if (!image.reason.empty()) {
        out += ",\"error\":" + JsonString(image.reason);
        if (image.code) out += ",\"code\":" + std::to_string(image.code);
        return out + "}\n";
    }
    out += ",\"container\":" + JsonString(image.container);
    if (image.verify.done) out += VerifyJson(image.verify);
    out += ",\"tracks\":[";
    for (size_t t = 0; t < image.tracks.size(); ++t) {
        const IndexedTrack &track = image.tracks[t];
        std::snprintf(buf, sizeof buf,
                      "%s{\"track\":%u,\"session\":%u,\"format\":\"%s\",\"start\":%" PRId32 ",\"end\":%" PRId32,
                      t ? "," : "", track.info.track, track.info.session, host::FormatName(track.info.format),
                      track.info.start, track.info.end_held);
        out += buf;
        if (track.salvaged) out += SalvageJson(track.salvage);
        out += ",\"file_systems\":[";
        for (size_t f = 0; f < track.file_systems.size(); ++f) {
            const IndexedFs &fs = track.file_systems[f];
            out += std::string(f ? "," : "") + "{\"fs\":\"" + host::KindKeyword(fs.kind) +
                   "\",\"label\":" + JsonString(fs.label) + ",\"entries\":[";
            for (size_t i = 0; i < fs.entries.size(); ++i) {
                const Entry &e = fs.entries[i].entry;
                out += std::string(i ? "," : "") + "{\"path\":" + JsonString(e.path) + ",\"type\":\"" +
                       TypeWord(e.type) + "\",\"size\":" + std::to_string(e.size) +
                       ",\"date\":" + (e.has_date ? std::to_string(e.date) : "null");
                if (e.IsPosix()) out += ",\"mode\":" + std::to_string(e.mode);
                if (e.type == QORVEX_EX_TYPE_SYMLINK) out += ",\"link\":" + JsonString(e.link_target);
                if (!fs.entries[i].hash.empty()) out += ",\"" + hash + "\":\"" + fs.entries[i].hash + "\"";
                if (fs.entries[i].error) out += ",\"code\":" + std::to_string(fs.entries[i].error);
                if (fs.entries[i].damaged) out += DamageJson(fs.entries[i]);
                out += "}";
            }
            out += "]}";
        }
        out += "]}";
    }
    return out + "]}\n";
}

// Text for XML: names shown as on a terminal (control characters and bytes that are not UTF-8 as "?"), escaped.
std::string Xml(std::string_view text) {
    return host::XmlEscape(DisplayName(text));
}

std::string VerifyXml(const VerifySummary &v) {
    if (!v.error.empty()) return "    <verify error=\"" + Xml(v.error) + "\"/>\n";
    return "    <verify checked=\"" + std::string(v.checked ? "true" : "false") + "\" sectors=\"" +
           std::to_string(v.sectors) + "\" good=\"" + std::to_string(v.good) + "\" edc_errors=\"" +
           std::to_string(v.edc) + "\" address_errors=\"" + std::to_string(v.address) + "\" unreadable=\"" +
           std::to_string(v.unreadable) + "\"/>\n";
}

// DFXML: one <volume> per file system, its files as <fileobject>s, the image named in each.
std::string DfxmlBlock(const IndexedImage &image, const std::string &hash) {
    std::string out;
    if (!image.reason.empty())
        return "  <volume>\n    <image_filename>" + Xml(image.path) + "</image_filename>\n    <error>" +
               Xml(image.reason) + (image.code ? " " + std::to_string(image.code) : "") + "</error>\n  </volume>\n";
    for (const IndexedTrack &track : image.tracks)
        for (const IndexedFs &fs : track.file_systems) {
            out += "  <volume>\n    <image_filename>" + Xml(image.path) + "</image_filename>\n    <partition>" +
                   std::to_string(track.info.track) + "</partition>\n    <ftype_str>" + host::KindKeyword(fs.kind) +
                   "</ftype_str>\n";
            if (track.salvaged) {
                const QorvexExSalvage &s = track.salvage;
                out += "    <salvaged held_end=\"" + std::to_string(s.held_end) + "\" recorded_end=\"" +
                       std::to_string(s.recorded_end) + "\" part_bytes=\"" + std::to_string(s.part_bytes) +
                       "\" failed=\"" + std::to_string(s.failed) + "\">\n";
                for (const std::string &line : NoteLines(s)) out += "      <note>" + Xml(line) + "</note>\n";
                out += "    </salvaged>\n";
            }
            if (image.verify.done) out += VerifyXml(image.verify);
            for (const IndexedEntry &ie : fs.entries) {
                const Entry &e = ie.entry;
                const char *name_type = e.type == QORVEX_EX_TYPE_FOLDER    ? "d"
                                        : e.type == QORVEX_EX_TYPE_SYMLINK ? "l"
                                        : e.type == QORVEX_EX_TYPE_FILE    ? "r"
                                                                           : "-";
                out += "    <fileobject>\n      <filename>" + Xml(e.path) + "</filename>\n      <name_type>" +
                       name_type + "</name_type>\n      <filesize>" + std::to_string(e.size) + "</filesize>\n";
                if (e.IsPosix()) out += "      <mode>" + std::to_string(e.mode & 07777) + "</mode>\n";
                if (e.has_date) out += "      <mtime>" + FormatInstant(true, e.date) + "</mtime>\n";
                if (!ie.hash.empty()) out += "      <hashdigest type=\"" + hash + "\">" + ie.hash + "</hashdigest>\n";
                if (ie.damaged) {
                    // DFXML's own byte runs, each naming a part of the file the image does not hold.
                    out += "      <damaged missing_bytes=\"" + std::to_string(host::MissingBytes(ie.missing)) + "\">\n";
                    for (const QorvexExRange &r : ie.missing)
                        out += "        <byte_run file_offset=\"" + std::to_string(r.offset) + "\" len=\"" +
                               std::to_string(r.length) + "\"/>\n";
                    out += "      </damaged>\n";
                }
                out += "    </fileobject>\n";
            }
            out += "  </volume>\n";
        }
    return out;
}

// Keys of the whole lines an earlier run wrote; a line cut short by an interrupted run is dropped from the file.
bool ReadDone(const std::string &out_path, std::set<std::string> *done) {
    FILE *f = std::fopen(out_path.c_str(), "rb");
    if (!f) return errno == ENOENT;
    std::string text;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    const size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    if (whole != text.size() && truncate(out_path.c_str(), static_cast<off_t>(whole)) != 0) return false;
    for (size_t at = 0; at < whole;) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        // Inside a JSON string every quote is escaped, so the first ,"mtime_ns": is the member's.
        if (size_t m = line.find(",\"mtime_ns\":"); m != std::string::npos) {
            size_t e = m + 12;
            while (e < line.size() && (std::isdigit(static_cast<unsigned char>(line[e])) || line[e] == '-')) ++e;
            done->insert(line.substr(0, e));
        }
        at = end + 1;
    }
    return true;
}

bool WriteAll(int fd, const std::string &text) {
    for (size_t at = 0; at < text.size();) {
        const ssize_t n = write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int RunIndex(const Args &args) {
    const std::string hash = args.Value("--hash", "sha256");
    if (hash != "sha256" && hash != "md5" && hash != "none") {
        std::fprintf(stderr, "qorvex: --hash takes sha256, md5 or none\n");
        return kExitUsage;
    }
    const std::string jobs_text =
        args.Value("--jobs", std::to_string(std::max(1u, std::thread::hardware_concurrency())));
    const int32_t jobs = ParseTrackNumber(jobs_text);
    if (jobs < 1 || jobs > 256) {
        std::fprintf(stderr, "qorvex: --jobs takes a number from 1 to 256\n");
        return kExitUsage;
    }
    const bool dfxml = args.Has("--dfxml"), resume = args.Has("--resume"), verify = args.Has("--verify");
    const std::string out_path = args.Value("--out", "-");
    if (resume && (dfxml || out_path == "-")) {
        std::fprintf(stderr, "qorvex: --resume needs --out FILE with JSON lines\n");
        return kExitUsage;
    }
    std::vector<std::string> images;
    for (const std::string &p : args.positional) Collect(p, true, &images);

    std::set<std::string> done;
    if (resume && !ReadDone(out_path, &done)) {
        std::fprintf(stderr, "qorvex: cannot read %s: %s\n", out_path.c_str(), std::strerror(errno));
        return kExitFailed;
    }
    int fd = STDOUT_FILENO;
    if (out_path != "-") {
        fd = open(out_path.c_str(), O_WRONLY | O_CREAT | kOutputFlags | (resume ? O_APPEND : O_TRUNC), 0666);
        if (fd < 0) {
            std::fprintf(stderr, "qorvex: cannot write %s: %s\n", out_path.c_str(), std::strerror(errno));
            return kExitFailed;
        }
    }
    const std::string digest = hash == "none" ? "" : hash;
    std::mutex lock;  // the output and the counts
    size_t finished = 0, failed = 0, skipped = 0;
    bool write_failed = false;
    // Not between the lines themselves on one terminal.
    const bool shown = Progress(0).Shown() && (out_path != "-" || !isatty(STDOUT_FILENO));
    if (dfxml)
        write_failed =
            !WriteAll(fd,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dfxml "
                      "xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\" version=\"1.0\">\n"
                      "  <creator><program>qorvex</program></creator>\n");
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < images.size();) {
            if (resume && done.count(JsonKey(images[i], StatImage(images[i])))) {
                std::lock_guard<std::mutex> g(lock);
                ++skipped, ++finished;
                continue;
            }
            const IndexedImage image = IndexImage(images[i], args.open_options, digest, verify);
            const std::string text = dfxml ? DfxmlBlock(image, hash) : JsonLine(image, hash);
            std::lock_guard<std::mutex> g(lock);
            write_failed = write_failed || !WriteAll(fd, text);
            ++finished;
            failed += image.reason.empty() ? 0 : 1;
            if (shown)
                std::fprintf(stderr, "\r%zu/%zu images indexed, %zu failed, %zu skipped", finished, images.size(),
                             failed, skipped);
        }
    };
    std::vector<std::thread> threads;
    for (int32_t j = 1; j < std::min<int32_t>(jobs, static_cast<int32_t>(images.size())); ++j)
        threads.emplace_back(work);
    work();
    for (std::thread &t : threads) t.join();
    if (dfxml) write_failed = !WriteAll(fd, "</dfxml>\n") || write_failed;
    if (shown) std::fprintf(stderr, "\n");
    if (fd != STDOUT_FILENO && close(fd) != 0) write_failed = true;
    if (write_failed) {
        std::fprintf(stderr, "qorvex: writing the index failed: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    return failed ? kExitFailed : kExitOk;
}

}  // namespace cli
