// Small helpers over the public interface shared by the engine tests.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "qorvex.h"
#include "qorvex_ext.h"

namespace qorvex::test {

// An entry's size from its two 32-bit halves.
inline uint64_t EntrySize(const EntryInfo &e) {
    return uint64_t(e.size_low) | (uint64_t(e.size_high) << 32);
}

struct Listed {
    EntryInfo info{};
    std::string name() const { return info.name; }
    uint64_t size() const { return EntrySize(info); }
};

// An entry's kind, start, offset, size, sectors, time and attributes, to compare with an expected row.
using EntryRow = std::tuple<int32_t, int32_t, int32_t, uint64_t, int32_t, int32_t, int32_t>;
inline EntryRow Fields(const EntryInfo &e) {
    return {e.kind, e.start, e.offset, EntrySize(e), e.sectors, e.time, e.attributes};
}

// Walks the file (or system-part) catalogue of a kind through the exports, exactly as a host does, calling
// `after_next` on each entry just read (while it is the current one).
template <class Entry, class AfterNext>
std::vector<Entry> WalkCatalogue(QorvexHandle h, int32_t track, int32_t kind, bool parts, AfterNext after_next) {
    std::vector<Entry> out;
    int32_t left = parts ? QorvexGetModuleStart(h, track, kind) : QorvexGetFileStart(h, track, kind);
    while (left != 0) {
        Entry e;
        left = parts ? QorvexGetNextModule(h, &e.info) : QorvexGetNextFile(h, &e.info);
        after_next(e);
        out.push_back(e);
        if (out.size() > 1000000) break;
    }
    return out;
}

inline std::vector<Listed> ListEntries(QorvexHandle h, int32_t track, int32_t kind, bool parts = false) {
    return WalkCatalogue<Listed>(h, track, kind, parts, [](Listed &) {});
}

// The track table, every row read through QorvexGetTrackInfo.
inline std::vector<TrackInfo> TrackTable(QorvexHandle h) {
    std::vector<TrackInfo> table(static_cast<size_t>(QorvexGetTrackCount(h)));
    for (size_t i = 0; i < table.size(); ++i)
        if (QorvexGetTrackInfo(h, static_cast<int32_t>(i), &table[i]) != 0) table[i] = TrackInfo{};
    return table;
}

// A walked entry with the details QorvexExGetCurrentFile (QorvexExGetCurrentModule for parts) gave of it.
struct Detailed : Listed {
    QorvexExEntry ex{};
    int32_t details = -1;  // what the details call answered
};

inline std::vector<Detailed> ListDetailed(QorvexHandle h, int32_t track, int32_t kind, bool parts = false) {
    return WalkCatalogue<Detailed>(h, track, kind, parts, [&](Detailed &e) {
        e.ex.struct_size = sizeof e.ex;
        e.details = parts ? QorvexExGetCurrentModule(h, &e.ex) : QorvexExGetCurrentFile(h, &e.ex);
    });
}

inline std::vector<std::string> Names(const std::vector<Listed> &list) {
    std::vector<std::string> names;
    for (const Listed &e : list) names.push_back(e.name());
    return names;
}

// Opens an image and closes it at the end of the scope.
class Opened {
public:
    explicit Opened(const std::string &path, uint32_t options = 0) {
        handle_ = QorvexOpen(path.c_str(), options, &error_);
    }
    ~Opened() { QorvexClose(handle_); }
    Opened(const Opened &) = delete;
    Opened &operator=(const Opened &) = delete;
    QorvexHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    int32_t error() const { return error_; }

private:
    QorvexHandle handle_ = nullptr;
    int32_t error_ = 0;
};

// Collects every block handed to the progress callback.
struct Collector {
    std::vector<std::vector<uint8_t>> blocks;
    int stop_at = -1;  // 0-based call that answers 0; -1 never
    static int32_t QORVEX_CALL Callback(int32_t kind, void *user, const void *data, int32_t length) {
        auto *self = static_cast<Collector *>(user);
        if (kind != CALLBACK_DATA) return 0;
        const auto *p = static_cast<const uint8_t *>(data);
        self->blocks.emplace_back(p, p + length);
        return static_cast<int>(self->blocks.size()) - 1 == self->stop_at ? 0 : 1;
    }
    std::vector<uint8_t> Joined() const {
        std::vector<uint8_t> all;
        for (const auto &b : blocks) all.insert(all.end(), b.begin(), b.end());
        return all;
    }
};

}  // namespace qorvex::test
