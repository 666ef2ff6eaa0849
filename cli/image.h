// The open image and the walks over its catalogues, through the engine's public interface only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "output.h"
#include "output_tree.h"
#include "qorvex.h"

namespace cli {

// One catalogue entry as delivered by a walk.
struct Entry {
    int32_t kind = 0;
    uint64_t size = 0;
    int32_t start = 0;
    int32_t sectors = 0;
    int32_t offset = 0;
    uint16_t extent_count = 0;
    uint16_t extent_index = 0;
    int32_t attributes = 0;
    int32_t time = 0;
    std::string name;
    bool name_cut = false;      // the name did not fit the record and was cut
    bool more_extents = false;  // ISO 9660 / Joliet multi-extent flag: the file goes on in the next record
    // POSIX details (Rock Ridge), with `details`; ex_flags holds the QORVEX_EX_* bits.
    uint32_t ex_flags = 0;
    uint32_t mode = 0, uid = 0, gid = 0, links = 0;
    uint64_t serial = 0, device = 0;
    int64_t modified = 0;
    std::string link_target;
};

class Image {
public:
    Image() = default;
    ~Image();
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    // Checks the path and opens it; reports every failure on stderr.
    bool Open(const std::string &path, uint32_t options);
    uint32_t Options() const { return options_; }
    QorvexHandle handle() const { return handle_; }
    int32_t TrackCount() const;

    // The files (system parts with parts = true) of one kind of one track, in catalogue order; with `details`
    // also what the extension exports tell of each (cut names, multi-extent records).
    std::vector<Entry> List(int32_t track, int32_t kind, bool parts, bool details = false) const;
    // The same walk without gathering: visit sees each record in turn (valid during the call only).
    void Visit(int32_t track, int32_t kind, bool parts, const std::function<void(const EntryInfo &)> &visit) const;
    // Walks the same catalogue again, with the engine's cursor on entry i while visit(i) runs.
    void Walk(int32_t track, int32_t kind, bool parts, const std::function<void(size_t)> &visit) const;
    int32_t PartCount(int32_t track, int32_t kind) const;
    // Folders of the catalogue left out because they lie too deep; 0 when the engine cannot tell.
    int32_t SkippedFolders(int32_t track, int32_t kind) const;

    // The first track that carries any file system; 0 when none does.
    int32_t DefaultTrack() const;
    // "auto": Rock Ridge (when the extensions are read), else Joliet, else UDF, else ISO 9660 by their file
    // counts (then by their system parts).
    int32_t ChooseKind(int32_t track, int32_t requested) const;

private:
    QorvexHandle handle_ = nullptr;
    uint32_t options_ = 0;
};

// The data sink behind the engine's progress callback: gathers each block into file (when set) or writes it
// to fd (when >= 0), and advances the progress line. A failed write stops the engine by returning 0.
struct Sink {
    host::OutputFile *file = nullptr;
    int fd = -1;
    Progress *progress = nullptr;
    int write_error = 0;
};
int32_t QORVEX_CALL SinkCallback(int32_t kind, void *user, const void *data, int32_t length);

Entry ToEntry(const EntryInfo &info);

// What a failed extraction through the engine's path export leaves at a path it made looks whole (the engine
// sizes the file first), so it is removed. A file that was there before is left: the failure may have come
// before the engine touched it.
class UnfinishedOutput {
public:
    explicit UnfinishedOutput(const std::string &path);
    void Remove() const;

private:
    std::string path_;
    bool existed_ = true;
};

const char *KindName(int32_t kind);
constexpr int32_t kKindOrder[] = {KIND_JOLIET, KIND_UDF, KIND_ISO9660, KIND_ROCKRIDGE};

}  // namespace cli
