#include "sheets/sheet_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/raw_sector.h"
#include "image/sector_format.h"
#include "image/sector_reader.h"

namespace qorvex::sheets {

namespace {
// Red Book / Orange Book: the pregap every session's first track has, the lead-out of the first session and of
// each later one, and the lead-in in front of every later session.
constexpr int64_t kFirstPregap = 150;
constexpr int64_t kFirstLeadOut = 6750;
constexpr int64_t kLaterLeadOut = 2250;
constexpr int64_t kLeadIn = 4500;
constexpr int64_t kMaxSector = kMaxSheetSectors;

// The format of a Mode 2 track from one of its stored sectors: CD-ROM XA when the subheader is recorded
// twice (Form 1 or 2 by its submode byte), formless Mode 2 otherwise.
int32_t ProbeMode2(const TrackRecord &record, ModeProbe probe) {
    SectorReader reader;
    if (!reader.SetUp(record, 0) || !reader.Open()) return record.format;
    const int32_t held = record.end - record.absent_trailing - record.start;
    // Sector 16 holds the volume descriptors where there is a file system; it tells a data track best.
    const int32_t at = held > 16 ? 16 : 0;
    std::array<uint8_t, kMaxStoredSize + 4> sector{};
    const bool read = held > 0 && reader.SeekRelative(at) && reader.ReadRawSector(sector.data());
    reader.Close();
    if (!read) return record.format;
    const uint8_t *s = sector.data();
    if (probe == ModeProbe::kMode2Raw) {
        using namespace raw_sector;
        if (std::memcmp(s + kSubheader, s + kSubheaderCopy, 4) != 0) return kFormatMode2_2352;
        return (s[kSubmode] & kSubmodeForm2) ? kFormatMode2Form2_2352 : kFormatMode2Form1_2352;
    }
    return std::memcmp(s, s + 4, 4) == 0 ? kFormatMode2_2336Xa : kFormatMode2_2336;
}

// The 2448-byte format of a 2352-byte one: the same sector with its subchannel bytes after it.
int32_t WithSubchannel(int32_t format) {
    switch (format) {
        case kFormatAudio: return kFormatAudio2448;
        case kFormatMode1_2352: return kFormatMode1_2448;
        case kFormatMode2_2352: return kFormatMode2_2448;
        case kFormatMode2Form1_2352: return kFormatMode2Form1_2448;
        case kFormatMode2Form2_2352: return kFormatMode2Form2_2448;
        default: return kFormatUnknown;
    }
}

// Moves a laid-out 2352-byte track onto its subchannel file: sector i of the stream has its 96 bytes at
// i x 96 there. `stream_begin` is the stream byte of the track's first stored sector.
Status AddSubchannel(const std::string &subchannel, int64_t stream_begin, TrackRecord *r) {
    constexpr int64_t kMain = kMaxStoredSize - kSubchannelSize;
    const int32_t format = WithSubchannel(r->format);
    if (format == kFormatUnknown || GetSectorFormat(r->format).stored != kMain) return Code::kUnknownFormat;
    r->format = format;
    r->subchannel = subchannel;
    r->subchannel_offset = stream_begin / kMain * kSubchannelSize;
    r->stored_pregap = r->stored_pregap / kMain * kMaxStoredSize;
    r->stored_length = r->stored_length / kMain * kMaxStoredSize;
    return Status::Ok();
}
}  // namespace

Status LayOut(const SheetDisc &disc, std::vector<TrackRecord> *tracks, std::vector<TrackDetails> *details) {
    tracks->clear();
    details->clear();
    const size_t n = disc.files.size();
    if (disc.tracks.empty() || disc.tracks.size() > kMaxTracks || n == 0 || n > kMaxFiles) return Code::kUnknownFormat;
    std::vector<int64_t> file_start(n + 1, 0);
    for (size_t i = 0; i < n; ++i) {
        if (disc.files[i].window.length < 0) return Code::kUnknownFormat;
        file_start[i + 1] = file_start[i] + disc.files[i].window.length;
    }
    const int64_t total = file_start[n];

    std::vector<TrackRecord> out;
    std::vector<TrackDetails> out_details;
    for (size_t k = 0; k < disc.tracks.size(); ++k) {
        const SheetTrack &t = disc.tracks[k];
        const int32_t size = GetSectorFormat(t.format).stored;
        const int64_t end_byte = k + 1 < disc.tracks.size() ? disc.tracks[k + 1].begin : total;
        // Sanity check that the track lies inside the files and does not overlap the next one.
        // A disc of a set may start at any number (TRACK 04); the numbers only rise. The table counts from 1.
        if (t.number < 1 || t.number > 99 || (k > 0 && t.number <= disc.tracks[k - 1].number) ||
            t.format == kFormatUnknown || t.session == 0)
            return Code::kUnknownFormat;
        if (!(0 <= t.begin && t.begin <= t.index1 && t.index1 <= end_byte && end_byte <= total))
            return Code::kUnknownFormat;
        int64_t last_index = t.index1;
        for (int64_t h : t.higher) {
            if (h < last_index || h > end_byte) return Code::kUnknownFormat;
            last_index = h;
        }
        const int64_t pregap_bytes = t.index1 - t.begin;
        if (pregap_bytes % size != 0) return Code::kUnknownFormat;
        const int64_t stored_pregap = pregap_bytes / size;
        const int64_t held = (end_byte - t.index1) / size;  // a file may end in a part sector: it is dropped
        if (t.absent_pregap < 0 || t.absent_trailing < 0 || stored_pregap + held > kMaxSector)
            return Code::kUnknownFormat;
        if (held + t.absent_trailing == 0) return Code::kUnknownFormat;  // a track of no sectors

        TrackRecord r;
        r.session = t.session;
        r.track = static_cast<uint8_t>(k + 1);
        r.format = t.format;
        int64_t pregap_start = 0, absent_pregap = t.absent_pregap;
        const bool opens_session = k == 0 || t.session != disc.tracks[k - 1].session;
        if (opens_session) {
            // The first track of a session has at least the standard pregap; what the files do not hold of it
            // is absent.
            const int64_t first_start = k == 0 && !GetSectorFormat(t.format).data ? disc.first_start : 0;
            if (first_start < 0 || first_start > kMaxSector) return Code::kUnknownFormat;
            const int64_t pregap = std::max<int64_t>(kFirstPregap + first_start, absent_pregap + stored_pregap);
            absent_pregap = pregap - stored_pregap;
            if (k == 0) {
                pregap_start = first_start - pregap;
            } else {
                if (t.session < disc.tracks[k - 1].session) return Code::kUnknownFormat;
                const TrackRecord &before = out.back();
                const int64_t lead_out = before.session == 1 ? kFirstLeadOut : kLaterLeadOut;
                pregap_start = int64_t(before.end) + lead_out + kLeadIn;
            }
        } else {
            pregap_start = out.back().end;
        }
        const int64_t start = pregap_start + absent_pregap + stored_pregap;
        const int64_t end = start + held + t.absent_trailing;
        if (pregap_start < -kMaxSector || end > kMaxSector || absent_pregap > kMaxSector) return Code::kUnknownFormat;
        r.pregap_start = static_cast<int32_t>(pregap_start);
        r.start = static_cast<int32_t>(start);
        r.end = static_cast<int32_t>(end);
        r.absent_pregap = static_cast<int32_t>(absent_pregap);
        r.absent_trailing = t.absent_trailing;
        r.stored_pregap = pregap_bytes;
        r.stored_length = (stored_pregap + held) * size;

        // The files the stored sectors lie in; an empty window is never a track's first file.
        size_t first = 0;
        while (first + 1 < n && file_start[first + 1] <= t.begin) ++first;
        size_t last = first;
        while (last + 1 < n && file_start[last + 1] < t.begin + r.stored_length) ++last;
        r.file_offset = t.begin - file_start[first];
        const bool audio = !GetSectorFormat(t.format).data;
        for (size_t i = first; i <= last; ++i) {
            const SheetFile &f = disc.files[i];
            r.files.push_back(f.path);
            r.windows.push_back(f.window);
            r.sources.push_back(f.source);
            // Byte order is a property of audio samples; data sectors are read as they are.
            if (audio && f.swapped != disc.files[first].swapped) return Code::kUnknownFormat;
        }
        r.byte_swapped = audio && disc.files[first].swapped;
        if (std::none_of(r.sources.begin(), r.sources.end(), [](const auto &p) { return p != nullptr; }))
            r.sources.clear();
        if (t.probe != ModeProbe::kNone) r.format = ProbeMode2(r, t.probe);
        if (!disc.subchannel.empty()) QORVEX_TRY(AddSubchannel(disc.subchannel, t.begin, &r));

        TrackDetails d;
        d.has_index0 = t.has_index0;
        d.indexes.push_back(r.pregap_start);
        d.indexes.push_back(r.start);
        for (int64_t h : t.higher) d.indexes.push_back(static_cast<int32_t>(start + (h - t.index1) / size));
        for (size_t i = first; i <= last; ++i) d.files.push_back(disc.files[i].named);
        d.title = t.title;
        d.performer = t.performer;
        d.isrc = t.isrc;
        out.push_back(std::move(r));
        out_details.push_back(std::move(d));
    }
    *tracks = std::move(out);
    *details = std::move(out_details);
    return Status::Ok();
}

}  // namespace qorvex::sheets
