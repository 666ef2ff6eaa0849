#include "sheets/cue_sheet.h"

#include <algorithm>

#include "containers/ecm_source.h"
#include "image/sector_format.h"
#include "platform/file.h"
#include "sheets/cd_text.h"
#include "sheets/sheet_text.h"
#include "sheets/wave_file.h"

namespace qorvex::sheets {

namespace {

enum class FileType : uint8_t { kBinary, kMotorola, kWave };

struct CueFile {
    std::string name;
    FileType type = FileType::kBinary;
};

// An INDEX line: where in which file.
struct CuePoint {
    size_t file = 0;
    size_t track = 0;
    int32_t number = 0;
    int64_t frames = 0;
};

struct CueText {
    std::vector<CueFile> files;
    std::vector<SheetTrack> tracks;
    std::vector<CuePoint> points;  // in the sheet's order
    DiscDetails details;
    std::string cdtext;  // CDTEXTFILE
};

struct TrackMode {
    const char *word;
    int32_t format;
    ModeProbe probe;
};

// MODE2 and CDI sectors are told apart from their contents: CD-ROM XA (with a subheader) or formless.
constexpr TrackMode kModes[] = {
    {"AUDIO", kFormatAudio, ModeProbe::kNone},
    {"CDG", kFormatAudio2448, ModeProbe::kNone},
    {"MODE1/2048", kFormatMode1_2048, ModeProbe::kNone},
    {"MODE1/2352", kFormatMode1_2352, ModeProbe::kNone},
    {"MODE2/2048", kFormatMode2_2048, ModeProbe::kNone},
    {"MODE2/2324", kFormatMode2_2324, ModeProbe::kNone},
    {"MODE2/2336", kFormatMode2_2336Xa, ModeProbe::kMode2_2336},
    {"MODE2/2352", kFormatMode2_2352, ModeProbe::kMode2Raw},
    {"CDI/2336", kFormatMode2_2336Xa, ModeProbe::kMode2_2336},
    {"CDI/2352", kFormatMode2_2352, ModeProbe::kMode2Raw},
};

const TrackMode *FindMode(const std::string &word) {
    for (const TrackMode &mode : kModes)
        if (word == mode.word) return &mode;
    return nullptr;
}

// The sheet's lines into files, tracks and index points; only the order of the lines is checked here.
Status ParseLines(std::string_view text, CueText *cue) {
    int64_t session = 1;
    for (std::string_view line : SplitLines(text)) {
        const std::vector<std::string> w = SplitWords(line);
        if (w.empty()) continue;
        const std::string key = Upper(w[0]);
        SheetTrack *track = cue->tracks.empty() ? nullptr : &cue->tracks.back();
        if (key == "FILE") {
            if (w.size() < 3 || cue->files.size() >= kMaxFiles) return Code::kUnknownFormat;
            // An unquoted name may hold blanks: everything between FILE and the type is the name.
            std::string name = w[1];
            for (size_t i = 2; i + 1 < w.size(); ++i) name += " " + w[i];
            const std::string type = Upper(w.back());
            CueFile file{name, FileType::kBinary};
            if (type == "MOTOROLA")
                file.type = FileType::kMotorola;
            else if (type == "WAVE")
                file.type = FileType::kWave;
            else if (type != "BINARY")
                return Code::kUnknownFormat;  // AIFF, MP3 and the like hold no CD sectors
            cue->files.push_back(std::move(file));
        } else if (key == "TRACK") {
            if (w.size() < 3 || cue->files.empty() || cue->tracks.size() >= kMaxTracks) return Code::kUnknownFormat;
            const TrackMode *mode = FindMode(Upper(w[2]));
            const int64_t number = ParseNumber(w[1]);
            if (!mode || number < 1 || number > 99) return Code::kUnknownFormat;
            if (track && track->index1 < 0) return Code::kUnknownFormat;  // the track before has no INDEX 01
            SheetTrack t;
            t.number = static_cast<int32_t>(number);
            t.session = static_cast<uint8_t>(session);
            t.format = mode->format;
            t.probe = mode->probe;
            cue->tracks.push_back(std::move(t));
        } else if (key == "INDEX") {
            if (!track || w.size() < 3) return Code::kUnknownFormat;
            const int64_t number = ParseNumber(w[1]);
            const int64_t frames = ParseMsf(w[2]);
            if (number < 0 || number > 99 || frames < 0) return Code::kUnknownFormat;
            // Indexes come in rising order, 00 (the pregap) only first, 01 always.
            const CuePoint *before = cue->points.empty() ? nullptr : &cue->points.back();
            const bool first = !before || before->track + 1 != cue->tracks.size();
            if (first ? number > 1 : number <= before->number) return Code::kUnknownFormat;
            if (number >= 2 && track->higher.size() >= kMaxIndexes) return Code::kUnknownFormat;
            if (number == 0) track->has_index0 = true;
            if (number == 1) track->index1 = 0;  // placed in the stream later
            if (number >= 2) track->higher.push_back(0);
            cue->points.push_back(
                {cue->files.size() - 1, cue->tracks.size() - 1, static_cast<int32_t>(number), frames});
        } else if (key == "PREGAP" || key == "POSTGAP") {
            const int64_t frames = w.size() >= 2 ? ParseMsf(w[1]) : -1;
            if (!track || frames < 0) return Code::kUnknownFormat;
            (key == "PREGAP" ? track->absent_pregap : track->absent_trailing) = static_cast<int32_t>(frames);
        } else if (key == "REM") {
            if (w.size() >= 3 && Upper(w[1]) == "SESSION") {
                const int64_t n = ParseNumber(w[2]);
                // Sessions only go up; the layout check wants them numbered without gaps.
                if (n < session || n > 99) return Code::kUnknownFormat;
                session = n;
            }
        } else if (key == "TITLE" || key == "PERFORMER") {
            if (w.size() < 2) continue;
            std::string &field = key == "TITLE" ? (track ? track->title : cue->details.title)
                                                : (track ? track->performer : cue->details.performer);
            field = w[1];
        } else if (key == "CATALOG") {
            if (w.size() >= 2) cue->details.catalog = w[1];
        } else if (key == "ISRC") {
            if (track && w.size() >= 2) track->isrc = w[1];
        } else if (key == "CDTEXTFILE") {
            if (w.size() >= 2) cue->cdtext = w[1];
        }
        // Every other command (FLAGS, SONGWRITER, ...) says nothing about where sectors lie.
    }
    if (cue->tracks.empty() || cue->tracks.back().index1 < 0) return Code::kUnknownFormat;
    return Status::Ok();
}

// The files found in the sheet's folder, with the bytes that belong to the disc. A sheet of one BINARY file
// that is not there (renamed after the rip) reads the one BIN beside it whose length is whole sectors of
// its tracks, with a warning naming both.
Status FindFiles(const CueText &cue, const SheetFolder &folder, SheetDisc *disc) {
    const std::vector<CueFile> &files = cue.files;
    for (const CueFile &f : files) {
        SheetFile file;
        file.path = folder.Find(f.name);
        if (file.path.empty()) {
            // A BIN kept as ECM beside the sheet is read as the BIN it stands for.
            const std::string last = LastComponent(f.name);
            if (!last.empty() && f.type != FileType::kWave) file.path = folder.Find(last + ".ecm");
            if (!file.path.empty()) QORVEX_TRY(containers::OpenEcm(file.path, &file.source));
        }
        if (file.path.empty() && files.size() == 1 && f.type == FileType::kBinary) {
            const std::string other = folder.OnlyWithExtension("bin");
            const int64_t length = other.empty() ? -1 : platform::FindFileLength(other);
            bool whole = length > 0;
            for (const SheetTrack &t : cue.tracks) whole = whole && length % GetSectorFormat(t.format).stored == 0;
            if (whole) {
                file.path = other;
                disc->details.warning = "\"" + f.name + "\" is not there; read \"" +
                                        other.substr(platform::LastSeparator(other) + 1) + "\" instead";
            }
        }
        if (file.path.empty()) return Code::kImageOpenFailed;
        file.named = file.path.substr(platform::LastSeparator(file.path) + 1);
        file.swapped = f.type == FileType::kMotorola;
        if (f.type == FileType::kWave) {
            QORVEX_TRY(ReadWaveWindow(file.path, &file.window));
        } else {
            file.window.skip = 0;
            file.window.length = file.source ? file.source->Length() : platform::FindFileLength(file.path);
            if (file.window.length < 0) return Code::kImageOpenFailed;
        }
        disc->files.push_back(std::move(file));
    }
    return Status::Ok();
}

// Turns the INDEX positions (frames into each file) into byte positions of the files' stream. The sectors
// between two points belong to the track of the first one and have its size, so a file may mix sizes.
Status PlacePoints(const CueText &cue, SheetDisc *disc) {
    std::vector<int64_t> file_start(disc->files.size() + 1, 0);
    for (size_t i = 0; i < disc->files.size(); ++i) file_start[i + 1] = file_start[i] + disc->files[i].window.length;
    size_t owner = cue.points.empty() ? 0 : cue.points.front().track;
    size_t file = SIZE_MAX;
    int64_t frames = 0, byte = 0, short_bytes = 0;
    std::vector<size_t> higher_seen(cue.tracks.size(), 0);
    for (const CuePoint &p : cue.points) {
        if (p.file != file) {
            file = p.file;
            frames = 0;
            byte = 0;
        }
        if (p.frames < frames) return Code::kUnknownFormat;  // an index before the one above it
        byte += (p.frames - frames) * GetSectorFormat(cue.tracks[owner].format).stored;
        frames = p.frames;
        // A point beyond its file is at the file's end: the file is shorter than the sheet records.
        const int64_t length = disc->files[file].window.length;
        short_bytes = std::max(short_bytes, byte - length);
        SheetTrack &t = disc->tracks[p.track];
        const int64_t at = file_start[file] + std::min(byte, length);
        if (p.number == 0) t.begin = at;
        if (p.number == 1) {
            t.index1 = at;
            if (!t.has_index0) t.begin = at;
        }
        if (p.number >= 2) t.higher[higher_seen[p.track]++] = at;
        owner = p.track;
    }
    // Whatever the files hold in front of track 1's first index is its pregap.
    disc->tracks.front().begin = 0;
    disc->details.short_bytes = short_bytes;
    return Status::Ok();
}

}  // namespace

Status ReadCueSheet(std::string_view text, const SheetFolder &folder, SheetDisc *disc) {
    *disc = SheetDisc{};
    CueText cue;
    QORVEX_TRY(ParseLines(text, &cue));
    QORVEX_TRY(FindFiles(cue, folder, disc));
    disc->tracks = cue.tracks;
    const std::string warning = disc->details.warning;
    disc->details = cue.details;
    disc->details.warning = warning;
    disc->details.sheet = "cue";
    QORVEX_TRY(PlacePoints(cue, disc));
    // The CD-TEXT file is only text: a sheet whose file is missing still opens.
    if (!cue.cdtext.empty()) {
        const std::string path = folder.Find(cue.cdtext);
        const std::vector<uint8_t> packs = path.empty() ? std::vector<uint8_t>() : ReadCdTextFile(path);
        ApplyCdText(ByteView(packs.data(), packs.size()), disc);
    }
    return Status::Ok();
}

}  // namespace qorvex::sheets
