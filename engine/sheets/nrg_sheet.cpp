#include "sheets/nrg_sheet.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "image/sector_format.h"
#include "model/byte_view.h"
#include "platform/file.h"

namespace qorvex::sheets {

namespace {

// The chain of a real disc is a few KiB; a larger one is not a chain.
constexpr int64_t kMaxChainBytes = 1 << 20;
constexpr size_t kFooterV2 = 12;    // "NER5", 64-bit offset of the chain
constexpr size_t kFooterV1 = 8;     // "NERO", 32-bit offset
constexpr size_t kChunkHeader = 8;  // identifier, 32-bit length of the data after it

// Red Book: the lead-out after the first session and after each later one, the lead-in in front of every
// later session and the least pregap of its first track; sector 0 is at 00:02:00.
constexpr int64_t kFirstLeadOut = 6750;
constexpr int64_t kLaterLeadOut = 2250;
constexpr int64_t kLeadIn = 4500;
constexpr int64_t kSessionPregap = 150;
constexpr int64_t kMsfOffset = 150;
constexpr int64_t kUnknown = INT64_MIN;

// DAOX / DAOI: a 22-byte header, then one block per track.
constexpr size_t kDaoHeader = 22;
constexpr size_t kDaoCatalog = 4;  // 13 characters
constexpr size_t kDaoBlockX = 42, kDaoBlockI = 30;
constexpr size_t kDaoIsrc = 0;  // 12 characters
constexpr size_t kDaoSectorSize = 12;
constexpr size_t kDaoMode = 14;
constexpr size_t kDaoOffsets = 18;  // index 0, index 1 and end: 64-bit (DAOX) or 32-bit (DAOI) file bytes
// ETN2 / ETNF: one block per track written at once.
constexpr size_t kEtnBlock2 = 32, kEtnBlockF = 20;
// CUEX / CUES: 8-byte cue points: control, track (BCD), index (BCD), 0, then the sector (CUEX: 32-bit
// signed; CUES: 0, M, S, F).
constexpr size_t kCueBlock = 8;
constexpr uint8_t kLeadOutTrack = 0xAA;

// The mode byte of a track: its sector format.
struct Mode {
    uint8_t code;
    int32_t format;
    ModeProbe probe;
};
constexpr Mode kModes[] = {
    {0x00, kFormatMode1_2048, ModeProbe::kNone},       {0x02, kFormatMode2_2048, ModeProbe::kNone},
    {0x03, kFormatMode2_2336, ModeProbe::kMode2_2336}, {0x05, kFormatMode1_2352, ModeProbe::kNone},
    {0x06, kFormatMode2_2352, ModeProbe::kMode2Raw},   {0x07, kFormatAudio, ModeProbe::kNone},
    {0x0F, kFormatMode1_2448, ModeProbe::kNone},       {0x10, kFormatAudio2448, ModeProbe::kNone},
    {0x11, kFormatMode2_2448, ModeProbe::kNone},
};

// A track as a DAO or TAO block gives it.
struct NrgTrack {
    const Mode *mode = nullptr;
    int64_t sector_size = 0;
    int64_t index0 = 0, index1 = 0, end = 0;  // file bytes
    int64_t sector = kUnknown;                // of index 1 on the disc, when the block gives it (TAO)
    std::string isrc;
};

// Cue points: the disc sector of each index of each track.
using CuePoints = std::map<int, std::map<int, int64_t>>;

int Bcd(uint8_t b) {
    return (b >> 4) > 9 || (b & 0x0F) > 9 ? -1 : (b >> 4) * 10 + (b & 0x0F);
}

uint64_t U64be(const ByteView &v, size_t at) {
    return (uint64_t(v.U32be(at)) << 32) | v.U32be(at + 4);
}

// Printable characters only (a catalogue number or an ISRC); empty otherwise.
std::string Printable(std::string_view text) {
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) return {};
    return std::string(text);
}

const Mode *FindMode(uint32_t code) {
    for (const Mode &m : kModes)
        if (m.code == code) return &m;
    return nullptr;
}

// The disc sector of index `index` of track `number`: a TAO block gives index 1 itself, else the cue points.
int64_t CuePoint(const CuePoints &points, int number, int index, const NrgTrack &track) {
    if (index == 1 && track.sector != kUnknown) return track.sector;
    const auto found = points.find(number);
    if (found == points.end()) return kUnknown;
    const auto at = found->second.find(index);
    return at == found->second.end() ? kUnknown : at->second;
}

Status ReadCues(const ByteView &chunk, bool msf, CuePoints *points) {
    for (size_t at = 0; at + kCueBlock <= chunk.Size(); at += kCueBlock) {
        const int track = chunk.U8(at + 1) == kLeadOutTrack ? -1 : Bcd(chunk.U8(at + 1));
        const int index = Bcd(chunk.U8(at + 2));
        if (index < 0 || (track < 0 && chunk.U8(at + 1) != kLeadOutTrack)) return Code::kUnknownFormat;
        if (track <= 0) continue;  // the lead-in and the lead-out
        const int64_t sector =
            msf ? (int64_t(chunk.U8(at + 5)) * 60 + chunk.U8(at + 6)) * 75 + chunk.U8(at + 7) - kMsfOffset
                : int64_t(static_cast<int32_t>(chunk.U32be(at + 4)));
        (*points)[track][index] = sector;
    }
    return Status::Ok();
}

Status ReadDao(const ByteView &chunk, bool wide, std::vector<NrgTrack> *tracks, std::string *catalog) {
    const size_t block = wide ? kDaoBlockX : kDaoBlockI;
    if (chunk.Size() < kDaoHeader) return Code::kUnknownFormat;
    if (catalog->empty()) *catalog = Printable(chunk.Text(kDaoCatalog, 13));
    for (size_t at = kDaoHeader; at + block <= chunk.Size(); at += block) {
        NrgTrack t;
        t.isrc = Printable(chunk.Text(at + kDaoIsrc, 12));
        t.sector_size = chunk.U16be(at + kDaoSectorSize);
        t.mode = FindMode(chunk.U8(at + kDaoMode));
        const size_t o = at + kDaoOffsets;
        const uint64_t offsets[3] = {wide ? U64be(chunk, o) : chunk.U32be(o),
                                     wide ? U64be(chunk, o + 8) : chunk.U32be(o + 4),
                                     wide ? U64be(chunk, o + 16) : chunk.U32be(o + 8)};
        for (uint64_t offset : offsets)
            if (offset > uint64_t(INT64_MAX)) return Code::kUnknownFormat;
        t.index0 = int64_t(offsets[0]), t.index1 = int64_t(offsets[1]), t.end = int64_t(offsets[2]);
        tracks->push_back(std::move(t));
    }
    return Status::Ok();
}

Status ReadEtn(const ByteView &chunk, bool wide, std::vector<NrgTrack> *tracks) {
    const size_t block = wide ? kEtnBlock2 : kEtnBlockF;
    for (size_t at = 0; at + block <= chunk.Size(); at += block) {
        NrgTrack t;
        const uint64_t offset = wide ? U64be(chunk, at) : chunk.U32be(at);
        const uint64_t size = wide ? U64be(chunk, at + 8) : chunk.U32be(at + 4);
        if (offset > uint64_t(kMaxSheetSectors) * kMaxStoredSize || size > uint64_t(kMaxSheetSectors) * kMaxStoredSize)
            return Code::kUnknownFormat;
        t.mode = FindMode(chunk.U32be(at + (wide ? 16 : 8)));
        t.sector = chunk.U32be(at + (wide ? 20 : 12));
        t.index0 = t.index1 = int64_t(offset);
        t.end = int64_t(offset + size);
        if (t.mode) t.sector_size = GetSectorFormat(t.mode->format).stored;
        tracks->push_back(std::move(t));
    }
    return Status::Ok();
}

// The chain between `first` and the footer, read whole.
Status ReadChain(platform::File &file, int64_t length, std::vector<uint8_t> *chain, int64_t *first) {
    uint8_t footer[kFooterV2] = {};
    if (length < int64_t(kFooterV1)) return Code::kUnknownFormat;
    const size_t have = length < int64_t(kFooterV2) ? kFooterV1 : kFooterV2;
    if (!file.Seek(length - int64_t(have)) || file.Read(footer, int64_t(have)) != int64_t(have))
        return Code::kImageOpenFailed;
    const ByteView v(footer, have);
    int64_t footer_start = 0;
    uint64_t offset = 0;
    if (have == kFooterV2 && v.Matches(0, "NER5")) {
        offset = U64be(v, 4);
        footer_start = length - int64_t(kFooterV2);
    } else if (v.Matches(have - kFooterV1, "NERO")) {
        offset = v.U32be(have - kFooterV1 + 4);
        footer_start = length - int64_t(kFooterV1);
    } else {
        return Code::kUnknownFormat;
    }
    if (offset > uint64_t(footer_start) || footer_start - int64_t(offset) > kMaxChainBytes) return Code::kUnknownFormat;
    *first = int64_t(offset);
    chain->resize(static_cast<size_t>(footer_start - *first));
    if (!file.Seek(*first) || file.Read(chain->data(), int64_t(chain->size())) != int64_t(chain->size()))
        return Code::kImageOpenFailed;
    return Status::Ok();
}

}  // namespace

Status ReadNrgImage(const std::string &path, SheetDisc *disc) {
    *disc = SheetDisc{};
    const int64_t length = platform::FindFileLength(path);
    if (length < 0) return Code::kImageOpenFailed;
    platform::File file;
    if (!file.OpenRead(path)) return Code::kImageOpenFailed;
    std::vector<uint8_t> bytes;
    int64_t data_end = 0;  // the disc's sectors lie in front of the chain
    QORVEX_TRY(ReadChain(file, length, &bytes, &data_end));
    file.Close();

    // The chunks: each DAO or TAO chunk holds the tracks of one session.
    const ByteView chain(bytes.data(), bytes.size());
    std::vector<std::vector<NrgTrack>> sessions;
    CuePoints cues;
    for (size_t at = 0; at < chain.Size();) {
        if (!chain.Has(at, kChunkHeader)) return Code::kUnknownFormat;
        const std::string_view id = chain.Text(at, 4);
        const uint32_t size = chain.U32be(at + 4);
        if (!chain.Has(at + kChunkHeader, size)) return Code::kUnknownFormat;  // a chunk past the chain
        const ByteView data = chain.Sub(at + kChunkHeader, size);
        if (id == "END!") break;
        if (id == "CUEX" || id == "CUES") QORVEX_TRY(ReadCues(data, id == "CUES", &cues));
        if (id == "DAOX" || id == "DAOI") {
            sessions.emplace_back();
            QORVEX_TRY(ReadDao(data, id == "DAOX", &sessions.back(), &disc->details.catalog));
        }
        if (id == "ETN2" || id == "ETNF") {
            sessions.emplace_back();
            QORVEX_TRY(ReadEtn(data, id == "ETN2", &sessions.back()));
        }
        at += kChunkHeader + size;
    }
    size_t count = 0;
    for (const auto &s : sessions) {
        if (s.empty()) return Code::kUnknownFormat;  // a session of no tracks
        count += s.size();
    }
    if (count == 0 || count > kMaxTracks || sessions.size() > kMaxTracks) return Code::kUnknownFormat;

    // One stream: the file from the first track's first stored sector to the last track's end, the tracks
    // one after the other in it. Where they lie on the disc the cue points (or a TAO block) say; the file
    // offsets only say which sectors the file holds.
    SheetFile image;
    image.path = path;
    image.named = path.substr(path.find_last_of(platform::kPathSeparator) + 1);
    const int64_t skip = sessions.front().front().index0;
    // A data first track is at sector 0 whatever the chunks say: its volume counts from there.
    const NrgTrack &first = sessions.front().front();
    const int64_t base =
        first.mode && GetSectorFormat(first.mode->format).data ? std::max<int64_t>(0, CuePoint(cues, 1, 1, first)) : 0;
    int64_t next = skip;   // file byte where the next track's bytes begin
    int64_t disc_end = 0;  // disc sector after the held sectors of the last track so far
    int32_t number = 0;
    for (size_t s = 0; s < sessions.size(); ++s) {
        for (size_t k = 0; k < sessions[s].size(); ++k) {
            const NrgTrack &n = sessions[s][k];
            ++number;
            if (!n.mode || n.sector_size != GetSectorFormat(n.mode->format).stored) return Code::kUnknownFormat;
            const int64_t size = n.sector_size;
            // Sanity check that the track lies in the sectors, right after the one before. A block's index 0
            // in front of that is a pregap the file does not hold.
            if (n.index0 > next || n.index1 < next || !(n.index1 <= n.end && n.end <= data_end) ||
                (n.index1 - n.index0) % size != 0 || (n.end - n.index1) % size != 0)
                return Code::kUnknownFormat;
            const int64_t begin = std::max(n.index0, next);
            next = n.end;
            const int64_t declared = (n.index1 - n.index0) / size;  // the pregap the block gives
            const int64_t stored = (n.index1 - begin) / size, held = (n.end - n.index1) / size;
            if ((n.index1 - begin) % size != 0) return Code::kUnknownFormat;
            SheetTrack t;
            t.number = number;
            t.session = static_cast<uint8_t>(s + 1);
            t.format = n.mode->format;
            t.probe = n.mode->probe;
            t.begin = begin - skip;
            t.index1 = n.index1 - skip;
            t.has_index0 = declared > 0;
            t.isrc = n.isrc;

            const int64_t index1 = CuePoint(cues, number, 1, n), index0 = CuePoint(cues, number, 0, n);
            const int64_t sector = index1 == kUnknown ? kUnknown : index1 - base;
            int64_t start = 0;
            if (number == 1) {
                if (sector < 0 && sector != kUnknown) return Code::kUnknownFormat;
                start = sector == kUnknown ? 0 : sector;
                if (!GetSectorFormat(t.format).data) disc->first_start = static_cast<int32_t>(start);
            } else if (k == 0) {  // a later session: after the lead-out before it and its lead-in
                const int64_t before = disc_end + (s == 1 ? kFirstLeadOut : kLaterLeadOut) + kLeadIn;
                const int64_t pregap = sector == kUnknown ? std::max(kSessionPregap, declared) : sector - before;
                if (pregap < kSessionPregap || pregap < stored || pregap > kMaxSheetSectors)
                    return Code::kUnknownFormat;
                t.absent_pregap = static_cast<int32_t>(pregap - stored);
                start = before + pregap;
            } else {
                // Index 0 where the cue points put it, never inside the sectors held on either side of it;
                // what lies between the track before and it is that track's, the rest of the gap this one's.
                const int64_t at = sector == kUnknown ? disc_end + declared : sector;
                const int64_t held_from = at - stored;
                if (held_from < disc_end || at - disc_end > kMaxSheetSectors) return Code::kUnknownFormat;
                const int64_t pregap_start = index0 == kUnknown || sector == kUnknown
                                                 ? disc_end
                                                 : std::clamp(index0 - base, disc_end, held_from);
                disc->tracks.back().absent_trailing = static_cast<int32_t>(pregap_start - disc_end);
                t.absent_pregap = static_cast<int32_t>(held_from - pregap_start);
                start = at;
            }
            disc_end = start + held;
            if (disc_end > kMaxSheetSectors) return Code::kUnknownFormat;
            if (const auto cue = cues.find(number); cue != cues.end())
                for (const auto &[index, at] : cue->second) {
                    if (index < 2) continue;
                    if (at - base < start || at - base > disc_end) return Code::kUnknownFormat;
                    t.higher.push_back(t.index1 + (at - base - start) * size);
                }
            disc->tracks.push_back(std::move(t));
        }
    }
    image.window = {skip, next - skip};
    disc->files.push_back(std::move(image));
    disc->details.sheet = "nrg";
    return Status::Ok();
}

}  // namespace qorvex::sheets
