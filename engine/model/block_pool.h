// Blocks for the catalogues of open images: list nodes and name blocks, cut from large regions (a few
// page faults per region instead of one per small page) and kept for the next listing once let go. The pool
// is shared by every open image; what one image may keep is still bounded by its MemoryBudget.
#pragma once

#include <cstddef>
#include <new>

namespace qorvex {

constexpr size_t kPoolNodeBytes = 512;        // a list node: std::deque's block for small items
constexpr size_t kPoolNameBytes = 64 * 1024;  // a NameStore block

// A block of at least `bytes`: from the pool for a node (up to kPoolNodeBytes) or a name block, else from the
// heap. Throws std::bad_alloc as new does.
void *TakePoolBlock(size_t bytes);
// Gives back a block taken with the same `bytes`.
void GivePoolBlock(void *block, size_t bytes) noexcept;

// An allocator for lists whose nodes come from the pool.
template <typename T>
struct PoolAllocator {
    using value_type = T;
    PoolAllocator() = default;
    template <typename U>
    PoolAllocator(const PoolAllocator<U> &) {}
    T *allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T *>(TakePoolBlock(n * sizeof(T)));
    }
    void deallocate(T *p, size_t n) noexcept { GivePoolBlock(p, n * sizeof(T)); }
    friend bool operator==(const PoolAllocator &, const PoolAllocator &) { return true; }
    friend bool operator!=(const PoolAllocator &, const PoolAllocator &) { return false; }
};

}  // namespace qorvex
