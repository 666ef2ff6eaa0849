#include "sheets/cdi_sheet.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/sector_format.h"
#include "platform/file.h"

namespace qorvex::sheets {

namespace {

constexpr uint32_t kVersion2 = 0x80000004, kVersion3 = 0x80000005, kVersion35 = 0x80000006;
constexpr size_t kTrailer = 8;
// A descriptor of 99 tracks with every optional field stays far below this.
constexpr int64_t kMaxDescriptorBytes = 1 << 20;
// Every track block opens with this mark, twice.
constexpr uint8_t kStartMark[10] = {0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
// The word in front of a block written by 3.00.780 or later, when not 0, is followed by 8 more bytes; a 4.x
// block holds 8 bytes more after its file name; a 3.x block from 3.00.780 on 78 more at its end.
constexpr uint32_t kVersion4Flag = 0x80000000;
constexpr uint32_t kLongTail = 0xFFFFFFFF;
constexpr size_t kAfterName = 19;   // a NUL, 10 bytes, 2 words
constexpr size_t kAfterCtl = 25;    // a byte, the total length again, 20 bytes (ISRC and its flag)
constexpr size_t kSessionEnd = 12;  // session type, 0, the last session's start (and a byte from 3.0 on)
constexpr size_t kCdTextFields = 18;
constexpr uint32_t kMaxIndexes = 99;

// Red Book: the lead-out after the first session and after each later one, the lead-in in front of every
// later session and the least pregap of its first track; sector 0 is at 00:02:00.
constexpr int64_t kFirstLeadOut = 6750;
constexpr int64_t kLaterLeadOut = 2250;
constexpr int64_t kLeadIn = 4500;
constexpr int64_t kSessionPregap = 150;
constexpr int64_t kMsfOffset = 150;

// A sector size code: 0 2048, 1 2336, 2 2352, 4 2352 + 96 subchannel bytes (3, with 16 bytes of Q, is not read).
int32_t SectorSize(uint32_t code) {
    switch (code) {
        case 0: return 2048;
        case 1: return 2336;
        case 2: return 2352;
        case 4: return kMaxStoredSize;
        default: return 0;
    }
}

// The format of a track mode (0 audio, 1 Mode 1, 2 Mode 2) at a sector size.
int32_t FormatOf(uint32_t mode, int32_t size, ModeProbe *probe) {
    *probe = ModeProbe::kNone;
    if (mode == 0) return size == 2352 ? kFormatAudio : size == kMaxStoredSize ? kFormatAudio2448 : kFormatUnknown;
    if (mode == 1) {
        if (size == 2048) return kFormatMode1_2048;
        if (size == 2352) return kFormatMode1_2352;
        return size == kMaxStoredSize ? kFormatMode1_2448 : kFormatUnknown;
    }
    if (mode != 2) return kFormatUnknown;
    switch (size) {
        case 2048: return kFormatMode2_2048;
        case 2336: *probe = ModeProbe::kMode2_2336; return kFormatMode2_2336;
        case 2352: *probe = ModeProbe::kMode2Raw; return kFormatMode2_2352;
        default: return kFormatMode2_2448;
    }
}

// A track as its block gives it.
struct CdiTrack {
    uint8_t session = 1;
    uint32_t mode = 0;
    int32_t size = 0;
    int64_t start = 0;               // disc sector of index 0, counted from 00:00:00
    int64_t pregap = 0, length = 0;  // sectors
    std::vector<int64_t> indexes;    // sectors from index 1 to index 2, 3, ...
};

Status ReadTrack(const ByteView &v, uint32_t version, size_t *at, CdiTrack *t) {
    size_t p = *at;
    if (v.U32le(p) != 0) p += 8;
    p += 4;
    if (!v.Has(p, 2 * sizeof kStartMark) || std::memcmp(v.Data() + p, kStartMark, sizeof kStartMark) != 0 ||
        std::memcmp(v.Data() + p + sizeof kStartMark, kStartMark, sizeof kStartMark) != 0)
        return Code::kUnknownFormat;
    p += 2 * sizeof kStartMark + 4;
    p += 1 + v.U8(p) + kAfterName;  // the file name: the image's own
    if (v.U32le(p) == kVersion4Flag) p += 8;
    p += 4;
    const uint32_t indexes = v.U16le(p);
    p += 2;
    if (indexes < 2 || indexes > kMaxIndexes) return Code::kUnknownFormat;
    int64_t sum = 0;
    for (uint32_t i = 0; i < indexes; ++i, p += 4) {
        const int64_t length = v.U32le(p);
        if (i == 0) t->pregap = length;
        if (i >= 2) t->indexes.push_back(sum - t->pregap);
        sum += length;
    }
    t->length = sum - t->pregap;
    const uint32_t texts = v.U32le(p);
    p += 4;
    if (texts > kMaxIndexes) return Code::kUnknownFormat;
    for (uint32_t i = 0; i < texts * kCdTextFields && !v.Overrun(); ++i) p += 1 + v.U8(p);
    p += 2;
    t->mode = v.U32le(p);
    const uint32_t session = v.U32le(p + 8);
    t->start = v.U32le(p + 16);
    const int64_t total = v.U32le(p + 20);
    p += 24 + 16;
    t->size = SectorSize(v.U32le(p));
    p += 4 + 4 + kAfterCtl;
    if (version != kVersion2) {
        p += 5;
        if (v.U32le(p) == kLongTail) p += 78;
        p += 4;
    }
    if (v.Overrun() || p > v.Size()) return Code::kUnknownFormat;
    if (t->size == 0 || total != sum || t->length == 0 || sum > kMaxSheetSectors || t->start > kMaxSheetSectors ||
        session > kMaxTracks)
        return Code::kUnknownFormat;
    *at = p;
    return Status::Ok();
}

}  // namespace

Status ReadCdiImage(const std::string &path, SheetDisc *disc) {
    *disc = SheetDisc{};
    const int64_t length = platform::FindFileLength(path);
    if (length < 0) return Code::kImageOpenFailed;
    if (length < int64_t(kTrailer)) return Code::kUnknownFormat;
    platform::File file;
    uint8_t trailer[kTrailer];
    if (!file.OpenRead(path) || !file.Seek(length - int64_t(kTrailer)) ||
        file.Read(trailer, int64_t(kTrailer)) != int64_t(kTrailer))
        return Code::kImageOpenFailed;
    const ByteView t(trailer, kTrailer);
    const uint32_t version = t.U32le(0), offset = t.U32le(4);
    if (version != kVersion2 && version != kVersion3 && version != kVersion35) return Code::kUnknownFormat;
    const int64_t header = version == kVersion35 ? length - int64_t(offset) : int64_t(offset);
    if (header < 0 || header > length - int64_t(kTrailer) || length - header > kMaxDescriptorBytes)
        return Code::kUnknownFormat;
    std::vector<uint8_t> tail(static_cast<size_t>(length - header));
    if (!file.Seek(header) || file.Read(tail.data(), int64_t(tail.size())) != int64_t(tail.size()))
        return Code::kImageOpenFailed;
    return ReadCdiDescriptor(ByteView(tail.data(), tail.size()), header, path, disc);
}

Status ReadCdiDescriptor(ByteView tail, int64_t data_end, const std::string &path, SheetDisc *disc) {
    *disc = SheetDisc{};
    if (tail.Size() < kTrailer + 2) return Code::kUnknownFormat;
    const uint32_t version = tail.U32le(tail.Size() - kTrailer);
    if (version != kVersion2 && version != kVersion3 && version != kVersion35) return Code::kUnknownFormat;
    const ByteView v = tail.Sub(0, tail.Size() - kTrailer);
    const uint16_t sessions = v.U16le(0);
    if (sessions == 0 || sessions > kMaxTracks) return Code::kUnknownFormat;
    std::vector<CdiTrack> tracks;
    size_t at = 2;
    for (uint16_t s = 0; s < sessions; ++s) {
        const uint16_t count = v.U16le(at);
        at += 2;
        if (count == 0 || tracks.size() + count > kMaxTracks) return Code::kUnknownFormat;
        for (uint16_t k = 0; k < count; ++k) {
            CdiTrack t;
            t.session = static_cast<uint8_t>(s + 1);
            QORVEX_TRY(ReadTrack(v, version, &at, &t));
            tracks.push_back(std::move(t));
        }
        at += kSessionEnd + (version == kVersion2 ? 0 : 1);
    }

    // The tracks' bytes lie one after the other from byte 0; where they lie on the disc their start sectors say.
    SheetFile image;
    image.path = path;
    image.named = path.substr(platform::LastSeparator(path) + 1);
    int64_t next = 0;      // file byte of the next track's pregap
    int64_t disc_end = 0;  // disc sector after the sectors of the track before
    for (size_t k = 0; k < tracks.size(); ++k) {
        const CdiTrack &c = tracks[k];
        SheetTrack t;
        t.number = static_cast<int32_t>(k + 1);
        t.session = c.session;
        t.format = FormatOf(c.mode, c.size, &t.probe);
        if (t.format == kFormatUnknown) return Code::kUnknownFormat;
        t.begin = next;
        t.index1 = next + c.pregap * c.size;
        next = t.index1 + c.length * c.size;
        if (next > data_end) return Code::kUnknownFormat;  // past the sectors
        t.has_index0 = c.pregap > 0;
        for (int64_t i : c.indexes) t.higher.push_back(t.index1 + i * c.size);
        int64_t start = c.start + c.pregap - kMsfOffset;  // of index 1
        if (k == 0) {
            // A data first track is at sector 0 whatever the block says: its volume counts from there.
            if (GetSectorFormat(t.format).data)
                start = 0;
            else if (start < 0)
                return Code::kUnknownFormat;
            else
                disc->first_start = static_cast<int32_t>(start);
        } else if (c.session != tracks[k - 1].session) {
            const int64_t before = disc_end + (tracks[k - 1].session == 1 ? kFirstLeadOut : kLaterLeadOut) + kLeadIn;
            const int64_t pregap = start - before;
            if (pregap < kSessionPregap || pregap < c.pregap || pregap > kMaxSheetSectors) return Code::kUnknownFormat;
            t.absent_pregap = static_cast<int32_t>(pregap - c.pregap);
        } else {
            // Index 0 never inside the track before; a gap between them is that track's, not held by the image.
            const int64_t index0 = start - c.pregap;
            if (index0 < disc_end || index0 - disc_end > kMaxSheetSectors) return Code::kUnknownFormat;
            disc->tracks.back().absent_trailing = static_cast<int32_t>(index0 - disc_end);
        }
        disc_end = start + c.length;
        if (disc_end > kMaxSheetSectors) return Code::kUnknownFormat;
        disc->tracks.push_back(std::move(t));
    }
    image.window = {0, next};
    disc->files.push_back(std::move(image));
    disc->details.sheet = "cdi";
    return Status::Ok();
}

}  // namespace qorvex::sheets
