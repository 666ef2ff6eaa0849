// What a salvaged image lacks of a file: the sectors beyond its held end and those that fail to read.
#include <algorithm>
#include <functional>
#include <vector>

#include "catalogue/track_volume.h"
#include "platform/file.h"

namespace qorvex {

namespace {

constexpr int32_t kRunSectors = 256;

// Where a slot's bytes lie: the first sector and how many of its bytes come first (as the entry copy reads them).
struct SlotLayout {
    int64_t user = 0;
    int64_t first = 0;   // logical sector of byte 0
    int64_t offset = 0;  // byte 0's place in that sector
    uint64_t head = 0;   // bytes taken from the first sector

    SlotLayout(const CatalogueEntry &entry, int64_t u) : user(u) {
        offset = entry.offset_bytes;
        int64_t k = 0;
        if (offset > u) {
            k = (offset - 1) / u;
            offset -= k * u;
        }
        first = int64_t(entry.extent) + k;
        head = std::min<uint64_t>(static_cast<uint64_t>(u - offset), entry.size);
    }
    // The first byte held in sector `s` or after it.
    uint64_t ByteOf(int64_t s) const {
        if (s <= first) return 0;
        return head + static_cast<uint64_t>(s - first - 1) * static_cast<uint64_t>(user);
    }
};

void AddRange(std::vector<DamageRange> &ranges, uint64_t at, uint64_t n) {
    if (n == 0) return;
    if (!ranges.empty() && ranges.back().offset + ranges.back().length == at)
        ranges.back().length += n;
    else
        ranges.push_back({at, n});
}

// Goes through a slot's bytes in order: `take` gets each sector's share, with its data or null when the sector
// lies beyond `end` or fails to read. `read` false: nothing is read, held sectors come with null data and
// present = true.
using Take = std::function<bool(uint64_t at, uint64_t n, const uint8_t *data, bool present)>;
Status WalkSlot(const CatalogueEntry &entry, SectorReader &reader, int64_t end, bool read, const Take &take) {
    const int64_t u = reader.UserSize();
    if (u <= 0) return Code::kReadFailed;
    const SlotLayout layout(entry, u);
    if (!read) {
        const uint64_t held = end <= layout.first ? 0 : std::min<uint64_t>(layout.ByteOf(end), entry.size);
        if (held > 0 && !take(0, held, nullptr, true)) return Code::kAborted;
        if (held < entry.size && !take(held, entry.size - held, nullptr, false)) return Code::kAborted;
        return Status::Ok();
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(u) * kRunSectors);
    uint64_t at = 0;
    int64_t s = layout.first;
    while (at < entry.size) {
        // Sectors still needed: one more when the first sector holds only the tail of its bytes.
        const uint64_t needed =
            1 + (entry.size - at - 1) / static_cast<uint64_t>(u) + (s == layout.first && layout.offset > 0 ? 1 : 0);
        const int32_t run = static_cast<int32_t>(std::min<uint64_t>(needed, kRunSectors));
        int32_t good = 0;
        if (s < end && s <= INT32_MAX && reader.SeekSector(static_cast<int32_t>(s)))
            good = reader.ReadSectorRun(buffer.data(), static_cast<int32_t>(std::min<int64_t>(run, end - s)));
        // The good sectors, then the one that failed (or lies beyond the end); the next run starts after it.
        for (int32_t i = 0; i < run && at < entry.size; ++i) {
            const int64_t o = s == layout.first ? layout.offset : 0;
            const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(u - o), entry.size - at);
            const bool present = i < good;
            const uint8_t *data =
                present ? buffer.data() + static_cast<size_t>(i) * static_cast<size_t>(u) + o : nullptr;
            if (!take(at, n, data, present)) return Code::kAborted;
            at += n;
            ++s;
            if (!present) break;
        }
    }
    return Status::Ok();
}

}  // namespace

std::vector<const CatalogueEntry *> TrackVolume::Slots(int32_t kind, int32_t index, bool single, bool &zisofs,
                                                       Status &status) const {
    const Catalogue *list = Files(kind);
    status = Status::Ok();
    if (!list) {
        status = Code::kBadKind;
        return {};
    }
    if (index < 0 || static_cast<size_t>(index) >= list->size()) {
        status = Code::kNoCurrentEntry;
        return {};
    }
    const CatalogueEntry &entry = (*list)[static_cast<size_t>(index)];
    const FsListing *listing = catalogues_.Get(kind);
    const PosixDetails *posix = listing ? listing->DetailsOf(entry) : nullptr;
    zisofs = posix && (posix->flags & QORVEX_EX_ZISOFS);
    std::vector<const CatalogueEntry *> slots = single || zisofs ? std::vector{&entry} : JoinedSlots(entry);
    if (slots.empty()) status = Code::kNoCurrentEntry;
    return slots;
}

bool TrackVolume::BeyondEnd(const CatalogueEntry &entry) const {
    const int64_t u = reader_.UserSize();
    if (u <= 0 || entry.size == 0) return false;
    const SlotLayout layout(entry, u);
    const int64_t last =
        layout.first +
        (entry.size > layout.head ? 1 + static_cast<int64_t>((entry.size - layout.head - 1) / uint64_t(u)) : 0);
    return last >= reader_.Record().EndHeld();
}

Status TrackVolume::Damage(int32_t kind, int32_t index, bool single, bool read, SectorReader &reader,
                           std::vector<DamageRange> &ranges) const {
    ranges.clear();
    bool zisofs = false;
    Status status;
    const std::vector<const CatalogueEntry *> slots = Slots(kind, index, single, zisofs, status);
    QORVEX_TRY(status);
    uint64_t base = 0;
    for (const CatalogueEntry *slot : slots) {
        if (zisofs) {
            // The decoded size is not the stored one: any stored sector missing makes the whole file missing.
            CatalogueEntry stored = *slot;
            stored.size = uint64_t(slot->sectors) * static_cast<uint64_t>(std::max(reader.UserSize(), 0));
            bool lacking = false;
            const Status walked = WalkSlot(stored, reader, reader.Record().EndHeld(), read,
                                           [&](uint64_t, uint64_t, const uint8_t *, bool present) {
                                               lacking = lacking || !present;
                                               return !lacking;  // the first missing sector is enough
                                           });
            if (walked.Failed() && !lacking) return walked;
            if (lacking) AddRange(ranges, 0, slot->size);
            continue;
        }
        QORVEX_TRY(WalkSlot(*slot, reader, reader.Record().EndHeld(), read,
                            [&](uint64_t at, uint64_t n, const uint8_t *, bool present) {
                                if (!present) AddRange(ranges, base + at, n);
                                return true;
                            }));
        base += slot->size;
    }
    return Status::Ok();
}

Status TrackVolume::CopyFilled(int32_t kind, int32_t index, bool single, SectorReader &reader, platform::File &out,
                               const Progress &counter) const {
    bool zisofs = false;
    Status status;
    const std::vector<const CatalogueEntry *> slots = Slots(kind, index, single, zisofs, status);
    QORVEX_TRY(status);
    if (zisofs) return Code::kReadFailed;  // compressed data cannot be filled in
    const std::vector<uint8_t> zeros(static_cast<size_t>(std::max(reader.UserSize(), 1)), 0);
    bool written = true;
    for (const CatalogueEntry *slot : slots) {
        const Status walked = WalkSlot(*slot, reader, reader.Record().EndHeld(), true,
                                       [&](uint64_t, uint64_t n, const uint8_t *data, bool) {
                                           written = out.Write(data ? data : zeros.data(), static_cast<size_t>(n));
                                           return written && counter.Count(n);
                                       });
        if (!written) return Code::kWriteFailed;
        QORVEX_TRY(walked);
    }
    return out.Flush() ? Status::Ok() : Status(Code::kWriteFailed);
}

}  // namespace qorvex
