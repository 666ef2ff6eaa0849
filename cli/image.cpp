#include "image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "file_system_choice.h"
#include "qorvex_ext.h"

// The extension exports are optional: an engine without them leaves these null, and the host goes without
// what they tell.
#pragma weak QorvexExGetCurrentFile
#pragma weak QorvexExGetCurrentModule
#pragma weak QorvexExGetSkippedFolders

namespace cli {

namespace {

// Adds what the extension exports know about the entry the walk stands on.
void AddDetails(QorvexHandle handle, bool parts, Entry *entry) {
    auto *current = parts ? QorvexExGetCurrentModule : QorvexExGetCurrentFile;
    if (!current) return;
    QorvexExEntry ex{};
    ex.struct_size = sizeof ex;
    if (current(handle, &ex) != 0) return;
    entry->name_cut = (ex.flags & QORVEX_EX_NAME_CUT) != 0;
    entry->more_extents = (ex.flags & QORVEX_EX_MULTI_EXTENT) != 0;
    entry->ex_flags = ex.flags;
    entry->mode = ex.mode;
    entry->uid = ex.uid;
    entry->gid = ex.gid;
    entry->links = ex.links;
    entry->serial = ex.serial;
    entry->device = ex.device;
    entry->modified = ex.modified;
    entry->link_target.assign(ex.link_target, strnlen(ex.link_target, sizeof ex.link_target));
}

}  // namespace

Image::~Image() {
    if (handle_) QorvexClose(handle_);
}

bool Image::Open(const std::string &path, uint32_t options) {
    // Checked here so that a folder, a FIFO or a device gives a plain message and never blocks the open.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "qorvex: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "qorvex: %s: is a folder, not an image file\n", path.c_str());
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "qorvex: %s: not a regular file\n", path.c_str());
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "qorvex: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    int32_t error = 0;
    options_ = options;
    handle_ = QorvexOpen(path.c_str(), options, &error);
    if (!handle_) {
        ReportEngineError("cannot open " + path, error ? error : ENGINE_UNKNOWN_FORMAT);
        return false;
    }
    return true;
}

int32_t Image::TrackCount() const {
    return QorvexGetTrackCount(handle_);
}

Entry ToEntry(const EntryInfo &info) {
    Entry e;
    e.kind = info.kind;
    e.size = (static_cast<uint64_t>(info.size_high) << 32) | info.size_low;
    e.start = info.start;
    e.sectors = info.sectors;
    e.offset = info.offset;
    e.extent_count = info.extent_count;
    e.extent_index = info.extent_index;
    e.attributes = info.attributes;
    e.time = info.time;
    e.name.assign(info.name, strnlen(info.name, sizeof info.name));
    return e;
}

void Image::Walk(int32_t track, int32_t kind, bool parts, const std::function<void(size_t)> &visit) const {
    int32_t count = parts ? QorvexGetModuleStart(handle_, track, kind) : QorvexGetFileStart(handle_, track, kind);
    for (int32_t i = 0; i < count; ++i) {
        EntryInfo info{};
        if (parts)
            QorvexGetNextModule(handle_, &info);
        else
            QorvexGetNextFile(handle_, &info);
        visit(static_cast<size_t>(i));
    }
}

std::vector<Entry> Image::List(int32_t track, int32_t kind, bool parts, bool details) const {
    std::vector<Entry> entries;
    int32_t count = parts ? QorvexGetModuleStart(handle_, track, kind) : QorvexGetFileStart(handle_, track, kind);
    for (int32_t i = 0; i < count; ++i) {
        EntryInfo info{};
        int32_t left = parts ? QorvexGetNextModule(handle_, &info) : QorvexGetNextFile(handle_, &info);
        entries.push_back(ToEntry(info));
        if (details) AddDetails(handle_, parts, &entries.back());
        if (left == 0) break;
    }
    return entries;
}

void Image::Visit(int32_t track, int32_t kind, bool parts, const std::function<void(const EntryInfo &)> &visit) const {
    // One record serves the whole walk: the engine fills every field and ends both names.
    EntryInfo info;
    int32_t count = parts ? QorvexGetModuleStart(handle_, track, kind) : QorvexGetFileStart(handle_, track, kind);
    for (int32_t i = 0; i < count; ++i) {
        std::memset(&info, 0, offsetof(EntryInfo, name) + 1);
        info.wname[0] = u'\0';
        int32_t left = parts ? QorvexGetNextModule(handle_, &info) : QorvexGetNextFile(handle_, &info);
        visit(info);
        if (left == 0) break;
    }
}

int32_t Image::PartCount(int32_t track, int32_t kind) const {
    return QorvexGetModuleStart(handle_, track, kind);
}

int32_t Image::SkippedFolders(int32_t track, int32_t kind) const {
    if (!QorvexExGetSkippedFolders) return 0;
    return std::max<int32_t>(QorvexExGetSkippedFolders(handle_, track, kind), 0);
}

int32_t Image::DefaultTrack() const {
    for (int32_t t = 0; t < TrackCount(); ++t)
        for (int32_t kind : kKindOrder)
            if (QorvexGetFileCount(handle_, t, kind) > 0 || PartCount(t, kind) > 0) return t;
    return 0;
}

int32_t Image::ChooseKind(int32_t track, int32_t requested) const {
    if (requested != KIND_AUTO) return requested;
    const int32_t iso = QorvexGetFileCount(handle_, track, KIND_ISO9660);
    const int32_t joliet = QorvexGetFileCount(handle_, track, KIND_JOLIET);
    const int32_t udf = QorvexGetFileCount(handle_, track, KIND_UDF);
    const int32_t kind = (options_ & OPEN_EXTENSIONS)
                             ? host::AutomaticKind(iso, joliet, udf, QorvexGetFileCount(handle_, track, KIND_ROCKRIDGE))
                             : host::PreferredKind(iso, joliet, udf, false);
    if (kind) return kind;
    for (int32_t kind : kKindOrder)
        if (PartCount(track, kind) > 0) return kind;
    return KIND_ISO9660;
}

int32_t QORVEX_CALL SinkCallback(int32_t kind, void *user, const void *data, int32_t length) {
    auto *sink = static_cast<Sink *>(user);
    if (kind != CALLBACK_DATA || length <= 0) return 1;
    if (sink->write_error) return 0;
    if (sink->file) {
        if (!sink->file->Append(data, static_cast<size_t>(length))) {
            sink->write_error = sink->file->WriteError();
            return 0;
        }
    } else if (sink->fd >= 0) {
        auto *bytes = static_cast<const char *>(data);
        size_t left = static_cast<size_t>(length);
        while (left > 0) {
            ssize_t n = write(sink->fd, bytes, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                sink->write_error = errno;
                return 0;
            }
            bytes += n;
            left -= static_cast<size_t>(n);
        }
    }
    if (sink->progress) sink->progress->Advance(static_cast<uint64_t>(length));
    return 1;
}

#ifdef _WIN32
// No symbolic links to keep apart from files here: an output path that is one was the user's choice.
#define lstat stat
#endif

UnfinishedOutput::UnfinishedOutput(const std::string &path) : path_(path) {
    struct stat st {};
    existed_ = path == "-" || lstat(path.c_str(), &st) == 0;
}

void UnfinishedOutput::Remove() const {
    struct stat st {};
    if (!existed_ && lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path_.c_str());
}

const char *KindName(int32_t kind) {
    switch (kind) {
        case KIND_ISO9660: return "ISO 9660";
        case KIND_JOLIET: return "Joliet";
        case KIND_UDF: return "UDF";
        case KIND_ROCKRIDGE: return "Rock Ridge";
        default: return "?";
    }
}

}  // namespace cli
