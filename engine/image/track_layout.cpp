#include "image/track_layout.h"

#include <algorithm>

#include "image/image_catalogue.h"
#include "image/sector_format.h"

namespace qorvex {

TrackRecord MakeProbedTrack(const std::string &path, int32_t format, int32_t shift, int64_t length) {
    const int32_t s = GetSectorFormat(format).stored;
    TrackRecord t;
    t.session = 1;
    t.track = 1;
    t.format = format;
    t.files = {path};
    t.file_offset = 0;
    t.stored_length = length;
    t.stored_pregap = int64_t(shift) * s;
    t.absent_pregap = t.stored_pregap == 0 ? 150 : 0;
    t.absent_trailing = 0;
    t.pregap_start = -150;
    t.start = static_cast<int32_t>(t.stored_pregap / s) + t.absent_pregap - 150;
    const int64_t end = length / s + t.absent_trailing + t.absent_pregap - 150;
    t.end = end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);
    return t;
}

std::vector<SessionRecord> BuildSessionList(const std::vector<TrackRecord> &tracks, bool packed) {
    std::vector<SessionRecord> sessions;
    if (tracks.empty()) return sessions;
    const int32_t first_lead_out = packed ? 0 : 6750, later_lead_out = packed ? 0 : 2250;
    auto open_with = [](const TrackRecord &t, int32_t session_start, int32_t lead_out) {
        SessionRecord s;
        s.disc_kind = GetSectorFormat(t.format).disc_kind;
        s.session_start = session_start;
        s.first_pregap = t.pregap_start;
        s.first_start = t.start;
        s.end = t.end;
        s.lead_out_end = t.end + lead_out;
        s.session = t.session;
        s.first_track = t.track;
        s.last_track = t.track;
        return s;
    };
    SessionRecord open = open_with(tracks[0], tracks[0].pregap_start, first_lead_out);
    for (size_t i = 1; i < tracks.size(); ++i) {
        const TrackRecord &t = tracks[i];
        if (t.session == open.session) {
            open.last_track = t.track;
            open.end = t.end;
            open.lead_out_end = t.end + (t.session == 1 ? first_lead_out : later_lead_out);
        } else {
            sessions.push_back(open);
            open = open_with(t, open.lead_out_end, later_lead_out);
        }
    }
    sessions.push_back(open);
    return sessions;
}

bool CheckTrackLayout(const std::vector<TrackRecord> &tracks, const std::vector<SessionRecord> &sessions) {
    if (tracks.empty() || sessions.empty()) return false;
    for (size_t i = 0; i < sessions.size(); ++i) {
        const SessionRecord &s = sessions[i];
        if (i > 0) {
            const SessionRecord &before = sessions[i - 1];
            if (s.session_start < 0 || s.session_start != before.lead_out_end || s.first_track != before.last_track + 1)
                return false;
        }
        if (!(s.session_start <= s.first_pregap && s.first_pregap <= s.first_start && s.first_start <= s.end &&
              s.end <= s.lead_out_end))
            return false;
        if (s.session != i + 1 || s.first_track > s.last_track || s.first_track == 0) return false;
        for (size_t j = size_t(s.first_track) - 1; j <= size_t(s.last_track) - 1; ++j) {
            if (j >= tracks.size()) return false;
            const TrackRecord &t = tracks[j];
            if (j == size_t(s.first_track) - 1) {
                if (t.pregap_start != s.first_pregap || t.start != s.first_start) return false;
            } else if (t.pregap_start != tracks[j - 1].end) {
                return false;
            }
            if (t.session != s.session || t.track != j + 1 || !(t.pregap_start <= t.start && t.start <= t.end))
                return false;
        }
        if (tracks[size_t(s.last_track) - 1].end != s.end) return false;
    }
    if (GetSectorFormat(tracks[0].format).data && (tracks[0].pregap_start != -150 || tracks[0].start != 0))
        return false;
    for (const TrackRecord &t : tracks) {
        const int64_t size = GetSectorFormat(t.format).stored;
        if (size * (int64_t(t.end) - t.absent_trailing - t.absent_pregap - t.pregap_start) != t.stored_length)
            return false;
        if (size * (int64_t(t.start) - t.absent_pregap - t.pregap_start) != t.stored_pregap) return false;
        int64_t total = 0;
        if (!t.windows.empty() && t.windows.size() != t.files.size()) return false;
        for (size_t i = 0; i < t.files.size(); ++i) {
            const StoredSource *source = t.SourceOf(i);
            int64_t length = source ? source->Length() : CFileFindEx::GetLength(t.files[i]);
            if (length < 0) return false;
            if (!t.windows.empty()) {  // a sheet's file counts only with the bytes of its window
                const FileWindow &w = t.windows[i];
                if (w.skip < 0 || w.skip > length) return false;
                length -= w.skip;
                if (w.length >= 0) length = std::min(length, w.length);
            }
            total += length;
        }
        // A separate subchannel file holds 96 bytes of each stored sector; the other files the rest.
        int64_t in_files = t.stored_length;
        if (!t.subchannel.empty()) {
            if (size != kMaxStoredSize || t.subchannel_offset < 0) return false;
            const int64_t sectors = t.stored_length / size;
            in_files = sectors * (size - kSubchannelSize);
            const int64_t sub_length = CFileFindEx::GetLength(t.subchannel);
            if (sub_length < 0 || sub_length < t.subchannel_offset + sectors * kSubchannelSize) return false;
        }
        if (t.files.empty() || total < t.file_offset + in_files) return false;
    }
    return true;
}

}  // namespace qorvex
