// One listed file, folder or system part of a track's file system, and the listing a reader returns.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/block_pool.h"
#include "model/instant.h"
#include "model/kinds.h"
#include "model/memory_budget.h"

namespace qorvex {

constexpr int32_t kAttributeHidden = 0x02;
constexpr int32_t kAttributeDirectory = 0x10;

// A fixed text a system part's name starts with, kept apart from the name so that the part shares its path
// with the entry it lists instead of holding a copy.
enum class NamePrefix : uint8_t { kNone, kIsoFolder, kJolietFolder, kUdfEntry, kUdfFolder, kRockRidgeFolder };
std::string_view PrefixText(NamePrefix prefix);

struct CatalogueEntry {
    EntryKind kind = EntryKind::kNone;
    uint32_t details = 0;  // 1-based index into the listing's details; 0 = none (placed to fill padding)
    uint64_t size = 0;
    int64_t date = kNoDate;  // the recorded date as an instant (instant.h)
    int32_t attributes = 0;
    uint32_t extent = 0;        // absolute sector of the first logical block
    uint32_t sectors = 0;       // logical blocks covered from the extent
    uint32_t offset_bytes = 0;  // data offset from the start of the extent
    uint16_t extent_count = 1;
    uint16_t extent_index = 0;
    uint8_t file_flags = 0;  // the ISO 9660 directory record's flags byte
    NamePrefix prefix = NamePrefix::kNone;
    std::string_view name;  // held by the listing's NameStore

    // The name as hosts see it: the prefix, then the name.
    std::string FullName() const { return std::string(PrefixText(prefix)).append(name); }
};

// A list of entries grows in small blocks that are never moved: a listing of 100,000 files is written once,
// instead of being copied into ever larger arrays (each copy touching fresh pages). The blocks come from the
// pool's regions.
using Catalogue = std::deque<CatalogueEntry, PoolAllocator<CatalogueEntry>>;

// What a POSIX file system records of an entry beyond the catalogue's fields (Rock Ridge).
struct PosixDetails {
    uint32_t flags = 0;  // QORVEX_EX_* bits
    uint32_t mode = 0;
    uint32_t links = 0;
    uint32_t uid = 0;
    uint32_t gid = 0;
    uint64_t serial = 0;
    uint64_t device = 0;
    int64_t modified = kNoDate, accessed = kNoDate, changed = kNoDate, created = kNoDate;
    std::string_view link_target;  // held by the listing's NameStore
};

// The names of a listing, each stored once in blocks that never move, so that entries (and the extents of
// one file) share them instead of holding copies.
class NameStore {
public:
    // Copies `text` in; empty (and charges nothing) when the budget refuses.
    std::string_view Add(std::string_view text, MemoryBudget &budget);
    // "prefix" + "text" as one stored name.
    std::string_view Join(std::string_view prefix, std::string_view text, MemoryBudget &budget);

private:
    char *Reserve(size_t n, MemoryBudget &budget);

    struct GiveBack {
        size_t bytes;
        void operator()(char *block) const noexcept { GivePoolBlock(block, bytes); }
    };
    std::vector<std::unique_ptr<char, GiveBack>> blocks_;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

// What a file-system reader returns for one track: its label, its files and its system parts.
struct FsListing {
    bool found = false;
    std::string label;
    Catalogue files;
    Catalogue parts;
    NameStore names;
    int32_t skipped_folders = 0;        // folders listed but not entered because they lie too deep
    std::vector<PosixDetails> details;  // referred to by CatalogueEntry::details

    // Keeps details for an entry, charging the budget; the entry's reference, or 0 when refused.
    uint32_t AddDetails(const PosixDetails &posix, MemoryBudget &budget) {
        if (details.size() >= UINT32_MAX - 1 || !Append(details, posix, budget)) return 0;
        return static_cast<uint32_t>(details.size());
    }
    const PosixDetails *DetailsOf(const CatalogueEntry &entry) const {
        return entry.details > 0 && entry.details <= details.size() ? &details[entry.details - 1] : nullptr;
    }

    // Appends an entry, charging the budget; false (nothing added) when the budget refuses.
    bool AddFile(const CatalogueEntry &entry, MemoryBudget &budget) { return Add(files, entry, budget); }
    bool AddPart(const CatalogueEntry &entry, MemoryBudget &budget) { return Add(parts, entry, budget); }

private:
    static bool Add(Catalogue &list, const CatalogueEntry &entry, MemoryBudget &budget) {
        return Append(list, entry, budget);
    }
};

}  // namespace qorvex
