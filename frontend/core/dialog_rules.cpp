#include "dialog_rules.h"

#include <algorithm>

#include "string_table.h"
#include "text_format.h"

namespace lumast {

DestinationField DestinationKindRule(int kind, const std::string &folder, const std::string &documents) {
    switch (kind) {
        case 0: return {false, documents};
        case 2: return {true, folder.empty() ? documents : folder};
        default: return {false, {}};  // the image's folder is taken when extracting
    }
}

std::vector<NameFilter> ParseFilterResource(const std::string &resource) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t bar; (bar = resource.find('|', from)) != std::string::npos; from = bar + 1)
        fields.push_back(resource.substr(from, bar - from));
    std::vector<NameFilter> filters;
    // The list ends at the first empty text ("||").
    for (size_t i = 0; i + 1 < fields.size() && !fields[i].empty(); i += 2) {
        std::string patterns;
        size_t at = 0;
        const std::string &list = fields[i + 1];
        for (size_t semicolon; at < list.size(); at = semicolon + 1) {
            semicolon = std::min(list.find(';', at), list.size());
            if (semicolon == at) continue;
            if (!patterns.empty()) patterns += ' ';
            const std::string pattern = list.substr(at, semicolon - at);
            patterns += pattern == "*.*" ? "*" : pattern;
        }
        filters.push_back({fields[i], patterns});
    }
    return filters;
}

std::string OpenFilterResource(bool extensions) {
    if (!extensions) return LoadString(IDS_OPEN_FILTER);
    std::string shown, patterns;
    for (const char *extension : kImageExtensions) {
        shown += std::string(shown.empty() ? "" : ", ") + "*." + extension;
        patterns += std::string("*.") + extension + ";";
    }
    return Format(LoadString(IDS_OPEN_FILTER_EXTENDED), shown.c_str(), patterns.c_str());
}

int InitialVolumeKind(int present) {
    if (present & 2) return 2;
    if (present & 4) return 4;
    return 1;
}

namespace {
constexpr const char *kRecentSection = "Recent File List";
}

void RecentFileList::Read(const IniProfile &ini) {
    paths_.clear();
    for (int i = 1; i <= kSize; ++i) {
        const std::string path = ini.GetString(kRecentSection, Format("File%d", i));
        if (!path.empty() && std::find(paths_.begin(), paths_.end(), path) == paths_.end()) paths_.push_back(path);
    }
}

void RecentFileList::Write(IniProfile &ini) const {
    for (int i = 1; i <= kSize; ++i) {
        const size_t index = static_cast<size_t>(i - 1);
        ini.WriteString(kRecentSection, Format("File%d", i), index < paths_.size() ? paths_[index] : std::string());
    }
}

void RecentFileList::Add(const std::string &path) {
    if (path.empty()) return;
    paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
    paths_.insert(paths_.begin(), path);
    if (paths_.size() > kSize) paths_.resize(kSize);
}

void RecentFileList::Remove(size_t index) {
    if (index < paths_.size()) paths_.erase(paths_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace lumast
