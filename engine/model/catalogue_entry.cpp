#include "model/catalogue_entry.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qorvex {

namespace {
constexpr size_t kBlockBytes = kPoolNameBytes;
}  // namespace

std::string_view PrefixText(NamePrefix prefix) {
    switch (prefix) {
        case NamePrefix::kNone: return {};
        case NamePrefix::kIsoFolder: return "iso9660 folder ";
        case NamePrefix::kJolietFolder: return "joliet folder ";
        case NamePrefix::kUdfEntry: return "udf entry  ";
        case NamePrefix::kUdfFolder: return "udf folder ";
        case NamePrefix::kRockRidgeFolder: return "rockridge folder ";
    }
    return {};
}

char *NameStore::Reserve(size_t n, MemoryBudget &budget) {
    if (n <= capacity_ - used_) {
        char *at = blocks_.back().get() + used_;
        used_ += n;
        return at;
    }
    const size_t block = std::max(n, kBlockBytes);
    if (!budget.Charge(block)) return nullptr;
    std::unique_ptr<char, GiveBack> taken(static_cast<char *>(TakePoolBlock(block)), GiveBack{block});
    blocks_.push_back(std::move(taken));
    capacity_ = block;
    used_ = n;
    return blocks_.back().get();
}

std::string_view NameStore::Add(std::string_view text, MemoryBudget &budget) {
    return Join({}, text, budget);
}

std::string_view NameStore::Join(std::string_view prefix, std::string_view text, MemoryBudget &budget) {
    const size_t n = prefix.size() + text.size();
    if (n == 0) return {};
    char *at = Reserve(n, budget);
    if (!at) return {};
    // An empty view may hold no pointer at all, which memcpy must not be given even for 0 bytes.
    if (!prefix.empty()) std::memcpy(at, prefix.data(), prefix.size());
    if (!text.empty()) std::memcpy(at + prefix.size(), text.data(), text.size());
    return std::string_view(at, n);
}

}  // namespace qorvex
