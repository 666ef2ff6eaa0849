// The memory one open image may take for what its readers build (entries, extents, names, records).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace qorvex {

class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t bytes) : left_(bytes) {}

    // The budget of an open image: a floor that every ordinary disc fits in, plus a share proportional to
    // the image's size (a structure that costs more than this many bytes per stored byte is amplification),
    // with a ceiling.
    static MemoryBudget ForImage(int64_t image_bytes) {
        constexpr uint64_t kFloor = 64ull << 20, kPerByte = 16, kCeiling = 2ull << 30;
        const uint64_t size = image_bytes > 0 ? static_cast<uint64_t>(image_bytes) : 0;
        const uint64_t share = size > (kCeiling / kPerByte) ? kCeiling : size * kPerByte;
        const uint64_t total = kFloor + share;
        return MemoryBudget(total > kCeiling ? kCeiling : total);
    }

    // Takes n bytes from the budget; false (and nothing taken) once it would be overdrawn. After a refusal
    // every later charge is refused too, so a reader that misses one check cannot go on allocating.
    bool Charge(uint64_t n) {
        if (exhausted_ || n > left_) {
            exhausted_ = true;
            return false;
        }
        left_ -= n;
        return true;
    }
    bool Exhausted() const { return exhausted_; }
    uint64_t Left() const { return left_; }

private:
    uint64_t left_;
    bool exhausted_ = false;
};

// Gives a list room for `count` more items at once (when it needs more than it has), charging the budget for
// the room added. False when refused.
template <typename T>
bool ReserveMore(std::vector<T> &list, size_t count, MemoryBudget &budget) {
    const size_t wanted = list.size() + count;
    if (wanted <= list.capacity()) return true;
    if (!budget.Charge(uint64_t(wanted - list.capacity()) * sizeof(T))) return false;
    list.reserve(wanted);
    return true;
}

// Appends to a block list kept for the open image, charging the budget for the item and its share of the
// block it lands in. False, and nothing appended, when refused.
template <typename T, typename A, typename U>
bool Append(std::deque<T, A> &list, U &&item, MemoryBudget &budget) {
    if (!budget.Charge(sizeof(T) + sizeof(T) / 8)) return false;
    list.push_back(std::forward<U>(item));
    return true;
}
template <typename T, typename A>
bool ReserveMore(std::deque<T, A> &, size_t, MemoryBudget &) {
    return true;  // blocks are taken as the list grows
}

// Appends to a list kept for the open image, charging the budget for the room the list grows by (its whole
// new capacity, so that what is charged is what is allocated). False, and nothing appended, when refused.
template <typename T, typename U>
bool Append(std::vector<T> &list, U &&item, MemoryBudget &budget) {
    if (list.size() == list.capacity()) {
        const size_t grown = list.capacity() < 8 ? 8 : list.capacity() * 2;
        if (!budget.Charge(uint64_t(grown - list.capacity()) * sizeof(T))) return false;
        list.reserve(grown);
    }
    list.push_back(std::forward<U>(item));
    return true;
}

}  // namespace qorvex
