#include "model/block_pool.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/memory.h"

namespace qorvex {

namespace {

// AddressSanitizer checks each heap block on its own; the pool would hide overruns inside a region from it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

// The pool's size class for a request: 0 (none, the heap serves), a node or a name block.
size_t ClassOf(size_t bytes) {
    if (!kPooled || bytes == 0) return 0;
    if (bytes <= kPoolNodeBytes) return kPoolNodeBytes;
    return bytes == kPoolNameBytes ? kPoolNameBytes : 0;
}

// Blocks of one size: the ones given back, then the rest of the region being cut.
struct SizeClass {
    size_t bytes;
    void *free = nullptr;  // a list linked through the first word of each block
    char *next = nullptr;
    char *end = nullptr;
};

// Set once the pool is destroyed: from then on blocks come from the heap and what is given back is left alone
// (the pool itself is not touched again).
std::atomic<bool> g_pool_gone{false};

class Pool {
public:
    // With the library unloaded (or the process ending) every handle is closed already: the regions go back
    // to the system when no block is out. A block given back later is left alone.
    ~Pool() {
        std::lock_guard<std::mutex> guard(lock_);
        g_pool_gone.store(true);
        if (live_ != 0) return;
        for (char *region : regions_) platform::GiveRegion(region);
    }

    void *Take(size_t bytes) {
        std::lock_guard<std::mutex> guard(lock_);
        SizeClass &c = bytes == kPoolNodeBytes ? nodes_ : names_;
        ++live_;
        if (c.free) {
            void *block = c.free;
            c.free = *static_cast<void **>(block);
            return block;
        }
        if (c.next == c.end) {
            // Regions are kept while the library is loaded: their blocks are used again by later listings.
            char *region = static_cast<char *>(platform::TakeRegion());
            if (!region) return ::operator new(bytes);  // a heap block serves the same and joins the pool later
            regions_.push_back(region);
            c.next = region;
            c.end = region + platform::kRegionBytes;
        }
        void *block = c.next;
        c.next += c.bytes;
        return block;
    }
    void Give(void *block, size_t bytes) noexcept {
        std::lock_guard<std::mutex> guard(lock_);
        --live_;
        SizeClass &c = bytes == kPoolNodeBytes ? nodes_ : names_;
        *static_cast<void **>(block) = c.free;
        c.free = block;
    }

private:
    std::mutex lock_;
    size_t live_ = 0;  // blocks taken and not given back
    SizeClass nodes_{kPoolNodeBytes};
    SizeClass names_{kPoolNameBytes};
    std::vector<char *> regions_;
};

// Made when the library is loaded, so that it outlives the handle registry (made at the first open) and is
// destroyed after it.
Pool g_pool;

Pool &ThePool() {
    return g_pool;
}

}  // namespace

void *TakePoolBlock(size_t bytes) {
    const size_t size = ClassOf(bytes);
    if (size == 0 || g_pool_gone.load()) return ::operator new(size == 0 ? bytes : size);
    return ThePool().Take(size);
}

void GivePoolBlock(void *block, size_t bytes) noexcept {
    if (!block) return;
    const size_t size = ClassOf(bytes);
    if (size == 0) {
        ::operator delete(block);
        return;
    }
    if (!g_pool_gone.load()) ThePool().Give(block, size);
}

}  // namespace qorvex
