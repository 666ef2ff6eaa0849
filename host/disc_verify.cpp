#include "disc_verify.h"

#include <algorithm>
#include <memory>

namespace host {

namespace {

constexpr int32_t kRun = 512;  // sectors read per call
constexpr int32_t kSplitSector = 2352;

// Adds sectors [sector, last] to the track's damaged ranges, joining them to the last range when they touch and
// agree on whether they are correctable.
void AddDamage(TrackScan &t, int32_t sector, int32_t last_sector, uint32_t faults, bool correctable, bool unreadable) {
    if (!t.damaged.empty()) {
        DamagedRange &last = t.damaged.back();
        if (last.last + 1 == sector && last.correctable == correctable && last.unreadable == unreadable) {
            last.last = last_sector;
            last.faults |= faults;
            return;
        }
    }
    if (t.damaged.size() >= kMaxRanges) {
        ++t.more_ranges;
        return;
    }
    t.damaged.push_back({sector, last_sector, faults, correctable, unreadable});
}

void Count(TrackScan &t, int32_t sector, uint32_t status) {
    const uint32_t faults = status & QORVEX_EX_SECTOR_FAULTS;
    if (faults == 0) {
        ++t.good;
        return;
    }
    t.sync += (faults & QORVEX_EX_SECTOR_SYNC) != 0;
    t.mode += (faults & QORVEX_EX_SECTOR_MODE) != 0;
    t.address += (faults & QORVEX_EX_SECTOR_ADDRESS) != 0;
    t.edc += (faults & QORVEX_EX_SECTOR_EDC) != 0;
    t.ecc += (faults & QORVEX_EX_SECTOR_ECC) != 0;
    t.subchannel += (faults & QORVEX_EX_SECTOR_SUBCHANNEL) != 0;
    const bool correctable = (status & QORVEX_EX_SECTOR_CORRECTABLE) != 0;
    t.correctable += correctable;
    t.corrected += (status & QORVEX_EX_SECTOR_CORRECTED) != 0;
    AddDamage(t, sector, sector, faults, correctable, false);
}

}  // namespace

bool DiscScan::Good() const {
    if (stopped || !error.empty()) return false;
    return std::all_of(tracks.begin(), tracks.end(), [](const TrackScan &t) { return t.Good(); });
}

std::string FaultNames(uint32_t faults) {
    static const std::pair<uint32_t, const char *> kNames[] = {
        {QORVEX_EX_SECTOR_SYNC, "sync"}, {QORVEX_EX_SECTOR_ADDRESS, "address"},
        {QORVEX_EX_SECTOR_MODE, "mode"}, {QORVEX_EX_SECTOR_EDC, "EDC"},
        {QORVEX_EX_SECTOR_ECC, "ECC"},   {QORVEX_EX_SECTOR_SUBCHANNEL, "subchannel Q"}};
    std::string out;
    for (const auto &[bit, name] : kNames)
        if (faults & bit) out += (out.empty() ? "" : ", ") + std::string(name);
    return out;
}

DiscScan ScanDisc(const RawAccess &access, const ScanOptions &options) {
    DiscScan scan;
    const int32_t count = access.track_count(access.handle);
    for (int32_t t = 0; t < count; ++t) {
        if (options.only_track >= 0 && t != options.only_track) continue;
        TrackScan track;
        track.index = t;
        if (access.track_info(access.handle, t, &track.info) != 0 ||
            (track.stored_size = access.raw_size(access.handle, t)) <= 0) {
            scan.error = "track " + std::to_string(t + 1) + " cannot be read";
            return scan;
        }
        track.sectors = std::max<int64_t>(0, int64_t(track.info.end_held) - track.info.first_held);
        scan.tracks.push_back(track);
    }
    int64_t total = 0, done = 0;
    for (const TrackScan &t : scan.tracks) total += t.sectors;

    const int32_t largest = 2448;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(kRun) * largest]);
    std::vector<uint32_t> status(kRun);
    DiscHasher whole;
    const bool one_track = scan.tracks.size() == 1;  // the whole is that track: hashed once
    uint32_t flags = options.check || options.repair ? QORVEX_EX_RAW_CHECK : 0;
    if (options.repair) flags |= QORVEX_EX_RAW_REPAIR;
    for (TrackScan &t : scan.tracks) {
        DiscHasher hasher;
        const int32_t size = t.stored_size;
        const int32_t split = std::min(size, kSplitSector);  // subchannel bytes are no part of a split track
        int32_t sector = t.info.first_held;
        const int32_t end = t.info.end_held;
        bool any_checked = false;
        while (sector < end) {
            const int32_t want = std::min(kRun, end - sector);
            const int32_t got = access.read_raw(access.handle, t.index, sector, want, buffer.get(),
                                                int64_t(kRun) * largest, flags, flags ? status.data() : nullptr);
            for (int32_t i = 0; i < std::max(got, 0); ++i) {
                const uint8_t *bytes = buffer.get() + int64_t(i) * size;
                if (flags) {
                    any_checked |= (status[static_cast<size_t>(i)] & QORVEX_EX_SECTOR_UNCHECKED) == 0;
                    Count(t, sector + i, status[static_cast<size_t>(i)]);
                    if ((status[static_cast<size_t>(i)] & QORVEX_EX_SECTOR_CORRECTED) && options.corrected &&
                        !options.corrected(t.index, sector + i, bytes, size)) {
                        scan.stopped = true;
                        return scan;
                    }
                } else {
                    ++t.good;
                }
                if (options.hash) {
                    hasher.Update(bytes, static_cast<size_t>(split));
                    if (!one_track) whole.Update(bytes, static_cast<size_t>(split));
                }
            }
            if (got < want) {  // the files end early: the rest is unreadable
                const int32_t from = sector + std::max(got, 0);
                t.unreadable += end - from;
                AddDamage(t, from, end - 1, 0, false, true);
                break;
            }
            sector += want;
            done += want;
            if (options.progress && !options.progress(done, total)) {
                scan.stopped = true;
                return scan;
            }
        }
        // A format with no sync, header or EDC (and no subchannel) has only its readability to show.
        t.checked = flags && (any_checked || t.sectors == 0) && t.sectors > 0;
        if (options.hash) t.hash = hasher.Finish();
    }
    if (options.hash) scan.whole = one_track ? scan.tracks[0].hash : whole.Finish();
    return scan;
}

}  // namespace host
