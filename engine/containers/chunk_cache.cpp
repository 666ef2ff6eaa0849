#include "containers/chunk_cache.h"

namespace qorvex::containers {

const uint8_t *ChunkCache::Find(int64_t index) {
    for (Slot &s : held_)
        if (s.index == index) {
            s.used = ++clock_;
            return s.bytes.get();
        }
    return nullptr;
}

bool ChunkCache::Holds(int64_t index) const {
    for (const Slot &s : held_)
        if (s.index == index) return true;
    return false;
}

uint8_t *ChunkCache::Take(int64_t) {
    Slot *slot = nullptr;
    if (held_.size() < slots_) {
        held_.push_back(Slot{-1, 0, std::make_unique<uint8_t[]>(chunk_bytes_)});
        slot = &held_.back();
    } else {
        slot = &held_.front();
        for (Slot &s : held_)
            if (s.used < slot->used) slot = &s;
    }
    slot->index = -1;  // nothing valid in it until Keep
    taken_ = slot;
    return slot->bytes.get();
}

void ChunkCache::Keep(int64_t index) {
    if (!taken_) return;
    taken_->index = index;
    taken_->used = ++clock_;
    taken_ = nullptr;
}

}  // namespace qorvex::containers
