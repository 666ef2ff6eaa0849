// One pass over the stored sectors of a disc through the engine's raw sector exports: what the checks of each
// sector found, per track, and the hashes of the tracks as a redump-style split (one file per track, each
// holding its stored pregap, 2352 bytes of a 2448-byte sector) and of the whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disc_hash.h"
#include "qorvex_ext.h"

namespace host {

// The exports a scan calls, however the host reached them (linked, or bound by name at run time).
struct RawAccess {
    QorvexHandle handle = nullptr;
    int32_t(QORVEX_CALL *track_count)(QorvexHandle) = nullptr;
    int32_t(QORVEX_CALL *track_info)(QorvexHandle, int32_t, TrackInfo *) = nullptr;
    int32_t(QORVEX_CALL *raw_size)(QorvexHandle, int32_t) = nullptr;
    int32_t(QORVEX_CALL *read_raw)(QorvexHandle, int32_t, int32_t, int32_t, void *, int64_t, uint32_t,
                                   uint32_t *) = nullptr;
};

// A run of damaged sectors (logical sector numbers, both ends included) and the faults found in it.
struct DamagedRange {
    int32_t first = 0, last = 0;
    uint32_t faults = 0;      // QORVEX_EX_SECTOR_* fault bits of its sectors together
    bool correctable = true;  // every sector in it is correctable
    bool unreadable = false;  // the image ends before these sectors
};

struct TrackScan {
    int32_t index = 0;  // 0-based, as the engine counts
    TrackInfo info{};
    int32_t stored_size = 0;
    bool checked = false;  // the format carries something to check beyond readability
    int64_t sectors = 0, good = 0, sync = 0, mode = 0, address = 0, edc = 0, ecc = 0, correctable = 0, corrected = 0,
            subchannel = 0, unreadable = 0;
    std::vector<DamagedRange> damaged;  // at most kMaxRanges; `more_ranges` counts the rest
    int64_t more_ranges = 0;
    DiscHash hash;

    bool Good() const { return good == sectors && unreadable == 0; }
};

struct ScanOptions {
    bool check = true;
    bool repair = false;  // correct what parity can (the corrected sector goes to `corrected`)
    bool hash = false;
    int32_t only_track = -1;  // 0-based; -1: every track
    // Called with each corrected sector (stored bytes) and its logical number; false stops the scan.
    std::function<bool(int32_t track, int32_t sector, const uint8_t *bytes, int32_t size)> corrected;
    // Called after each run of sectors with the sectors done and the total; false stops the scan.
    std::function<bool(int64_t done, int64_t total)> progress;
};

struct DiscScan {
    std::vector<TrackScan> tracks;
    DiscHash whole;        // the tracks' split bytes one after the other (with `hash`)
    bool stopped = false;  // a callback asked to stop
    std::string error;     // the engine refused a track (no scan made)

    bool Good() const;
};

constexpr size_t kMaxRanges = 10000;

DiscScan ScanDisc(const RawAccess &access, const ScanOptions &options);

// "EDC, ECC" ... for a range's faults.
std::string FaultNames(uint32_t faults);

}  // namespace host
