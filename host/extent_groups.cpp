#include "extent_groups.h"

#include <unordered_map>

namespace host {

std::vector<OutputGroup> GroupExtents(const std::vector<ListedEntry> &entries, bool udf) {
    std::vector<OutputGroup> groups;
    std::unordered_map<std::string, size_t> udf_files;  // name -> its group
    for (size_t i = 0; i < entries.size(); ++i) {
        const ListedEntry &e = entries[i];
        if (udf && e.extent_count > 1) {
            auto [it, added] = udf_files.emplace(e.name, groups.size());
            if (added) groups.push_back({{}, true, 0});
            groups[it->second].entries.push_back(i);
            groups[it->second].size += e.size;
            continue;
        }
        if (!udf && !groups.empty() && !groups.back().engine_joins) {
            OutputGroup &last = groups.back();
            const ListedEntry &previous = entries[last.entries.back()];
            if (last.entries.back() + 1 == i && previous.more_extents && previous.name == e.name) {
                last.entries.push_back(i);
                last.size += e.size;
                continue;
            }
        }
        groups.push_back({{i}, false, e.size});
    }
    return groups;
}

std::vector<size_t> GroupOfEntries(const std::vector<OutputGroup> &groups, size_t entry_count) {
    std::vector<size_t> of(entry_count, SIZE_MAX);
    for (size_t g = 0; g < groups.size(); ++g)
        for (size_t i : groups[g].entries) of[i] = g;
    return of;
}

}  // namespace host
