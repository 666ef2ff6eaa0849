#include "name_shaping.h"

#include <cctype>
#include <vector>

#include "platform.h"
#include "text_format.h"

namespace lumast {
namespace {

constexpr const char *kYen = "\xEF\xBF\xA5";  // U+FFE5 FULLWIDTH YEN SIGN

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One name component made safe for the platform; empty when it cannot be used.
std::string SafeComponent(const std::string &component) {
    if (component.empty() || component == "." || component == "..") return {};
    std::string out;
    for (char c : component) out += (c == '/' || c == '\0') ? '_' : c;
    return out;
}

}  // namespace

std::string CutVersion(const std::string &name) {
    const size_t semicolon = name.rfind(';');
    return semicolon == std::string::npos ? name : name.substr(0, semicolon);
}

std::string ExtensionOf(const std::string &name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return name.substr(dot);
}

std::string ShapeFileName(const std::string &name, bool include_path, uint16_t extent_count, uint16_t extent_index,
                          bool numbered) {
    std::string shaped = CutVersion(name);
    if (include_path) {
        if (!shaped.empty() && shaped[0] == '\\') shaped.erase(0, 1);
    } else {
        const size_t slash = shaped.rfind('\\');
        if (slash != std::string::npos) shaped = shaped.substr(slash + 1);
    }
    if (numbered && extent_count > 1) shaped += Format("_%d_%d", extent_index + 1, extent_count);
    return shaped;
}

std::string ShapePartName(const std::string &name) {
    std::string out;
    for (char c : name) {
        if (c == '\\')
            out += kYen;
        else
            out += c;
    }
    return out;
}

bool JoinUnder(const std::string &destination, const std::string &image_path, std::string *target) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= image_path.size()) {
        size_t end = image_path.find('\\', start);
        if (end == std::string::npos) end = image_path.size();
        const std::string part = SafeComponent(image_path.substr(start, end - start));
        if (!part.empty()) parts.push_back(part);
        start = end + 1;
    }
    if (parts.empty()) return false;
    std::string out = WithSeparator(destination);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += platform::kSeparator;
        out += parts[i];
    }
    // Every component is a plain name now, so the target lies below the destination; checked once more.
    if (out.compare(0, WithSeparator(destination).size(), WithSeparator(destination)) != 0) return false;
    *target = out;
    return true;
}

std::string WithSeparator(const std::string &destination) {
    if (!destination.empty() && destination.back() == platform::kSeparator) return destination;
    return destination + platform::kSeparator;
}

std::string WithLabelFolder(const std::string &destination, const std::string &label) {
    const std::string safe = SafeComponent(label);
    if (safe.empty()) return destination;
    return WithSeparator(destination) + safe;
}

bool IsExecutableName(const std::string &name) {
    const std::string ext = Lower(ExtensionOf(CutVersion(name)));
    static const char *const kRefused[] = {".exe", ".com", ".msi", ".msp", ".lnk", ".pif", ".desktop"};
    for (const char *refused : kRefused)
        if (ext == refused) return true;
    return false;
}

bool OpensForEdit(const std::string &name) {
    const std::string ext = Lower(ExtensionOf(name));
    return ext == ".bat" || ext == ".cmd" || ext == ".sh";
}

bool MakeUniqueName(const std::string &path, std::string *unique) {
    if (!platform::Exists(path)) {
        *unique = path;
        return true;
    }
    const size_t slash = path.rfind(platform::kSeparator);
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string file = path.substr(folder.size());
    const size_t dot = file.rfind('.');
    const std::string base = dot == std::string::npos ? file : file.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
    for (int i = 1; i <= 65535; ++i) {
        const std::string candidate = folder + base + "[" + std::to_string(i) + "]" + ext;
        if (!platform::Exists(candidate)) {
            *unique = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace lumast
