#include "sheets/ccd_sheet.h"

#include <algorithm>
#include <map>
#include <vector>

#include "image/sector_format.h"
#include "platform/file.h"
#include "sheets/cd_text.h"
#include "sheets/sheet_text.h"

namespace qorvex::sheets {

namespace {

constexpr int32_t kSectorBytes = 2352;
constexpr int64_t kLeadOutPoint = 0xA2;
// Red Book: the lead-out after the first session and after each later one, the lead-in in front of every
// later session and the pregap of its first track.
constexpr int64_t kFirstLeadOut = 6750;
constexpr int64_t kLaterLeadOut = 2250;
constexpr int64_t kLeadIn = 4500;
constexpr int64_t kSessionPregap = 150;
// 8 blocks of at most 256 packs.
constexpr int64_t kMaxCdTextEntries = 8 * 256;

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

// A track as the control file gives it: its TOC entry and its [TRACK n] section.
struct CcdTrack {
    int64_t session = 1;
    int64_t lba = 0;     // of index 1
    int64_t pregap = 0;  // sectors of index 0 stored before it
    int64_t mode = kMissing;
    std::vector<int64_t> higher;  // sectors of index 2, 3, ... after index 1
};

Status ReadTrackSection(const std::map<std::string, Section> &ini, int64_t point, bool first, CcdTrack *t) {
    const auto section = ini.find("TRACK " + std::to_string(point));
    if (section == ini.end()) return Code::kUnknownFormat;
    t->mode = Get(section->second, "MODE");
    const int64_t index1 = Get(section->second, "INDEX 1");
    const int64_t index0 = Get(section->second, "INDEX 0");
    // The first session's indexes count from the disc start like the TOC; later sessions' are seen counted
    // from the session start, so only their distances are used.
    if (t->session == 1 && index1 != kMissing && index1 != t->lba) return Code::kUnknownFormat;
    const int64_t at1 = index1 == kMissing ? t->lba : index1;
    if (index0 != kMissing && !(t->session == 1 && first)) {
        if (index0 < 0 || index0 > at1) return Code::kUnknownFormat;
        t->pregap = at1 - index0;
    }
    for (int64_t i = 2; i < 100; ++i) {
        const int64_t at = Get(section->second, "INDEX " + std::to_string(i));
        if (at == kMissing) break;
        if (at < at1 || at - at1 > kMaxSheetSectors) return Code::kUnknownFormat;
        t->higher.push_back(at - at1);
    }
    return Status::Ok();
}

// The disc's CD-TEXT: the control file's [CDText] entries, else a .cdt beside the image.
void ApplyCcdText(const std::map<std::string, Section> &ini, const SheetFolder &folder, const std::string &image_name,
                  SheetDisc *disc) {
    std::vector<uint8_t> packs;
    if (const auto text = ini.find("CDTEXT"); text != ini.end()) {
        std::vector<std::string> entries;
        const int64_t count = Get(text->second, "ENTRIES");
        for (int64_t i = 0; i < std::min<int64_t>(count, kMaxCdTextEntries); ++i) {
            const auto entry = text->second.find("ENTRY " + std::to_string(i));
            if (entry == text->second.end()) break;
            entries.push_back(entry->second);
        }
        packs = PacksFromHexEntries(entries);
    } else if (const std::string cdt = folder.Find(image_name.substr(0, image_name.size() - 3) + "cdt"); !cdt.empty()) {
        packs = ReadCdTextFile(cdt);
    }
    ApplyCdText(ByteView(packs.data(), packs.size()), disc);
}

}  // namespace

Status ReadCcdSheet(std::string_view text, const std::string &image_name, const SheetFolder &folder, SheetDisc *disc) {
    *disc = SheetDisc{};
    const std::map<std::string, Section> ini = ParseIni(text);
    const auto clone = ini.find("CLONECD"), about = ini.find("DISC");
    if (clone == ini.end() || about == ini.end()) return Code::kUnknownFormat;
    const int64_t sessions = Get(about->second, "SESSIONS");
    if (sessions < 1 || sessions > int64_t(kMaxTracks)) return Code::kUnknownFormat;

    // The TOC entries: each track's start (point 1-99) and each session's lead-out (point 0xA2).
    std::map<int64_t, CcdTrack> tracks;
    std::map<int64_t, int64_t> lead_outs;  // session -> lead-out
    for (const auto &[name, section] : ini) {
        if (name.rfind("ENTRY ", 0) != 0) continue;
        const int64_t point = Get(section, "POINT"), lba = Get(section, "PLBA");
        int64_t session = Get(section, "SESSION");
        if (session == kMissing) session = 1;
        if (point == kMissing || lba == kMissing || session < 1 || session > sessions) return Code::kUnknownFormat;
        if (lba < 0 || lba > kMaxSheetSectors) {
            if (point == kLeadOutPoint || (point >= 1 && point <= 99)) return Code::kUnknownFormat;
            continue;
        }
        if (point == kLeadOutPoint && !lead_outs.emplace(session, lba).second) return Code::kUnknownFormat;
        if (point >= 1 && point <= 99) {
            CcdTrack t;
            t.session = session;
            t.lba = lba;
            if (!tracks.emplace(point, t).second) return Code::kUnknownFormat;
        }
    }
    if (tracks.empty() || tracks.size() > kMaxTracks || int64_t(lead_outs.size()) != sessions)
        return Code::kUnknownFormat;

    // The image holds each session from its first stored sector to its lead-out, the sessions one after the
    // other; the lead-out and lead-in between them and the pregap a later session's first track has on the
    // disc (beyond its stored index 0) are not in it.
    struct Span {
        int64_t first = -1;  // disc sector of the session's first stored sector
        int64_t image = 0;   // image sector holding it
    };
    std::map<int64_t, Span> spans;
    int64_t number = 0, session = 0, image_sectors = 0;
    for (auto &[point, t] : tracks) {
        if (point != ++number) return Code::kUnknownFormat;  // tracks numbered from 1 without gaps
        const bool first = t.session != session;
        if (t.session < session || (first && t.session != session + 1)) return Code::kUnknownFormat;
        QORVEX_TRY(ReadTrackSection(ini, point, number == 1, &t));
        if (first) {
            if (session > 0) image_sectors += lead_outs[session] - spans[session].first;
            session = t.session;
            Span &span = spans[session];
            span.first = session == 1 ? 0 : t.lba - t.pregap;
            span.image = image_sectors;
            if (session > 1 && span.first < lead_outs[session - 1]) return Code::kUnknownFormat;
        }
        if (t.lba < spans[session].first || t.lba >= lead_outs[session]) return Code::kUnknownFormat;
    }
    if (session != sessions) return Code::kUnknownFormat;
    image_sectors += lead_outs[session] - spans[session].first;

    SheetFile image;
    image.path = folder.Find(image_name);
    if (image.path.empty()) return Code::kImageOpenFailed;
    image.named = image.path.substr(platform::LastSeparator(image.path) + 1);
    const int64_t length = platform::FindFileLength(image.path);
    if (length < 0) return Code::kImageOpenFailed;
    if (image_sectors > kMaxSheetSectors) return Code::kUnknownFormat;
    // What follows the last lead-out is not the disc's; what is missing of it is told (details.short_bytes).
    const int64_t missing = std::max<int64_t>(image_sectors * kSectorBytes - length, 0);
    image.window = {0, image_sectors * kSectorBytes - missing};
    disc->files.push_back(std::move(image));
    // The subchannel file beside it counts only when it holds every sector's 96 bytes.
    const std::string sub = folder.Find(image_name.substr(0, image_name.size() - 3) + "sub");
    if (!sub.empty() && platform::FindFileLength(sub) >= image_sectors * kSubchannelSize) disc->subchannel = sub;

    for (const auto &[point, c] : tracks) {
        const Span &span = spans[c.session];
        const int64_t image_sector = span.image + (c.lba - span.first);
        SheetTrack t;
        t.number = static_cast<int32_t>(point);
        t.session = static_cast<uint8_t>(c.session);
        if (c.mode == 0) {
            t.format = kFormatAudio;
        } else if (c.mode == 1) {
            t.format = kFormatMode1_2352;
        } else if (c.mode == 2) {
            t.format = kFormatMode2_2352;
            t.probe = ModeProbe::kMode2Raw;
        } else {
            return Code::kUnknownFormat;
        }
        t.index1 = image_sector * kSectorBytes;
        t.begin = (image_sector - c.pregap) * kSectorBytes;
        t.has_index0 = c.pregap > 0;
        for (int64_t h : c.higher) t.higher.push_back((image_sector + h) * kSectorBytes);
        if (c.session > 1 && c.lba - c.pregap == span.first) {
            // A later session's first track: the disc's pregap in front of what the image holds is absent.
            const int64_t before =
                lead_outs[c.session - 1] + (c.session == 2 ? kFirstLeadOut : kLaterLeadOut) + kLeadIn;
            const int64_t pregap = c.lba - before;
            if (pregap < kSessionPregap || pregap < c.pregap) return Code::kUnknownFormat;
            t.absent_pregap = static_cast<int32_t>(pregap - c.pregap);
        }
        disc->tracks.push_back(std::move(t));
    }
    disc->tracks.front().begin = 0;
    disc->details.sheet = "ccd";
    disc->details.short_bytes = missing;
    ApplyCcdText(ini, folder, image_name, disc);
    return Status::Ok();
}

}  // namespace qorvex::sheets
