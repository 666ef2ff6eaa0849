#include "fuzz_common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "qorvex.h"
#include "qorvex_ext.h"

namespace fuzz {

namespace {
struct SinkState {
    uint32_t sum = 0;
    uint32_t calls = 0;
};

int32_t Sink(int32_t kind, void *user, const void *data, int32_t length) {
    // Touch the delivered bytes so that a block pointing outside its buffer is caught by the sanitizer.
    auto *state = static_cast<SinkState *>(user);
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (length > 0) state->sum += bytes[0] + bytes[length - 1] + static_cast<uint32_t>(kind);
    // Now and then the host stops a copy midway, so that the abort paths run too.
    return ++state->calls % 61 == 0 ? 0 : 1;
}

const std::string &ScratchPath() {
    static const std::string path = "/tmp/qorvex-fuzz-" + std::to_string(::getpid()) + ".img";
    return path;
}

void RemoveScratch() {
    ::unlink(ScratchPath().c_str());
}
}  // namespace

std::string WriteImage(const uint8_t *data, size_t size) {
    // One scratch file per process, removed when it exits normally (a crash leaves it for inspection). The
    // path is made before the removal is registered, so that it is still there when the removal runs.
    const std::string &path = ScratchPath();
    static const bool registered = std::atexit(RemoveScratch) == 0;
    (void)registered;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return path;
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return path;
}

namespace {

// Ranged reads of every file and of the track, at its start, its middle and its end.
void ReadRanges(QorvexHandle h, int32_t t) {
    std::vector<uint8_t> buffer(70000);
    uint32_t done = 0;
    for (int32_t kind : {1, 2, 4, 8}) {
        const int32_t count = QorvexGetFileCount(h, t, kind);
        QorvexGetFileStart(h, t, kind);
        EntryInfo entry;
        for (int32_t i = 0; i < count; ++i) {
            QorvexGetNextFile(h, &entry);
            const uint64_t size = entry.size_low | uint64_t(entry.size_high) << 32;
            for (uint64_t at : {uint64_t{0}, size / 2 + 1, size > 5000 ? size - 5000 : 0})
                for (uint32_t flags : {0u, uint32_t(QORVEX_EX_COPY_JOINED)}) {
                    QorvexExReadFile(h, t, kind, i, at, buffer.data(), static_cast<uint32_t>(buffer.size()), flags,
                                     &done);
                    int64_t place = 0;
                    uint64_t run = 0;
                    QorvexExGetFilePlace(h, t, kind, i, at, flags, nullptr, 0, &place, &run);
                }
        }
    }
    uint64_t total = 0;
    for (uint32_t flags : {0u, TRACK_RAW, TRACK_RAW | TRACK_PREGAP}) {
        QorvexExReadTrack(h, t, 0, buffer.data(), 5000, flags, &done, &total);
        QorvexExReadTrack(h, t, total / 2 + 7, buffer.data(), 5000, flags, &done, &total);
    }
}

}  // namespace

void ExerciseImage(const std::string &path, uint32_t options) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    if (!h) return;
    SinkState sink;
    QorvexSetCallback(h, Sink, &sink);
    const int32_t tracks = QorvexGetTrackCount(h);
    for (int32_t t = 0; t < tracks; ++t) {
        TrackInfo info;
        QorvexGetTrackInfo(h, t, &info);
        char label[33] = {0};
        int32_t sectors = 0;
        int64_t bytes = 0;
        for (int32_t kind : {0, 1, 2, 4, 8}) QorvexGetImageInformation(h, t, kind, label, &sectors, &bytes);
        for (int32_t kind : {1, 2, 4, 8}) {
            QorvexExEntry details{};
            details.struct_size = sizeof details;
            EntryInfo entry;
            if (QorvexGetFileStart(h, t, kind))
                for (;;) {
                    const int32_t left = QorvexGetNextFile(h, &entry);
                    QorvexExGetCurrentFile(h, &details);
                    QorvexExtractCurrentFile2(h, nullptr, 1);
                    if (entry.extent_count > 1) QorvexExtractCurrentFile2(h, nullptr, 0);
                    if (!left) break;
                }
            if (QorvexGetModuleStart(h, t, kind))
                for (;;) {
                    const int32_t left = QorvexGetNextModule(h, &entry);
                    QorvexExGetCurrentModule(h, &details);
                    QorvexExtractCurrentModule(h, nullptr);
                    if (!left) break;
                }
        }
        for (uint32_t flags :
             {0u, TRACK_RAW, TRACK_RAW | TRACK_WAV, TRACK_RAW | TRACK_PREGAP, TRACK_RAW | TRACK_WAV | TRACK_PREGAP})
            QorvexExtractTrack(h, t, nullptr, flags);
        ReadRanges(h, t);
    }
    QorvexClose(h);
}

namespace {

void Put(const std::string &path, const uint8_t *data, size_t size) {
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

const char *const kNames[] = {"disc.cue", "disc.toc", "disc.ccd", "disc.bin", "disc.wav", "disc.img", "disc.nrg"};

const std::string &SheetFolder();

void RemoveSheetFolder() {
    for (const char *name : kNames) ::unlink((SheetFolder() + name).c_str());
    ::rmdir(SheetFolder().c_str());
}

// One scratch folder per process, removed when it exits normally (a crash leaves it for inspection).
const std::string &SheetFolder() {
    static const std::string folder = [] {
        std::string f = "/tmp/qorvex-fuzz-cue-" + std::to_string(::getpid());
        ::mkdir(f.c_str(), 0700);
        return f + "/";
    }();
    static const bool registered = std::atexit(RemoveSheetFolder) == 0;
    (void)registered;
    return folder;
}

}  // namespace

void ExerciseSheet(const uint8_t *data, size_t size, const std::string &extension) {
    const auto *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    const size_t text = nul ? static_cast<size_t>(nul - data) : size;
    const uint8_t *bin = nul ? nul + 1 : data + size;
    const size_t bin_size = size - text - (nul ? 1 : 0);
    Put(SheetFolder() + "disc." + extension, data, text);
    Put(SheetFolder() + "disc.bin", bin, bin_size);
    Put(SheetFolder() + "disc.wav", bin, bin_size);
    Put(SheetFolder() + "disc.img", bin, bin_size);
    for (uint32_t options : {uint32_t(OPEN_DISC_SHEETS), uint32_t(OPEN_DISC_SHEETS | OPEN_CHECK_POSITION)})
        ExerciseImage(SheetFolder() + "disc." + extension, options);
}

void ExerciseNrg(const uint8_t *data, size_t size) {
    const std::string path = SheetFolder() + "disc.nrg";
    Put(path, data, size);
    for (uint32_t options : {uint32_t(OPEN_DISC_SHEETS), uint32_t(OPEN_DISC_SHEETS | OPEN_CHECK_POSITION)})
        ExerciseImage(path, options);
}

void ExerciseContainer(const uint8_t *data, size_t size, const std::string &extension, OpenContainer open) {
    const std::string path = ContainerPath(extension);
    if (ReadContainer(data, size, path, open, int64_t(64) << 20)) ExerciseImage(path, OPEN_DISC_SHEETS);
    ::unlink(path.c_str());
}

}  // namespace fuzz
