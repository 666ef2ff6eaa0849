#include "sheets/mds_sheet.h"

#include <algorithm>
#include <vector>

#include "image/sector_format.h"
#include "platform/file.h"
#include "platform/text.h"

namespace qorvex::sheets {

namespace {

constexpr size_t kHeader = 88;
constexpr size_t kVersion = 16;  // major, minor
constexpr size_t kMediumType = 18;
constexpr size_t kSessionCount = 20;
constexpr size_t kSessionBlocks = 80;  // offset of the session blocks

constexpr size_t kSessionBlock = 24;
constexpr size_t kSessionBlockCount = 10;  // blocks of the session (lead-in entries and tracks)
constexpr size_t kSessionTrackBlocks = 20;

constexpr size_t kTrackBlock = 80;
constexpr size_t kTrackMode = 0;
constexpr size_t kTrackSubchannel = 1;
constexpr size_t kTrackPoint = 4;
constexpr size_t kTrackExtra = 12;  // CD: offset of the extra block; DVD: the track's sectors
constexpr size_t kTrackSectorSize = 16;
constexpr size_t kTrackStartSector = 36;
constexpr size_t kTrackStartOffset = 40;
constexpr size_t kTrackFileCount = 48;
constexpr size_t kTrackFiles = 52;

constexpr size_t kExtraBlock = 8;  // pregap, length
constexpr size_t kFileBlock = 16;  // name offset, wide-character flag
constexpr uint8_t kSubchannelInterleaved = 0x08;

// Red Book: the lead-out after the first session and after each later one, the lead-in in front of every
// later session and the least pregap of its first track.
constexpr int64_t kFirstLeadOut = 6750;
constexpr int64_t kLaterLeadOut = 2250;
constexpr int64_t kLeadIn = 4500;
constexpr int64_t kSessionPregap = 150;

enum class Medium : uint8_t { kCd, kDvd };

// The low nibble of a track's mode byte is the sector mode (the high one does not matter).
enum class Mode : uint8_t { kAudio, kMode1, kMode2, kForm1, kForm2, kUnknown };

Mode ModeOf(uint8_t byte) {
    switch (byte & 0x07) {
        case 1: return Mode::kAudio;
        case 2: return Mode::kMode1;
        case 0:
        case 3:
        case 7: return Mode::kMode2;
        case 4: return Mode::kForm1;
        case 5: return Mode::kForm2;
        default: return Mode::kUnknown;
    }
}

// The sector format of a mode at a stored size (2448: 2352 with the 96 subchannel bytes interleaved).
struct Layout {
    Mode mode;
    int32_t size;
    int32_t format;
    ModeProbe probe;
};
constexpr Layout kLayouts[] = {
    {Mode::kAudio, 2352, kFormatAudio, ModeProbe::kNone},
    {Mode::kAudio, 2448, kFormatAudio2448, ModeProbe::kNone},
    {Mode::kMode1, 2048, kFormatMode1_2048, ModeProbe::kNone},
    {Mode::kMode1, 2352, kFormatMode1_2352, ModeProbe::kNone},
    {Mode::kMode1, 2448, kFormatMode1_2448, ModeProbe::kNone},
    {Mode::kMode2, 2336, kFormatMode2_2336, ModeProbe::kMode2_2336},
    {Mode::kMode2, 2352, kFormatMode2_2352, ModeProbe::kMode2Raw},
    {Mode::kMode2, 2448, kFormatMode2_2448, ModeProbe::kNone},
    {Mode::kForm1, 2048, kFormatMode2_2048, ModeProbe::kNone},
    {Mode::kForm1, 2336, kFormatMode2_2336Xa, ModeProbe::kNone},
    {Mode::kForm1, 2352, kFormatMode2Form1_2352, ModeProbe::kNone},
    {Mode::kForm1, 2448, kFormatMode2Form1_2448, ModeProbe::kNone},
    {Mode::kForm2, 2324, kFormatMode2_2324, ModeProbe::kNone},
    {Mode::kForm2, 2336, kFormatMode2_2336Xa, ModeProbe::kNone},
    {Mode::kForm2, 2352, kFormatMode2Form2_2352, ModeProbe::kNone},
    {Mode::kForm2, 2448, kFormatMode2Form2_2448, ModeProbe::kNone},
};

const Layout *FindLayout(Mode mode, int64_t size) {
    for (const Layout &l : kLayouts)
        if (l.mode == mode && l.size == size) return &l;
    return nullptr;
}

// A track as its block gives it.
struct MdsTrack {
    uint8_t session = 1;
    int32_t number = 0;
    const Layout *layout = nullptr;
    int64_t sector = 0;  // of index 1 on the disc
    int64_t offset = 0;  // byte of index 1 in the image files
    int64_t pregap = 0, length = 0;
    std::vector<std::string> files;  // as named
};

// The name at `at`: NUL-terminated bytes, or UTF-16LE units when `wide`; empty when it runs past the end.
std::string NameAt(const ByteView &mds, size_t at, bool wide) {
    if (!wide) {
        const std::string_view rest = mds.Text(at, mds.Size());
        const size_t end = rest.find('\0');
        return end == std::string_view::npos ? std::string() : std::string(rest.substr(0, end));
    }
    std::u16string units;
    for (size_t i = at; mds.Has(i, 2); i += 2) {
        const char16_t unit = mds.U16le(i);
        if (unit == 0) return platform::Utf16ToMultiByte(units);
        units.push_back(unit);
    }
    return {};
}

Status ReadFileNames(const ByteView &mds, size_t block, std::vector<std::string> *names) {
    const uint32_t count = mds.U32le(block + kTrackFileCount), at = mds.U32le(block + kTrackFiles);
    if (count == 0 || count > kMaxFiles || !mds.Has(at, size_t(count) * kFileBlock)) return Code::kUnknownFormat;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t file = at + size_t(i) * kFileBlock;
        std::string name = NameAt(mds, mds.U32le(file), mds.U32le(file + 4) != 0);
        if (name.empty()) return Code::kUnknownFormat;
        names->push_back(std::move(name));
    }
    return Status::Ok();
}

Status ReadTrack(const ByteView &mds, size_t block, Medium medium, MdsTrack *t) {
    const uint8_t subchannel = mds.U8(block + kTrackSubchannel);
    const int64_t size = mds.U16le(block + kTrackSectorSize);
    // Interleaved subchannel bytes come with 2448-byte sectors, and only with them.
    if ((subchannel == kSubchannelInterleaved) != (size == kMaxStoredSize) ||
        (subchannel != 0 && subchannel != kSubchannelInterleaved))
        return Code::kUnknownFormat;
    t->layout = FindLayout(ModeOf(mds.U8(block + kTrackMode)), size);
    if (!t->layout) return Code::kUnknownFormat;
    t->sector = static_cast<int32_t>(mds.U32le(block + kTrackStartSector));
    t->offset = static_cast<int64_t>(mds.U64le(block + kTrackStartOffset) & uint64_t(INT64_MAX));
    const uint32_t extra = mds.U32le(block + kTrackExtra);
    if (medium == Medium::kDvd) {
        t->length = extra;  // a DVD track has no extra block: the field holds its sectors
    } else {
        if (!mds.Has(extra, kExtraBlock)) return Code::kUnknownFormat;
        t->pregap = mds.U32le(extra);
        t->length = mds.U32le(extra + 4);
    }
    if (t->sector < 0 || t->sector > kMaxSheetSectors || t->pregap > kMaxSheetSectors || t->length > kMaxSheetSectors ||
        t->offset > kMaxSheetSectors * kMaxStoredSize)
        return Code::kUnknownFormat;
    return ReadFileNames(mds, block, &t->files);
}

// The image file a name stands for: "*.ext" is the descriptor's name with that extension.
std::string FindNamed(const std::string &named, const std::string &mds_name, const SheetFolder &folder) {
    if (named.size() > 2 && named[0] == '*' && named[1] == '.') {
        const size_t dot = mds_name.rfind('.');
        return folder.Find(mds_name.substr(0, dot) + named.substr(1));
    }
    return folder.Find(named);
}

}  // namespace

Status ReadMdsDescriptor(ByteView mds, const std::string &mds_name, const SheetFolder &folder, SheetDisc *disc) {
    *disc = SheetDisc{};
    if (mds.Size() < kHeader || !mds.Matches(0, "MEDIA DESCRIPTOR")) return Code::kUnknownFormat;
    // Version 2 descriptors (and MDX images) are encrypted: not readable here.
    if (mds.U8(kVersion) != 1) return Code::kUnknownFormat;
    const uint16_t type = mds.U16le(kMediumType);
    Medium medium;
    if (type <= 0x02) {
        medium = Medium::kCd;
    } else if (type == 0x10 || type == 0x12) {
        medium = Medium::kDvd;
    } else {
        return Code::kUnknownFormat;
    }
    const uint16_t sessions = mds.U16le(kSessionCount);
    const uint32_t session_blocks = mds.U32le(kSessionBlocks);
    if (sessions == 0 || sessions > kMaxTracks || !mds.Has(session_blocks, size_t(sessions) * kSessionBlock))
        return Code::kUnknownFormat;

    std::vector<MdsTrack> tracks;
    for (uint16_t s = 0; s < sessions; ++s) {
        const size_t session = session_blocks + size_t(s) * kSessionBlock;
        const uint8_t blocks = mds.U8(session + kSessionBlockCount);
        const uint32_t first = mds.U32le(session + kSessionTrackBlocks);
        if (!mds.Has(first, size_t(blocks) * kTrackBlock)) return Code::kUnknownFormat;
        const size_t before = tracks.size();
        for (size_t b = 0; b < blocks; ++b) {
            const size_t block = first + b * kTrackBlock;
            const uint8_t point = mds.U8(block + kTrackPoint);
            if (point < 1 || point > 99) continue;  // the lead-in entries (A0, A1, A2)
            if (tracks.size() >= kMaxTracks) return Code::kUnknownFormat;
            MdsTrack t;
            t.session = static_cast<uint8_t>(s + 1);
            t.number = point;
            QORVEX_TRY(ReadTrack(mds, block, medium, &t));
            tracks.push_back(std::move(t));
        }
        if (tracks.size() == before) return Code::kUnknownFormat;  // a session of no tracks
    }

    // The image files: every track names the same ones, read one after the other as one stream.
    for (const MdsTrack &t : tracks)
        if (t.files != tracks.front().files) return Code::kUnknownFormat;
    int64_t total = 0;
    for (const std::string &named : tracks.front().files) {
        SheetFile file;
        file.path = FindNamed(named, mds_name, folder);
        if (file.path.empty()) return Code::kImageOpenFailed;
        file.named = file.path.substr(platform::LastSeparator(file.path) + 1);
        const int64_t length = platform::FindFileLength(file.path);
        if (length < 0) return Code::kImageOpenFailed;
        file.window = {0, length};
        total += length;
        disc->files.push_back(std::move(file));
    }
    // A DVD track without its length runs to the end of the files.
    if (medium == Medium::kDvd && tracks.size() == 1 && tracks[0].length == 0)
        tracks[0].length = (total - tracks[0].offset) / tracks[0].layout->size;

    int64_t next = 0;      // stream byte after the sectors of the track before
    int64_t disc_end = 0;  // disc sector after them
    for (size_t k = 0; k < tracks.size(); ++k) {
        const MdsTrack &m = tracks[k];
        const int64_t size = m.layout->size;
        if (k > 0 && m.number <= tracks[k - 1].number) return Code::kUnknownFormat;
        // Sanity check that the track lies in the files after the one before; what lies between is its
        // pregap (the image may hold it or not).
        if (m.offset < next || (m.offset - next) % size != 0 || m.length <= 0 || m.offset + m.length * size > total)
            return Code::kUnknownFormat;
        const int64_t stored = (m.offset - next) / size;
        if (stored > std::max(m.pregap, k == 0 ? kSessionPregap : 0)) return Code::kUnknownFormat;
        SheetTrack t;
        t.number = m.number;
        t.session = m.session;
        t.format = m.layout->format;
        t.probe = m.layout->probe;
        t.begin = next;
        t.index1 = m.offset;
        t.has_index0 = m.pregap > 0;
        int64_t start = m.sector;
        if (k == 0) {
            // A data first track is at sector 0 whatever the block says: its volume counts from there.
            if (GetSectorFormat(t.format).data)
                start = 0;
            else
                disc->first_start = static_cast<int32_t>(start);
            t.absent_pregap = static_cast<int32_t>(std::max<int64_t>(0, m.pregap - stored));
        } else if (m.session != tracks[k - 1].session) {
            // A later session: after the lead-out before it and its lead-in.
            const int64_t before = disc_end + (tracks[k - 1].session == 1 ? kFirstLeadOut : kLaterLeadOut) + kLeadIn;
            const int64_t pregap = start - before;
            if (pregap < kSessionPregap || pregap < stored || pregap > kMaxSheetSectors) return Code::kUnknownFormat;
            t.absent_pregap = static_cast<int32_t>(pregap - stored);
        } else {
            // Index 0 where the pregap puts it, but never inside the track before (whose length may count the
            // pregap: it then starts where that track ends); a gap between them is that track's, not held by
            // the image. The stored sectors never lie inside the track before.
            if (start - stored < disc_end || start - disc_end > kMaxSheetSectors) return Code::kUnknownFormat;
            const int64_t index0 = std::max(disc_end, start - std::max(m.pregap, stored));
            disc->tracks.back().absent_trailing = static_cast<int32_t>(index0 - disc_end);
            t.absent_pregap = static_cast<int32_t>(start - index0 - stored);
        }
        disc_end = start + m.length;
        next = m.offset + m.length * size;
        if (disc_end > kMaxSheetSectors) return Code::kUnknownFormat;
        disc->tracks.push_back(std::move(t));
    }
    // What follows the last track's sectors is not the disc's.
    int64_t left = next;
    for (SheetFile &f : disc->files) {
        f.window.length = std::min(f.window.length, left);
        left -= f.window.length;
    }
    while (disc->files.size() > 1 && disc->files.back().window.length == 0) disc->files.pop_back();
    disc->details.sheet = "mds";
    return Status::Ok();
}

}  // namespace qorvex::sheets
