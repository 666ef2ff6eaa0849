#include "sheets/toc_sheet.h"

#include "image/sector_format.h"
#include "platform/file.h"
#include "sheets/sheet_text.h"
#include "sheets/wave_file.h"

namespace qorvex::sheets {

namespace {

// Words of a TOC: quoted strings (kept with a leading quote to tell them from keywords), words and braces;
// "//" comments run to the line's end.
std::vector<std::string> Tokens(std::string_view text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == ',') {
            ++i;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (c == '"') {
            std::string word = "\"";
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;  // \" and \\ inside names
                word += text[i];
            }
            ++i;
            out.push_back(std::move(word));
        } else if (c == '{' || c == '}') {
            out.emplace_back(1, c);
            ++i;
        } else {
            size_t end = i;
            while (end < text.size() && std::string_view(" \t\r\n\f\v\",{}").find(text[end]) == std::string_view::npos)
                ++end;
            out.emplace_back(text.substr(i, end - i));
            i = end;
        }
    }
    return out;
}

struct TocMode {
    const char *word;
    int32_t format;     // without subchannel
    int32_t format_rw;  // with RW / RW_RAW subchannel data (96 bytes more)
    ModeProbe probe;
};

constexpr TocMode kModes[] = {
    {"AUDIO", kFormatAudio, kFormatAudio2448, ModeProbe::kNone},
    {"MODE0", kFormatMode0_2336, kFormatUnknown, ModeProbe::kNone},
    {"MODE1", kFormatMode1_2048, kFormatUnknown, ModeProbe::kNone},
    {"MODE1_RAW", kFormatMode1_2352, kFormatMode1_2448, ModeProbe::kNone},
    {"MODE2", kFormatMode2_2336, kFormatUnknown, ModeProbe::kNone},
    {"MODE2_FORM1", kFormatMode2_2048, kFormatUnknown, ModeProbe::kNone},
    {"MODE2_FORM2", kFormatMode2_2324, kFormatUnknown, ModeProbe::kNone},
    {"MODE2_FORM_MIX", kFormatMode2_2336Xa, kFormatUnknown, ModeProbe::kNone},
    {"MODE2_RAW", kFormatMode2_2352, kFormatMode2_2448, ModeProbe::kMode2Raw},
};

// One stretch of a track: stored in a file, or absent (silence, zeros, pregap).
struct Piece {
    bool stored = false;
    std::string name;
    int64_t offset = 0;   // bytes into the file
    int64_t length = -1;  // bytes; -1: to the file's end
    int64_t sectors = 0;  // absent sectors
    bool swap = false;    // SWAP: audio samples little-endian, the other way round from cdrdao's raw files
};

struct TocTrack {
    SheetTrack track;
    std::vector<Piece> pieces;
    int64_t start = -1;            // START: sectors from the track's beginning to index 1; -1 none
    std::vector<int64_t> indexes;  // INDEX: sectors from index 1
};

class TocParser {
public:
    explicit TocParser(std::vector<std::string> words) : w_(std::move(words)) {}

    Status Parse(std::vector<TocTrack> *tracks, DiscDetails *details) {
        while (i_ < w_.size()) {
            const std::string key = Upper(w_[i_++]);
            TocTrack *t = tracks->empty() ? nullptr : &tracks->back();
            if (key == "CD_DA" || key == "CD_ROM" || key == "CD_ROM_XA" || key == "CD_I" || key == "NO" ||
                key == "COPY" || key == "PRE_EMPHASIS" || key == "TWO_CHANNEL_AUDIO" || key == "FOUR_CHANNEL_AUDIO") {
                continue;
            } else if (key == "CATALOG") {
                if (!Quoted()) return Code::kUnknownFormat;
                details->catalog = w_[i_++].substr(1);
            } else if (key == "CD_TEXT") {
                QORVEX_TRY(SkipBlock());  // CD-TEXT packs are not kept
            } else if (key == "TRACK") {
                if (i_ >= w_.size() || tracks->size() >= kMaxTracks) return Code::kUnknownFormat;
                const std::string mode = Upper(w_[i_++]);
                bool rw = false;
                if (i_ < w_.size() && (Upper(w_[i_]) == "RW" || Upper(w_[i_]) == "RW_RAW")) rw = true, ++i_;
                const TocMode *found = nullptr;
                for (const TocMode &m : kModes)
                    if (mode == m.word) found = &m;
                if (!found || (rw && found->format_rw == kFormatUnknown)) return Code::kUnknownFormat;
                TocTrack track;
                track.track.number = static_cast<int32_t>(tracks->size() + 1);
                track.track.format = rw ? found->format_rw : found->format;
                track.track.probe = found->probe;
                tracks->push_back(std::move(track));
            } else if (!t) {
                return Code::kUnknownFormat;  // everything else belongs to a track
            } else if (key == "ISRC") {
                if (!Quoted()) return Code::kUnknownFormat;
                t->track.isrc = w_[i_++].substr(1);
            } else if (key == "SILENCE" || key == "PREGAP") {
                const int64_t sectors = Length(*t, false);
                if (sectors < 0) return Code::kUnknownFormat;
                // PREGAP is silence that ends where index 1 begins.
                if (key == "PREGAP" && (t->start >= 0 || !t->pieces.empty())) return Code::kUnknownFormat;
                t->pieces.push_back({false, {}, 0, 0, sectors});
                if (key == "PREGAP") t->start = sectors;
            } else if (key == "ZERO") {
                // ZERO [data mode] [subchannel mode] length
                while (i_ < w_.size() && Upper(w_[i_]).find(':') == std::string::npos && ParseNumber(w_[i_]) < 0 &&
                       !Quoted())
                    ++i_;
                const int64_t sectors = Length(*t, false);
                if (sectors < 0) return Code::kUnknownFormat;
                t->pieces.push_back({false, {}, 0, 0, sectors});
            } else if (key == "FILE" || key == "AUDIOFILE" || key == "DATAFILE") {
                QORVEX_TRY(FilePiece(*t, key == "DATAFILE"));
            } else if (key == "START") {
                if (t->start >= 0) return Code::kUnknownFormat;
                if (i_ < w_.size() && IsTime(w_[i_])) {
                    t->start = Length(*t, false);
                    if (t->start < 0) return Code::kUnknownFormat;
                } else {
                    t->start = Sectors(*t);  // what the track holds so far
                    if (t->start < 0) return Code::kUnknownFormat;
                }
            } else if (key == "INDEX") {
                const int64_t at = i_ < w_.size() ? Length(*t, false) : -1;
                if (at <= 0 || t->indexes.size() >= kMaxIndexes || (!t->indexes.empty() && at <= t->indexes.back()))
                    return Code::kUnknownFormat;
                t->indexes.push_back(at);
            } else {
                return Code::kUnknownFormat;
            }
        }
        return tracks->empty() ? Code::kUnknownFormat : Status::Ok();
    }

private:
    bool Quoted() const { return i_ < w_.size() && !w_[i_].empty() && w_[i_][0] == '"'; }
    static bool IsTime(const std::string &word) { return ParseMsf(word) >= 0 || ParseNumber(word) >= 0; }

    Status SkipBlock() {
        if (i_ >= w_.size() || w_[i_] != "{") return Code::kUnknownFormat;
        int depth = 0;
        do {
            if (w_[i_] == "{") ++depth;
            if (w_[i_] == "}") --depth;
            ++i_;
        } while (depth > 0 && i_ < w_.size());
        return depth == 0 ? Status::Ok() : Code::kUnknownFormat;
    }

    // A length or position: mm:ss:ff, or a plain number (samples of 4 bytes for audio, bytes for data
    // when `bytes` is asked for, else sectors are not allowed as a number). Answers sectors or bytes.
    int64_t Length(const TocTrack &t, bool bytes) {
        if (i_ >= w_.size()) return -1;
        const std::string &word = w_[i_++];
        const int32_t size = GetSectorFormat(t.track.format).stored;
        if (const int64_t frames = ParseMsf(word); frames >= 0) return bytes ? frames * size : frames;
        const int64_t n = ParseNumber(word);
        if (n < 0) return -1;
        const bool audio = !GetSectorFormat(t.track.format).data;
        const int64_t in_bytes = audio ? n * 4 : n;
        if (bytes) return in_bytes;
        return in_bytes % size == 0 ? in_bytes / size : -1;
    }

    // Sectors the track holds so far; -1 when a piece runs to its file's end (not known here).
    int64_t Sectors(const TocTrack &t) const {
        int64_t n = 0;
        const int32_t size = GetSectorFormat(t.track.format).stored;
        for (const Piece &p : t.pieces) {
            if (p.stored && (p.length < 0 || p.length % size != 0)) return -1;
            n += p.stored ? p.length / size : p.sectors;
        }
        return n;
    }

    // FILE "name" [SWAP] [#offset] start [length] / DATAFILE "name" [SWAP] [#offset] [length]
    Status FilePiece(TocTrack &t, bool data) {
        if (!Quoted()) return Code::kUnknownFormat;
        Piece p;
        p.stored = true;
        p.name = w_[i_++].substr(1);
        if (i_ < w_.size() && Upper(w_[i_]) == "SWAP") {
            p.swap = true;
            ++i_;
        }
        if (i_ < w_.size() && !w_[i_].empty() && w_[i_][0] == '#') {
            p.offset = ParseNumber(std::string_view(w_[i_]).substr(1));
            ++i_;
            if (p.offset < 0) return Code::kUnknownFormat;
        }
        if (!data) {
            const int64_t start = Length(t, true);
            if (start < 0) return Code::kUnknownFormat;
            p.offset += start;
        }
        if (i_ < w_.size() && IsTime(w_[i_])) {
            p.length = Length(t, true);
            if (p.length < 0) return Code::kUnknownFormat;
            if (p.length == 0) p.length = -1;  // cdrdao: a length of 0 is the rest of the file
        }
        t.pieces.push_back(std::move(p));
        return Status::Ok();
    }

    std::vector<std::string> w_;
    size_t i_ = 0;
};

// The pieces of every track in one stream: stored pieces become file windows; absent ones may stand only
// in front of the stored ones (a pregap) or behind them.
Status PlaceTracks(std::vector<TocTrack> &tracks, const SheetFolder &folder, SheetDisc *disc) {
    int64_t stream = 0;
    for (TocTrack &t : tracks) {
        const int32_t size = GetSectorFormat(t.track.format).stored;
        int64_t leading = 0, trailing = 0, stored = 0;
        const int64_t begin = stream;
        for (const Piece &p : t.pieces) {
            if (!p.stored) {
                (stored == 0 ? leading : trailing) += p.sectors;
                continue;
            }
            if (trailing > 0 || disc->files.size() >= kMaxFiles) return Code::kUnknownFormat;
            SheetFile file;
            file.path = folder.Find(p.name);
            if (file.path.empty()) return Code::kImageOpenFailed;
            file.named = file.path.substr(platform::LastSeparator(file.path) + 1);
            // cdrdao's convention: raw audio files hold big-endian samples, ".wav" files are WAVE files.
            FileWindow whole{0, platform::FindFileLength(file.path)};
            if (whole.length < 0) return Code::kImageOpenFailed;
            const bool audio = !GetSectorFormat(t.track.format).data;
            if (audio && Upper(file.named).ends_with(".WAV")) {
                QORVEX_TRY(ReadWaveWindow(file.path, &whole));
            } else {
                file.swapped = audio && !p.swap;
            }
            if (p.offset > whole.length || (p.length >= 0 && p.offset + p.length > whole.length))
                return Code::kUnknownFormat;  // a piece beyond its file
            file.window.skip = whole.skip + p.offset;
            file.window.length = p.length >= 0 ? p.length : whole.length - p.offset;
            stored += file.window.length;
            stream += file.window.length;
            disc->files.push_back(std::move(file));
        }
        if (stored % size != 0 || leading > kMaxSheetSectors || trailing > kMaxSheetSectors)
            return Code::kUnknownFormat;
        // Index 1: START counts from the track's beginning, silence included.
        const int64_t start = t.start < 0 ? leading : t.start;
        if (start < leading || start > leading + stored / size) return Code::kUnknownFormat;
        t.track.absent_pregap = static_cast<int32_t>(leading);
        t.track.absent_trailing = static_cast<int32_t>(trailing);
        t.track.begin = begin;
        t.track.index1 = begin + (start - leading) * size;
        t.track.has_index0 = start > 0;
        for (int64_t at : t.indexes) {
            if (start + at > leading + stored / size) return Code::kUnknownFormat;
            t.track.higher.push_back(t.track.index1 + at * size);
        }
        disc->tracks.push_back(t.track);
    }
    return disc->files.empty() ? Code::kUnknownFormat : Status::Ok();
}

}  // namespace

Status ReadTocSheet(std::string_view text, const SheetFolder &folder, SheetDisc *disc) {
    *disc = SheetDisc{};
    std::vector<TocTrack> tracks;
    TocParser parser(Tokens(text));
    QORVEX_TRY(parser.Parse(&tracks, &disc->details));
    disc->details.sheet = "toc";
    return PlaceTracks(tracks, folder, disc);
}

}  // namespace qorvex::sheets
