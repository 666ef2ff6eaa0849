#include "sheets/sheet_folder.h"

#include <algorithm>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"

namespace qorvex::sheets {

namespace {
char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameWithoutCase(const std::string &a, const std::string &b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Fold(x) == Fold(y); });
}
}  // namespace

std::string LastComponent(const std::string &named) {
    const size_t cut = platform::FindLastOf(named, "/\\");
    std::string name = cut == std::string::npos ? named : named.substr(cut + 1);
    // A drive prefix without a separator ("C:disc.bin") names a file of that drive's current folder.
    if (name.size() > 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z')) name.erase(0, 2);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) return {};
    return name;
}

std::string SheetFolder::Find(const std::string &named) const {
    const std::string name = LastComponent(named);
    if (name.empty()) return {};
    if (platform::IsPlainFile(folder_ + name)) return folder_ + name;
    std::vector<std::string> names = platform::ListFolder(folder_);
    std::sort(names.begin(), names.end());  // the same choice every time when several names match
    for (const std::string &candidate : names)
        if (SameWithoutCase(candidate, name) && platform::IsPlainFile(folder_ + candidate)) return folder_ + candidate;
    return {};
}

std::string SheetFolder::OnlyWithExtension(const std::string &extension) const {
    std::string found;
    for (const std::string &name : platform::ListFolder(folder_)) {
        if (name.size() <= extension.size() + 1 || name[name.size() - extension.size() - 1] != '.' ||
            !SameWithoutCase(name.substr(name.size() - extension.size()), extension) ||
            !platform::IsPlainFile(folder_ + name))
            continue;
        if (!found.empty()) return {};
        found = folder_ + name;
    }
    return found;
}

}  // namespace qorvex::sheets
