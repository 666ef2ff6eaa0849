#include "name_shaping.h"

#include <cctype>

#include "platform.h"
#include "text_format.h"

namespace lumast {
namespace {

constexpr const char *kYen = "\xEF\xBF\xA5";  // U+FFE5 FULLWIDTH YEN SIGN

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string CutVersion(const std::string &name) {
    const size_t semicolon = name.rfind(';');
    if (semicolon == std::string::npos) return name;
    std::string cut = name.substr(0, semicolon);
    // The dot of an empty extension goes with the suffix ("B.;1" -> "B"), as other readers give the name.
    if (cut.size() > 1 && cut.back() == '.' && cut[cut.size() - 2] != '\\') cut.pop_back();
    return cut;
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

std::string WithSeparator(const std::string &destination) {
    if (!destination.empty() && destination.back() == platform::kSeparator) return destination;
    return destination + platform::kSeparator;
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

}  // namespace lumast
