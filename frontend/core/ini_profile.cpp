#include "ini_profile.h"

#include <strings.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "platform.h"

namespace lumast {
namespace {

std::string Trim(const std::string &text) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

bool SameName(const std::string &a, const std::string &b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// "[name]" -> name; false for other lines.
bool SectionOf(const std::string &line, std::string *name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t[0] != '[') return false;
    const size_t close = t.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyOf(const std::string &line, std::string *key, std::string *value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') return false;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    *key = Trim(t.substr(0, eq));
    if (value) *value = Trim(t.substr(eq + 1));
    return true;
}

}  // namespace

std::vector<std::string> IniProfile::ReadLines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool IniProfile::Find(const std::string &section, const std::string &key, std::string *value) const {
    if (path_.empty()) return false;
    bool inside = false;
    for (const std::string &line : ReadLines()) {
        std::string name, k, v;
        if (SectionOf(line, &name)) {
            inside = SameName(name, section);
        } else if (inside && KeyOf(line, &k, &v) && SameName(k, key)) {
            // Values may be quoted; the quotes are not part of the value.
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            *value = v;
            return true;
        }
    }
    return false;
}

int32_t IniProfile::ParseInt(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint32_t value = 0;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        for (i += 2; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
    } else {
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

int32_t IniProfile::GetInt(const std::string &section, const std::string &key, int32_t default_value) const {
    std::string value;
    if (!Find(section, key, &value) || value.empty()) return default_value;
    return ParseInt(value);
}

std::string IniProfile::GetString(const std::string &section, const std::string &key,
                                  const std::string &default_value) const {
    std::string value;
    return Find(section, key, &value) ? value : default_value;
}

bool IniProfile::WriteInt(const std::string &section, const std::string &key, int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

bool IniProfile::WriteString(const std::string &section, const std::string &key, const std::string &value) {
    if (path_.empty()) return false;
    std::vector<std::string> lines = ReadLines();
    const std::string entry = key + "=" + value;
    bool inside = false, done = false;
    size_t section_end = std::string::npos;  // line after the last of the wanted section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name, k;
        if (SectionOf(lines[i], &name)) {
            inside = SameName(name, section);
            if (inside) section_end = i + 1;
        } else if (inside) {
            if (KeyOf(lines[i], &k, nullptr) && SameName(k, key)) {
                lines[i] = entry;
                done = true;
            } else if (!Trim(lines[i]).empty()) {
                section_end = i + 1;
            }
        }
    }
    if (!done) {
        if (section_end == std::string::npos) {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section_end), entry);
        }
    }
    std::ostringstream out;
    for (const std::string &line : lines) out << line << "\n";
    // Written to a new file first so that a failed write never leaves half a settings file.
    const std::string temp = path_ + ".new";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        file << out.str();
        if (!file.flush()) return false;
    }
    if (std::rename(temp.c_str(), path_.c_str()) != 0) {
        platform::DeleteFile(temp);
        return false;
    }
    return true;
}

}  // namespace lumast
