// qorvex mount / umount: an image as a read-only file system through FUSE. The tree is built once from the
// extraction plans (what a whole extraction would make), and every read asks the engine for just the bytes it
// needs, so that any offset of any file is served without reading the file from its start. Bytes an image file
// holds as they are (2048-byte sectors, nothing to decode) go from that file to the kernel directly.
#include <cstdio>
#include <string>

#include "commands.h"

#ifdef QORVEX_HAVE_FUSE
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "disc_text.h"
#include "extract_plan.h"
#include "image.h"
#include "output_tree.h"

namespace cli {
namespace {

constexpr size_t kWavHeaderSize = 44;
constexpr double kCacheSeconds = 86400;  // the image does not change under the mount

struct Node {
    enum class Type { kFolder, kFile, kSymlink } type = Type::kFolder;
    std::map<std::string, size_t> children;
    uint64_t size = 0;
    bool has_date = false;
    int64_t date = 0;
    bool has_mode = false;
    uint32_t mode = 0;
    std::string link_target;
    // A file of a file walk: its entries one after the other (several for an ISO 9660 multi-extent file).
    int32_t track = 0, kind = 0;
    std::vector<int32_t> entries;
    std::vector<uint64_t> sizes;
    bool joined = false;
    // A track: its bytes as extracted with these flags, after a WAV header when `wav`.
    bool is_track = false;
    uint32_t track_flags = 0;
    bool wav = false;
    // The byte ranges of a file that lie in an image file as they are, found at its first open: read from there
    // with no decoding (in the kernel, from the image's pages to the reader's, where it can splice).
    struct Run {
        uint64_t begins = 0, length = 0;  // in the file
        int fd = -1;
        uint64_t at = 0;  // in the image file
    };
    std::vector<Run> runs;
    bool mapped = false;
};

void PutLe(uint8_t *p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The header a WAV track extraction writes: 16-bit stereo 44.1 kHz PCM.
void WavHeader(uint8_t *h, uint64_t data_length) {
    const uint32_t n = static_cast<uint32_t>(data_length);
    std::memcpy(h, "RIFF", 4), PutLe(h + 4, n + 36, 4), std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4), PutLe(h + 20, 1, 2), PutLe(h + 22, 2, 2), PutLe(h + 24, 44100, 4);
    PutLe(h + 28, 176400, 4), PutLe(h + 32, 4, 2), PutLe(h + 34, 16, 2), std::memcpy(h + 36, "data", 4);
    PutLe(h + 40, n, 4);
}

class MountTree {
public:
    MountTree() : nodes_(1) {}

    // A folder below `parent`, made when missing; a name taken by something else is not replaced.
    size_t Folder(size_t parent, const std::string &name) {
        auto it = nodes_[parent].children.find(name);
        if (it != nodes_[parent].children.end()) return it->second;
        return Add(parent, name, Node{});
    }
    size_t Add(size_t parent, const std::string &name, Node node) {
        if (auto it = nodes_[parent].children.find(name); it != nodes_[parent].children.end()) return it->second;
        nodes_.push_back(std::move(node));
        nodes_[parent].children.emplace(name, nodes_.size() - 1);
        return nodes_.size() - 1;
    }
    size_t FolderAt(size_t top, const std::vector<std::string> &path, size_t count) {
        for (size_t i = 0; i < count; ++i) top = Folder(top, path[i]);
        return top;
    }

    // One file system of a track below the folder `top`, as a whole extraction would make it.
    void AddPlan(size_t top, const host::ExtractPlan &plan) {
        for (const host::ExtractItem &item : plan.items) {
            if (item.target.empty() || item.from_parts) continue;
            const size_t parent = FolderAt(top, item.target, item.target.size() - 1);
            Node node;
            node.has_date = item.has_date, node.date = item.date;
            node.has_mode = item.has_mode, node.mode = item.mode;
            if (item.type == host::ItemType::kFolder) {
                Node &folder = nodes_[Folder(parent, item.target.back())];
                if (folder.type == Node::Type::kFolder) {
                    folder.has_date = item.has_date, folder.date = item.date;
                    folder.has_mode = item.has_mode, folder.mode = item.mode;
                }
                continue;
            }
            if (item.type == host::ItemType::kSymlink) {
                node.type = Node::Type::kSymlink;
                node.link_target = item.link_target;
                node.size = item.link_target.size();
            } else if (item.type == host::ItemType::kFile) {
                node.type = Node::Type::kFile;
                node.track = plan.track, node.kind = plan.kind;
                node.entries = item.entries, node.sizes = item.sizes, node.joined = item.joined;
                node.size = item.size;
            } else {
                continue;  // no hard links are planned for a mount
            }
            Add(parent, item.target.back(), std::move(node));
        }
        // Links the extraction refuses because they point outside its folder are harmless here: the reader's
        // system resolves them, never this program.
        for (const host::PlanNote &note : plan.notes) {
            if (note.what != host::PlanNote::What::kLinkLeavesFolder || note.link_target.empty()) continue;
            std::vector<std::string> target;
            for (size_t at = 0; at <= note.shown.size();) {
                const size_t end = std::min(note.shown.find('/', at), note.shown.size());
                if (end > at) target.push_back(note.shown.substr(at, end - at));
                at = end + 1;
            }
            if (target.empty()) continue;
            Node node;
            node.type = Node::Type::kSymlink;
            node.link_target = note.link_target;
            node.size = note.link_target.size();
            Add(FolderAt(top, target, target.size() - 1), target.back(), std::move(node));
        }
    }

    const Node *Find(const char *path, size_t *index) const {
        size_t at = 0;
        for (const char *p = path; *p;) {
            while (*p == '/') ++p;
            if (!*p) break;
            const char *end = std::strchr(p, '/');
            const std::string name(p, end ? static_cast<size_t>(end - p) : std::strlen(p));
            auto it = nodes_[at].children.find(name);
            if (it == nodes_[at].children.end()) return nullptr;
            at = it->second;
            p += name.size();
        }
        if (index) *index = at;
        return &nodes_[at];
    }
    Node &At(size_t i) { return nodes_[i]; }
    size_t Count() const { return nodes_.size(); }

private:
    std::vector<Node> nodes_;  // [0] is the root
};

struct Mounted {
    Image image;
    MountTree tree;
    struct stat image_stat {};
    std::mutex mapping;                // guards Node::runs and `files` while a file is mapped
    std::map<std::string, int> files;  // image files opened for the runs
};

Mounted *Context() {
    return static_cast<Mounted *>(fuse_get_context()->private_data);
}

// Bytes of a file's entries through the engine from `offset` on; -errno on failure.
int ReadEntries(const Node &node, char *buffer, size_t size, uint64_t offset) {
    const host::EngineApi &api = Context()->image.Api();
    const QorvexHandle h = Context()->image.handle();
    // The entries follow one another: find the one `offset` falls in, read on through the next ones.
    size_t done = 0;
    uint64_t begins = 0;
    for (size_t i = 0; i < node.entries.size() && done < size; ++i) {
        const uint64_t length = node.joined ? node.size : node.sizes[i];  // the engine joins a UDF file's extents
        const uint64_t at = offset + done;
        if (at < begins + length) {
            const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(size - done, begins + length - at));
            uint32_t got = 0;
            const uint32_t flags = QORVEX_EX_COPY_KEEP_OPEN | (node.joined ? QORVEX_EX_COPY_JOINED : 0);
            const int32_t r = api.ExReadFile(h, node.track, node.kind, node.entries[i], at - begins, buffer + done,
                                             want, flags, &got);
            if (r != 0) return -EIO;
            done += got;
            if (got < want) break;
        }
        begins += length;
    }
    return static_cast<int>(done);
}

// The run of a file that holds byte `at`, or null.
const Node::Run *RunAt(const Node &node, uint64_t at) {
    for (const Node::Run &run : node.runs)
        if (at >= run.begins && at - run.begins < run.length) return &run;
    return nullptr;
}

// Bytes of one node from `offset` on; -errno on failure.
int ReadNode(const Node &node, char *buffer, size_t size, uint64_t offset) {
    if (offset >= node.size) return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, node.size - offset));
    size_t done = 0;
    if (node.is_track) {
        if (node.wav && offset < kWavHeaderSize) {
            uint8_t header[kWavHeaderSize];
            WavHeader(header, node.size - kWavHeaderSize);
            done = std::min<size_t>(size, kWavHeaderSize - offset);
            std::memcpy(buffer, header + offset, done);
        }
        const uint64_t skip = node.wav ? kWavHeaderSize : 0;
        if (done < size) {
            uint32_t got = 0;
            const int32_t r = Context()->image.Api().ExReadTrack(
                Context()->image.handle(), node.track, offset + done - skip, buffer + done,
                static_cast<uint32_t>(size - done), node.track_flags | QORVEX_EX_COPY_KEEP_OPEN, &got, nullptr);
            if (r != 0) return -EIO;
            done += got;
        }
        return static_cast<int>(done);
    }
    // Piece by piece: a run from the image file as it is, the bytes up to the next run through the engine.
    while (done < size) {
        const uint64_t at = offset + done;
        size_t want = size - done;
        ssize_t got = 0;
        if (const Node::Run *run = RunAt(node, at)) {
            want = static_cast<size_t>(std::min<uint64_t>(want, run->begins + run->length - at));
            got = pread(run->fd, buffer + done, want, static_cast<off_t>(run->at + (at - run->begins)));
            if (got < 0) return -EIO;
        } else {
            for (const Node::Run &next : node.runs)
                if (next.begins > at) want = static_cast<size_t>(std::min<uint64_t>(want, next.begins - at));
            got = ReadEntries(node, buffer + done, want, at);
            if (got < 0) return static_cast<int>(got);
        }
        done += static_cast<size_t>(got);
        if (static_cast<size_t>(got) < want) break;
    }
    return static_cast<int>(done);
}

int GetAttr(const char *path, struct stat *st, fuse_file_info *) {
    size_t index = 0;
    const Node *node = Context()->tree.Find(path, &index);
    if (!node) return -ENOENT;
    const struct stat &image = Context()->image_stat;
    std::memset(st, 0, sizeof *st);
    st->st_ino = index + 1;
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_size = static_cast<off_t>(std::min<uint64_t>(node->size, INT64_MAX));
    st->st_blksize = 2048;
    st->st_blocks = static_cast<blkcnt_t>((node->size + 511) / 512);
    st->st_mtim = node->has_date ? timespec{static_cast<time_t>(node->date), 0} : image.st_mtim;
    st->st_atim = st->st_ctim = st->st_mtim;
    switch (node->type) {
        case Node::Type::kFolder: {
            st->st_mode = S_IFDIR | (node->has_mode ? node->mode : 0555);
            st->st_nlink = 2;
            for (const auto &[name, child] : node->children)
                if (Context()->tree.At(child).type == Node::Type::kFolder) ++st->st_nlink;
            break;
        }
        case Node::Type::kFile:
            st->st_mode = S_IFREG | (node->has_mode ? node->mode : 0444);
            st->st_nlink = 1;
            break;
        case Node::Type::kSymlink:
            st->st_mode = S_IFLNK | 0777;
            st->st_nlink = 1;
            break;
    }
    return 0;
}

int ReadLink(const char *path, char *buffer, size_t size) {
    const Node *node = Context()->tree.Find(path, nullptr);
    if (!node) return -ENOENT;
    if (node->type != Node::Type::kSymlink) return -EINVAL;
    if (size == 0) return -EINVAL;
    const size_t n = std::min(size - 1, node->link_target.size());
    std::memcpy(buffer, node->link_target.data(), n);
    buffer[n] = '\0';
    return 0;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *, fuse_readdir_flags) {
    const Node *node = Context()->tree.Find(path, nullptr);
    if (!node) return -ENOENT;
    if (node->type != Node::Type::kFolder) return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const auto &[name, child] : node->children)
        if (fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{})) break;
    return 0;
}

// Finds the runs of a file (once, at its first open): each entry's bytes from its start on, as long as the engine
// places them in an image file. What is left (a decoded file, bytes beyond the image's end, the fragments past
// kMostRuns) is read through the engine.
constexpr size_t kMostRuns = 256;

void MapRuns(Node &node) {
    Mounted &m = *Context();
    std::lock_guard<std::mutex> lock(m.mapping);
    if (node.mapped) return;
    node.mapped = true;
    const host::EngineApi &api = m.image.Api();
    if (node.is_track || node.type != Node::Type::kFile || api.ExGetFilePlace == nullptr) return;
    std::vector<Node::Run> runs;
    const uint32_t flags = node.joined ? QORVEX_EX_COPY_JOINED : 0;
    uint64_t begins = 0;
    for (size_t i = 0; i < node.entries.size() && !(node.joined && i > 0); ++i) {
        const uint64_t length = node.joined ? node.size : node.sizes[i];
        for (uint64_t at = 0; at < length && runs.size() < kMostRuns;) {
            char path[PATH_MAX];
            int64_t place = 0;
            uint64_t run = 0;
            const int32_t n = api.ExGetFilePlace(m.image.handle(), node.track, node.kind, node.entries[i], at, flags,
                                                 path, sizeof path, &place, &run);
            if (n <= 0 || static_cast<size_t>(n) >= sizeof path || place < 0 || run == 0) break;
            run = std::min(run, length - at);
            auto file = m.files.find(path);
            if (file == m.files.end()) file = m.files.emplace(path, open(path, O_RDONLY | O_CLOEXEC)).first;
            if (file->second < 0) break;
            const uint64_t from = begins + at;
            Node::Run *last = runs.empty() ? nullptr : &runs.back();
            if (last && last->fd == file->second && last->begins + last->length == from &&
                last->at + last->length == static_cast<uint64_t>(place))
                last->length += run;
            else
                runs.push_back({from, run, file->second, static_cast<uint64_t>(place)});
            at += run;
        }
        begins += length;
    }
    node.runs = std::move(runs);
}

int Open(const char *path, fuse_file_info *fi) {
    size_t index = 0;
    const Node *node = Context()->tree.Find(path, &index);
    if (!node) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    if (node->type == Node::Type::kFolder) return -EISDIR;
    MapRuns(Context()->tree.At(index));
    fi->fh = index;
    fi->keep_cache = 1;
    return 0;
}

// A read that lies in one run is answered with the image file's range itself: libfuse splices it to the kernel
// where it can, else reads it once into its reply. Any other read is assembled here.
int ReadBuf(const char *, fuse_bufvec **out, size_t size, off_t offset, fuse_file_info *fi) {
    if (offset < 0) return -EINVAL;
    const size_t index = static_cast<size_t>(fi->fh);
    if (index >= Context()->tree.Count()) return -EBADF;
    const Node &node = Context()->tree.At(index);
    const uint64_t at = static_cast<uint64_t>(offset);
    size = at >= node.size ? 0 : static_cast<size_t>(std::min<uint64_t>({size, node.size - at, INT_MAX}));
    auto *vector = static_cast<fuse_bufvec *>(std::calloc(1, sizeof(fuse_bufvec)));
    if (!vector) return -ENOMEM;
    vector->count = 1;
    fuse_buf &buf = vector->buf[0];
    buf.size = size;
    buf.fd = -1;
    const Node::Run *run = size ? RunAt(node, at) : nullptr;
    if (run && at - run->begins + size <= run->length) {
        buf.flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        buf.fd = run->fd;
        buf.pos = static_cast<off_t>(run->at + (at - run->begins));
    } else if (size > 0) {
        buf.mem = std::malloc(size);  // freed by libfuse with the vector
        const int got = buf.mem ? ReadNode(node, static_cast<char *>(buf.mem), size, at) : -ENOMEM;
        if (got < 0) {
            std::free(buf.mem);
            std::free(vector);
            return got;
        }
        buf.size = static_cast<size_t>(got);
    }
    *out = vector;
    return 0;
}

int StatFs(const char *, struct statvfs *st) {
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = 2048;
    st->f_blocks = static_cast<fsblkcnt_t>(Context()->image_stat.st_size / 2048);
    st->f_files = Context()->tree.Count();
    st->f_namemax = 255;
    st->f_flag = ST_RDONLY;
    return 0;
}

void *Init(fuse_conn_info *conn, fuse_config *config) {
    // Replies of image bytes go to the kernel by splice, without passing through this process.
    conn->want |= conn->capable & FUSE_CAP_SPLICE_WRITE;
    config->use_ino = 1;
    config->kernel_cache = 1;
    config->entry_timeout = config->attr_timeout = kCacheSeconds;
    config->negative_timeout = kCacheSeconds;
    return fuse_get_context()->private_data;
}

// Every track as a file: user data as NN.iso (and the stored sectors as NN.bin where they hold more), audio
// as NN.wav.
void AddTracks(Mounted &m, size_t folder) {
    const host::EngineApi &api = m.image.Api();
    for (int32_t t = 0; t < m.image.TrackCount(); ++t) {
        TrackInfo info{};
        if (api.GetTrackInfo(m.image.handle(), t, &info) != 0) continue;
        char number[16];
        std::snprintf(number, sizeof number, "%02d", static_cast<int>(t + 1));
        auto add = [&](const char *extension, uint32_t flags, bool wav) {
            uint32_t got = 0;
            uint64_t total = 0;
            if (api.ExReadTrack(m.image.handle(), t, 0, nullptr, 0, flags, &got, &total) != 0) return total;
            Node node;
            node.type = Node::Type::kFile;
            node.is_track = true, node.track = t, node.track_flags = flags, node.wav = wav;
            node.size = total + (wav ? kWavHeaderSize : 0);
            m.tree.Add(folder, std::string(number) + extension, std::move(node));
            return total;
        };
        if (std::strncmp(host::FormatName(info.format), "AUDIO", 5) != 0) {
            const uint64_t user = add(".iso", 0, false);
            uint32_t got = 0;
            uint64_t raw = 0;
            api.ExReadTrack(m.image.handle(), t, 0, nullptr, 0, TRACK_RAW, &got, &raw);
            if (raw != user) add(".bin", TRACK_RAW, false);
        } else {
            add(".wav", TRACK_RAW, true);
        }
    }
}

bool Build(Mounted &m, int32_t track, int32_t kind) {
    host::PlanOptions options;
    options.symlinks = true;
    // A damaged file is there to read: what the image holds reads, its missing ranges fail with EIO.
    options.keep_damaged = true;
    host::PathSelection everything;
    if (kind != 0) m.tree.AddPlan(0, host::PlanTree(m.image, track, kind, everything, options));
    AddTracks(m, m.tree.Folder(0, ".tracks"));
    if (track >= 0) {
        const size_t views = m.tree.Folder(0, ".fs");
        for (int32_t k : m.image.KindsPresent(track)) {
            host::PathSelection all;
            m.tree.AddPlan(m.tree.Folder(views, host::KindKeyword(k)), host::PlanTree(m.image, track, k, all, options));
        }
    }
    return true;
}

std::string Absolute(const std::string &path) {
    char *real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string result(real);
    std::free(real);
    return result;
}

}  // namespace

int RunMount(const Args &args) {
    const int32_t requested = ParseKind(args.Value("--fs", "auto"));
    if (requested < 0) {
        std::fprintf(stderr, "qorvex: --fs takes auto, rockridge, joliet, udf or iso\n");
        return kExitUsage;
    }
    int32_t number = -1;
    if (args.values.count("--track") && (number = ParseTrackNumber(args.Value("--track"))) < 0) {
        std::fprintf(stderr, "qorvex: \"%s\" is not a track number\n", args.Value("--track").c_str());
        return kExitUsage;
    }
    // The readers open the image files again after the program has left its folder (as a daemon, in "/").
    const std::string image_path = Absolute(args.positional[0]);
    const std::string folder = Absolute(args.positional[1]);
    static Mounted m;
    if (!m.image.Open(image_path, args.open_options)) return kExitFailed;
    if (m.image.Api().ExReadFile == nullptr || m.image.Api().ExReadTrack == nullptr) {
        std::fprintf(stderr, "qorvex: the engine cannot read files by range; mount needs a newer engine\n");
        return kExitFailed;
    }
    if (stat(image_path.c_str(), &m.image_stat) != 0) std::memset(&m.image_stat, 0, sizeof m.image_stat);
    int32_t track = number < 0 ? m.image.DefaultTrack() : number - 1;
    if (number > m.image.TrackCount() || number == 0) {
        std::fprintf(stderr, "qorvex: there is no track %d (the image has %d)\n", number, m.image.TrackCount());
        return kExitFailed;
    }
    const std::vector<int32_t> present = m.image.KindsPresent(track);
    int32_t kind = present.empty() ? 0 : m.image.ChooseKind(track, requested);
    if (!present.empty() && std::find(present.begin(), present.end(), kind) == present.end()) {
        std::fprintf(stderr, "qorvex: track %d has no %s file system\n", track + 1, KindName(kind));
        return kExitFailed;
    }
    if (present.empty() && requested != KIND_AUTO) {
        std::fprintf(stderr, "qorvex: track %d holds no file system\n", track + 1);
        return kExitFailed;
    }
    if (!Build(m, track, kind)) return kExitFailed;

    // max_idle_threads given: libfuse 3.14 warns of an unset one (its default is 10 as well).
    std::vector<std::string> words = {"qorvex", folder, "-o", "ro,fsname=qorvex,subtype=qorvex,max_idle_threads=10"};
    if (args.Has("-f")) words.push_back("-f");
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    fuse_operations operations{};
    operations.getattr = GetAttr;
    operations.readlink = ReadLink;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.read_buf = ReadBuf;
    operations.statfs = StatFs;
    operations.init = Init;
    const int result = fuse_main(static_cast<int>(argv.size() - 1), argv.data(), &operations, &m);
    return result == 0 ? kExitOk : kExitFailed;
}

int RunUmount(const Args &args) {
    const std::string folder = Absolute(args.positional[0]);
    std::fflush(nullptr);
    execlp("fusermount3", "fusermount3", "-u", folder.c_str(), static_cast<char *>(nullptr));
    std::fprintf(stderr, "qorvex: cannot run fusermount3: %s\n", std::strerror(errno));
    return kExitFailed;
}

}  // namespace cli

#else  // built without libfuse 3

namespace cli {

int RunMount(const Args &) {
    std::fprintf(stderr, "qorvex: this qorvex was built without libfuse 3: mount is not available\n");
    return kExitFailed;
}

int RunUmount(const Args &args) {
    return RunMount(args);
}

}  // namespace cli

#endif
