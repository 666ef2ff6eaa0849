// A few decoded chunks of a container, the least recently used one given back first, so that reading a track
// in order decodes each chunk once and random reads stay within a fixed amount of memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace qorvex::containers {

class ChunkCache {
public:
    // Room for `slots` chunks of at most `chunk_bytes` each (taken as they are first used).
    ChunkCache(size_t slots, size_t chunk_bytes) : slots_(slots), chunk_bytes_(chunk_bytes) { held_.reserve(slots); }
    static uint64_t Footprint(size_t slots, size_t chunk_bytes) { return uint64_t(slots) * chunk_bytes; }

    // The decoded bytes of chunk `index`, or null when it is not held.
    const uint8_t *Find(int64_t index);
    // Whether chunk `index` is held (its place in the order of use unchanged).
    bool Holds(int64_t index) const;
    // A buffer for chunk `index` to be decoded into (the slot used longest ago); Keep it once decoding
    // succeeded.
    uint8_t *Take(int64_t index);
    void Keep(int64_t index);

private:
    struct Slot {
        int64_t index = -1;
        uint64_t used = 0;
        std::unique_ptr<uint8_t[]> bytes;
    };
    size_t slots_, chunk_bytes_;
    std::vector<Slot> held_;
    uint64_t clock_ = 0;
    Slot *taken_ = nullptr;
};

}  // namespace qorvex::containers
