// One open image seen through the engine table: its tracks, the walks over its catalogues with every structured
// fact the extension exports give of an entry, and the file system a host shows when the user names none.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine_api.h"

namespace host {

// One catalogue entry as a walk delivers it, with what the extension exports add.
struct Entry {
    int32_t kind = 0;
    uint64_t size = 0;
    int32_t start = 0;
    int32_t sectors = 0;
    int32_t offset = 0;
    uint16_t extent_count = 0;
    uint16_t extent_index = 0;
    int32_t attributes = 0;
    int32_t time = 0;  // the base record's 32-bit date (0: none, or past what it holds)
    std::string name;  // as listed
    std::string path;  // the image path it names: the name without a system part's prefix
    uint32_t type = QORVEX_EX_TYPE_NONE;
    uint32_t ex_flags = 0;      // QORVEX_EX_*
    bool name_cut = false;      // the name did not fit the record and was cut
    bool more_extents = false;  // ISO 9660 / Joliet: the file goes on in the next record
    bool has_date = false;
    int64_t date = 0;                                // seconds since 1970 UTC, any year, with has_date
    uint32_t mode = 0, uid = 0, gid = 0, links = 0;  // with QORVEX_EX_POSIX
    uint64_t serial = 0, device = 0;
    std::string link_target;
    bool damaged = false;                // OPEN_SALVAGE: bytes of the entry lie beyond the image's end
    std::vector<QorvexExRange> missing;  // which of its bytes, with damaged (empty when the engine cannot tell)

    bool IsPosix() const { return (ex_flags & QORVEX_EX_POSIX) != 0; }
};

// A file system of a track as the hosts name it.
const char *KindName(int32_t kind);     // "ISO 9660", "Joliet", "UDF", "Rock Ridge"
const char *KindKeyword(int32_t kind);  // "iso9660", "joliet", "udf", "rockridge" (JSON, options)
constexpr int32_t kKindOrder[] = {KIND_JOLIET, KIND_UDF, KIND_ISO9660, KIND_ROCKRIDGE};

// The engine and one of its handles; the handle is closed with the disc only when the disc opened it.
class Disc {
public:
    explicit Disc(const EngineApi &api) : api_(&api) {}
    Disc(const EngineApi &api, QorvexHandle handle, uint32_t options)
        : api_(&api), handle_(handle), options_(options) {}
    ~Disc();
    Disc(const Disc &) = delete;
    Disc &operator=(const Disc &) = delete;

    // Opens an image; on failure the engine's code (ENGINE_UNKNOWN_FORMAT when it gave none).
    int32_t Open(const std::string &path, uint32_t options);
    const EngineApi &Api() const { return *api_; }
    QorvexHandle handle() const { return handle_; }
    uint32_t Options() const { return options_; }

    int32_t TrackCount() const;
    int32_t FileCount(int32_t track, int32_t kind) const;
    int32_t PartCount(int32_t track, int32_t kind) const;
    // Folders left out because they lie too deep; 0 when the engine cannot tell.
    int32_t SkippedFolders(int32_t track, int32_t kind) const;

    // The files (system parts with parts = true) of one kind of one track, in catalogue order, with details.
    std::vector<Entry> List(int32_t track, int32_t kind, bool parts) const;
    // The walk without gathering or details: visit sees each record (valid during the call only).
    void Visit(int32_t track, int32_t kind, bool parts, const std::function<void(const EntryInfo &)> &visit) const;
    // Walks the catalogue with the engine's cursor on entry i while visit(i) runs.
    void Walk(int32_t track, int32_t kind, bool parts, const std::function<void(size_t)> &visit) const;
    // Puts the walk's cursor on entry `index` (so that the current-entry exports act on it); false when the
    // catalogue is shorter.
    bool Seek(int32_t track, int32_t kind, bool parts, int32_t index) const;

    // What an open with OPEN_SALVAGE made of a cut or damaged track; false when nothing was salvaged there (or the
    // engine cannot tell).
    bool Salvaged(int32_t track, QorvexExSalvage *salvage) const;

    // The first track that carries any file system; 0 when none does.
    int32_t DefaultTrack() const;
    // The kinds of the track that have files or system parts, in kKindOrder.
    std::vector<int32_t> KindsPresent(int32_t track) const;
    // KIND_AUTO: with the extensions read, Rock Ridge when present, then Joliet, UDF (first when prefer_udf),
    // ISO 9660 by their file counts, then by their system parts; else the kind asked for.
    int32_t ChooseKind(int32_t track, int32_t requested, bool prefer_udf = false) const;

private:
    const EngineApi *api_;
    QorvexHandle handle_ = nullptr;
    uint32_t options_ = 0;
    bool owned_ = false;
};

// The bytes the ranges leave out.
uint64_t MissingBytes(const std::vector<QorvexExRange> &ranges);
// "4096-8191, 12288-16383" (first and last byte of each range).
std::string DescribeRanges(const std::vector<QorvexExRange> &ranges);

// Fills what the extension export tells of the entry the walk stands on. `damage` is given to QorvexExGetDamage:
// with QORVEX_EX_DAMAGE_READ every file's sectors are read for the ranges that fail, flagged or not.
void AddDetails(const EngineApi &api, QorvexHandle handle, bool parts, Entry *entry, uint32_t damage = 0);
// The damage flags a listing asks with under these open options: a read of each file when its sectors' EDC is
// checked on a salvaging open (a failing sector is only found by reading it), else none.
uint32_t DamageFlags(uint32_t open_options);
Entry ToEntry(const EntryInfo &info);

}  // namespace host
