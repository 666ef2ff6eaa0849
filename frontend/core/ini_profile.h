// A settings file with private-profile semantics: sections and keys match without regard to ASCII case,
// integers read like GetPrivateProfileInt, a missing or unreadable file reads as empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumast {

class IniProfile {
public:
    IniProfile() = default;
    explicit IniProfile(std::string path) : path_(std::move(path)) {}

    const std::string &Path() const { return path_; }

    int32_t GetInt(const std::string &section, const std::string &key, int32_t default_value) const;
    std::string GetString(const std::string &section, const std::string &key,
                          const std::string &default_value = {}) const;
    // Writes the value into the file at once. False when the file cannot be written.
    bool WriteString(const std::string &section, const std::string &key, const std::string &value);
    bool WriteInt(const std::string &section, const std::string &key, int32_t value);

    // Integer parsing of GetPrivateProfileInt: optional blanks and sign, decimal or 0x hex, up to the first
    // other character; the value wraps to 32 bits.
    static int32_t ParseInt(const std::string &text);

private:
    bool Find(const std::string &section, const std::string &key, std::string *value) const;
    std::vector<std::string> ReadLines() const;

    std::string path_;
};

}  // namespace lumast
