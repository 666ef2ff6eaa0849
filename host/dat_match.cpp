#include "dat_match.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "utf8.h"

namespace host {

namespace {

constexpr size_t kMaxDepth = 64;  // Logiqx nests three deep; anything far deeper is not a DAT

std::string Lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Text with the five named entities and character references replaced; an unknown entity stays as written.
std::string Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        static const std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (const auto &[entity, c] : kNamed)
            if (name == entity) out += c, done = true;
        if (!done && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char *stop = nullptr;
            const unsigned long c = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (!digits.empty() && *stop == '\0' && c > 0 && c <= 0x10FFFF)
                AppendUtf8(out, static_cast<uint32_t>(c)), done = true;
        }
        if (!done) {
            out += text[i];
            continue;
        }
        i = end;
    }
    return out;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':' ||
           (static_cast<unsigned char>(c) & 0x80);
}

struct Tag {
    enum class Kind { kStart, kEnd, kText, kDone } kind = Kind::kDone;
    std::string_view name;
    std::vector<std::pair<std::string_view, std::string>> attributes;
    bool empty = false;  // <name ... />
    std::string text;
};

// The markup of one XML text, tag by tag.
class XmlReader {
public:
    explicit XmlReader(std::string_view text) : text_(text) {}
    // The next tag or text; false with error_ set when the text is not well formed.
    bool Next(Tag *tag);
    size_t Line() const { return static_cast<size_t>(std::count(text_.begin(), text_.begin() + at_, '\n')) + 1; }
    const std::string &Error() const { return error_; }

private:
    bool Fail(const std::string &what) {
        error_ = what;
        return false;
    }
    bool SkipPast(std::string_view end, const char *what) {
        const size_t found = text_.find(end, at_);
        if (found == std::string_view::npos) return Fail(std::string("unterminated ") + what);
        at_ = found + end.size();
        return true;
    }
    void SkipSpace() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    std::string_view Name() {
        const size_t from = at_;
        while (at_ < text_.size() && IsNameChar(text_[at_])) ++at_;
        return text_.substr(from, at_ - from);
    }
    bool Doctype();
    bool Element(Tag *tag);

    std::string_view text_;
    size_t at_ = 0;
    std::string error_;
};

bool XmlReader::Doctype() {
    // <!DOCTYPE name SYSTEM "..." [ internal subset ]>: quoted text and the subset may hold '>'.
    char quote = 0;
    for (int brackets = 0; at_ < text_.size(); ++at_) {
        const char c = text_[at_];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            ++at_;
            return true;
        }
    }
    return Fail("unterminated DOCTYPE");
}

bool XmlReader::Element(Tag *tag) {
    if (at_ >= text_.size()) return Fail("a tag cut short at the end");
    const bool end = text_[at_] == '/';
    if (end) ++at_;
    tag->name = Name();
    if (tag->name.empty()) return Fail("a tag without a name");
    tag->kind = end ? Tag::Kind::kEnd : Tag::Kind::kStart;
    for (;;) {
        SkipSpace();
        if (at_ >= text_.size()) return Fail("unterminated tag <" + std::string(tag->name) + ">");
        if (text_[at_] == '>') {
            ++at_;
            return true;
        }
        if (!end && text_.compare(at_, 2, "/>") == 0) {
            at_ += 2;
            tag->empty = true;
            return true;
        }
        if (end) return Fail("text in the end tag of <" + std::string(tag->name) + ">");
        const std::string_view name = Name();
        SkipSpace();
        if (name.empty() || at_ >= text_.size() || text_[at_] != '=')
            return Fail("a malformed attribute in <" + std::string(tag->name) + ">");
        ++at_;
        SkipSpace();
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\''))
            return Fail("an unquoted attribute value in <" + std::string(tag->name) + ">");
        const char quote = text_[at_++];
        const size_t close = text_.find(quote, at_);
        if (close == std::string_view::npos) return Fail("an unterminated attribute value");
        tag->attributes.emplace_back(name, Decode(text_.substr(at_, close - at_)));
        at_ = close + 1;
    }
}

bool XmlReader::Next(Tag *tag) {
    *tag = Tag{};
    while (at_ < text_.size()) {
        if (text_[at_] != '<') {
            const size_t from = at_;
            at_ = std::min(text_.find('<', at_), text_.size());
            const std::string_view raw = text_.substr(from, at_ - from);
            if (std::all_of(raw.begin(), raw.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
                continue;
            tag->kind = Tag::Kind::kText;
            tag->text = Decode(raw);
            return true;
        }
        ++at_;
        if (text_.compare(at_, 3, "!--") == 0) {
            if (!SkipPast("-->", "comment")) return false;
        } else if (text_.compare(at_, 8, "![CDATA[") == 0) {
            const size_t from = at_ + 8;
            if (!SkipPast("]]>", "CDATA section")) return false;
            tag->kind = Tag::Kind::kText;
            tag->text = std::string(text_.substr(from, at_ - 3 - from));
            return true;
        } else if (text_.compare(at_, 1, "?") == 0) {
            if (!SkipPast("?>", "processing instruction")) return false;
        } else if (text_.compare(at_, 1, "!") == 0) {
            if (!Doctype()) return false;
        } else {
            return Element(tag);
        }
    }
    tag->kind = Tag::Kind::kDone;
    return true;
}

std::string Attribute(const Tag &tag, std::string_view name) {
    for (const auto &[key, value] : tag.attributes)
        if (key == name) return value;
    return {};
}

bool ParseSize(const std::string &text, uint64_t *size) {
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *size = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

bool IsSheet(const std::string &name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = Lower(name.substr(dot + 1));
    return ext == "cue" || ext == "gdi" || ext == "ccd" || ext == "toc" || ext == "sub" || ext == "m3u";
}

}  // namespace

bool ParseDat(std::string_view text, Dat *dat, std::string *error) {
    *dat = Dat{};
    if (text.size() > kMaxDatBytes) {
        *error = "the DAT is larger than " + std::to_string(kMaxDatBytes >> 20) + " MiB";
        return false;
    }
    XmlReader reader(text);
    std::vector<std::string_view> open;
    DatGame *game = nullptr;
    Tag tag;
    const auto fail = [&](const std::string &what) {
        *error = "line " + std::to_string(reader.Line()) + ": " + what;
        return false;
    };
    for (;;) {
        if (!reader.Next(&tag)) return fail(reader.Error());
        if (tag.kind == Tag::Kind::kDone) break;
        if (tag.kind == Tag::Kind::kText) {
            // The header's <name>: the DAT's own name.
            if (open.size() >= 2 && open.back() == "name" && open[open.size() - 2] == "header") dat->name += tag.text;
            continue;
        }
        if (tag.kind == Tag::Kind::kEnd) {
            if (open.empty() || open.back() != tag.name)
                return fail("</" + std::string(tag.name) + "> closes " +
                            (open.empty() ? std::string("nothing") : "<" + std::string(open.back()) + ">"));
            if (tag.name == "game" || tag.name == "machine") game = nullptr;
            open.pop_back();
            continue;
        }
        if (tag.name == "game" || tag.name == "machine") {
            dat->games.push_back({Attribute(tag, "name"), {}});
            game = tag.empty ? nullptr : &dat->games.back();
        } else if ((tag.name == "rom" || tag.name == "disk") && game) {
            DatRom rom;
            rom.name = Attribute(tag, "name");
            const std::string size = Attribute(tag, "size");
            rom.has_size = !size.empty();
            if (rom.has_size && !ParseSize(size, &rom.size)) return fail("a size that is not a number: " + size);
            rom.crc32 = Lower(Attribute(tag, "crc"));
            rom.md5 = Lower(Attribute(tag, "md5"));
            rom.sha1 = Lower(Attribute(tag, "sha1"));
            game->roms.push_back(std::move(rom));
        }
        if (!tag.empty) {
            if (open.size() >= kMaxDepth) return fail("elements nested too deep");
            open.push_back(tag.name);
        }
    }
    if (!open.empty()) return fail("<" + std::string(open.back()) + "> is not closed");
    return true;
}

bool RomMatches(const DatRom &rom, const DiscHash &hash) {
    if (rom.has_size && rom.size != hash.size) return false;
    if (rom.crc32.empty() && rom.md5.empty() && rom.sha1.empty()) return false;
    return (rom.crc32.empty() || rom.crc32 == hash.crc32) && (rom.md5.empty() || rom.md5 == hash.md5) &&
           (rom.sha1.empty() || rom.sha1 == hash.sha1);
}

namespace {

// Matches the tracks to distinct entries of one game; answers how many matched.
size_t MatchIn(const DatGame &game, const std::vector<DiscHash> &tracks, std::vector<TrackMatch> *out) {
    std::vector<bool> used(game.roms.size());
    size_t matched = 0;
    out->assign(tracks.size(), {});
    for (size_t t = 0; t < tracks.size(); ++t)
        for (size_t r = 0; r < game.roms.size(); ++r)
            if (!used[r] && RomMatches(game.roms[r], tracks[t])) {
                used[r] = true;
                (*out)[t] = {&game, &game.roms[r], true};
                ++matched;
                break;
            }
    return matched;
}

// The entry a track should have matched: in `game` (when known) the one named for its track number, else the
// one of the nearest size.
TrackMatch Nearest(const Dat &dat, const DatGame *game, size_t track, const DiscHash &hash) {
    TrackMatch best;
    uint64_t best_distance = UINT64_MAX;
    const std::string numbered[] = {
        "(track " + std::to_string(track + 1) + ")",
        "(track " + std::string(track + 1 < 10 ? "0" : "") + std::to_string(track + 1) + ")"};
    const auto consider = [&](const DatGame &g) {
        for (const DatRom &rom : g.roms) {
            if (IsSheet(rom.name)) continue;
            const std::string name = Lower(rom.name);
            const bool named =
                name.find(numbered[0]) != std::string::npos || name.find(numbered[1]) != std::string::npos;
            const uint64_t distance = named && game          ? 0
                                      : rom.size > hash.size ? rom.size - hash.size
                                                             : hash.size - rom.size;
            if (distance < best_distance) best = {&g, &rom, false}, best_distance = distance;
        }
    };
    if (game)
        consider(*game);
    else
        for (const DatGame &g : dat.games) consider(g);
    return best;
}

}  // namespace

DatMatch MatchDat(const Dat &dat, const std::vector<DiscHash> &tracks) {
    DatMatch result;
    const DatGame *best = nullptr;
    size_t best_count = 0, best_misfit = SIZE_MAX;
    std::vector<TrackMatch> matches;
    for (const DatGame &game : dat.games) {
        const size_t count = MatchIn(game, tracks, &matches);
        const size_t entries = static_cast<size_t>(
            std::count_if(game.roms.begin(), game.roms.end(), [](const DatRom &r) { return !IsSheet(r.name); }));
        if (count == tracks.size() && entries == tracks.size() && !tracks.empty()) {
            result.game = &game;
            result.tracks = matches;
            return result;
        }
        // The most tracks matched; among equals, the entry count nearest the disc's.
        const size_t misfit = entries > tracks.size() ? entries - tracks.size() : tracks.size() - entries;
        if (count > best_count || (count == best_count && count > 0 && misfit < best_misfit))
            best = &game, best_count = count, best_misfit = misfit;
    }
    if (best)
        MatchIn(*best, tracks, &result.tracks);
    else
        result.tracks.assign(tracks.size(), {});
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (result.tracks[t].exact) continue;
        // Matched by another game's entry (a track shared between discs), else the nearest entry.
        for (const DatGame &game : dat.games)
            for (const DatRom &rom : game.roms)
                if (!result.tracks[t].exact && RomMatches(rom, tracks[t])) result.tracks[t] = {&game, &rom, true};
        if (!result.tracks[t].exact) result.tracks[t] = Nearest(dat, best, t, tracks[t]);
    }
    return result;
}

}  // namespace host
