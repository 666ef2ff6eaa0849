#include "sheets/ccd_sheet.h"

#include <map>

#include "image/sector_format.h"
#include "platform/file.h"
#include "sheets/sheet_text.h"

namespace qorvex::sheets {

namespace {

constexpr int32_t kSectorBytes = 2352;
constexpr int64_t kLeadOutPoint = 0xA2;

// A value of the control file: decimal (possibly negative) or 0x hexadecimal; kMissing when absent or malformed.
constexpr int64_t kMissing = INT64_MIN;

int64_t Number(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') negative = true, text.remove_prefix(1);
    int64_t n = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.empty() || text.size() > 8) return kMissing;
        for (char c : text) {
            const int digit = c >= '0' && c <= '9'                     ? c - '0'
                              : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                                       : -1;
            if (digit < 0) return kMissing;
            n = n * 16 + digit;
        }
    } else {
        n = ParseNumber(text);
        if (n < 0) return kMissing;
    }
    return negative ? -n : n;
}

using Section = std::map<std::string, std::string>;  // upper-case key -> value

std::map<std::string, Section> ParseIni(std::string_view text) {
    std::map<std::string, Section> sections;
    Section *current = nullptr;
    for (std::string_view line : SplitLines(text)) {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &sections[Upper(line.substr(1, line.size() - 2))];
        } else if (const size_t eq = line.find('='); current && eq != std::string_view::npos) {
            std::string key = Upper(line.substr(0, eq));
            while (!key.empty() && key.back() == ' ') key.pop_back();
            std::string_view value = line.substr(eq + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            (*current)[key] = std::string(value);
        }
    }
    return sections;
}

int64_t Get(const Section &section, const std::string &key) {
    const auto it = section.find(key);
    return it == section.end() ? kMissing : Number(it->second);
}

}  // namespace

Status ReadCcdSheet(std::string_view text, const std::string &image_name, const SheetFolder &folder, SheetDisc *disc) {
    *disc = SheetDisc{};
    const std::map<std::string, Section> ini = ParseIni(text);
    const auto clone = ini.find("CLONECD"), about = ini.find("DISC");
    if (clone == ini.end() || about == ini.end()) return Code::kUnknownFormat;
    // The sectors of later sessions lie in the image after gaps whose length the control file does not say.
    if (const int64_t sessions = Get(about->second, "SESSIONS"); sessions != 1) return Code::kUnknownFormat;

    // The TOC entries: each track's start (point 1-99) and the lead-out (point 0xA2).
    std::map<int64_t, int64_t> starts;
    int64_t lead_out = kMissing;
    for (const auto &[name, section] : ini) {
        if (name.rfind("ENTRY ", 0) != 0) continue;
        const int64_t point = Get(section, "POINT"), lba = Get(section, "PLBA");
        if (point == kMissing || lba == kMissing) return Code::kUnknownFormat;
        if (point == kLeadOutPoint) lead_out = lba;
        if (point >= 1 && point <= 99) starts[point] = lba;
    }
    if (starts.empty() || lead_out == kMissing || starts.size() > kMaxTracks) return Code::kUnknownFormat;

    SheetFile image;
    image.path = folder.Find(image_name);
    if (image.path.empty()) return Code::kImageOpenFailed;
    image.named = image.path.substr(platform::LastSeparator(image.path) + 1);
    const int64_t length = platform::FindFileLength(image.path);
    if (length < 0) return Code::kImageOpenFailed;
    if (lead_out < 0 || lead_out > kMaxSheetSectors || lead_out * kSectorBytes > length) return Code::kUnknownFormat;
    image.window = {0, lead_out * kSectorBytes};  // what follows the lead-out is not the disc's
    disc->files.push_back(std::move(image));

    int32_t number = 0;
    for (const auto &[point, lba] : starts) {
        if (point != ++number) return Code::kUnknownFormat;  // tracks numbered from 1 without gaps
        const auto section = ini.find("TRACK " + std::to_string(point));
        SheetTrack t;
        t.number = number;
        const int64_t mode = section == ini.end() ? kMissing : Get(section->second, "MODE");
        if (mode == 0) {
            t.format = kFormatAudio;
        } else if (mode == 1) {
            t.format = kFormatMode1_2352;
        } else if (mode == 2) {
            t.format = kFormatMode2_2352;
            t.probe = ModeProbe::kMode2Raw;
        } else {
            return Code::kUnknownFormat;
        }
        const int64_t index1 = Get(section->second, "INDEX 1");
        const int64_t index0 = Get(section->second, "INDEX 0");
        if ((index1 != kMissing && index1 != lba) || lba < 0 || lba > lead_out) return Code::kUnknownFormat;
        t.index1 = lba * kSectorBytes;
        t.begin = t.index1;
        if (index0 != kMissing && number > 1) {
            if (index0 < 0 || index0 > lba) return Code::kUnknownFormat;
            t.begin = index0 * kSectorBytes;
            t.has_index0 = index0 < lba;
        }
        for (int64_t i = 2; i < 100; ++i) {
            const int64_t at = Get(section->second, "INDEX " + std::to_string(i));
            if (at == kMissing) break;
            if (at < 0 || at > lead_out) return Code::kUnknownFormat;
            t.higher.push_back(at * kSectorBytes);
        }
        disc->tracks.push_back(std::move(t));
    }
    disc->tracks.front().begin = 0;
    disc->details.sheet = "ccd";
    return Status::Ok();
}

}  // namespace qorvex::sheets
