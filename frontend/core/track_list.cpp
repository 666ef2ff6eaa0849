#include "track_list.h"

#include "disc_text.h"
#include "string_table.h"
#include "text_format.h"

namespace lumast {

const TrackColumnSpec kTrackColumnSpecs[kTrackColumns] = {
    {0, TrackColumnSpec::Left, "selected", 0},    {3362, TrackColumnSpec::Centre, "session", 55},
    {3363, TrackColumnSpec::Centre, "track", 55}, {3364, TrackColumnSpec::Centre, "type", 100},
    {3365, TrackColumnSpec::Right, "pre", 80},    {3366, TrackColumnSpec::Right, "start", 80},
    {3367, TrackColumnSpec::Right, "time", 80},
};

const char *TrackTypeName(int32_t format) {
    return host::FormatName(format);
}

bool IsDataTrackType(int32_t format) {
    return (format >= 1 && format <= 13) || (format >= 15 && format <= 19);
}
bool IsAudioTrackType(int32_t format) {
    return format == 0 || format == 14;
}

int InitialTrack(const std::vector<TrackInfo> &tracks) {
    for (size_t i = 0; i < tracks.size(); ++i)
        if (IsDataTrackType(tracks[i].format)) return static_cast<int>(i);
    return 0;
}

std::string SectorTime(int32_t sectors) {
    return host::SectorTime(sectors);
}

std::string TrackCellText(const TrackInfo &track, int column) {
    switch (column) {
        case 1: return Format("%02d", track.session);
        case 2: return Format("%02d", track.track);
        case 3: return TrackTypeName(track.format);
        case 4: return SectorTime(track.first_held);
        case 5: return SectorTime(track.start);
        case 6: return SectorTime(static_cast<int32_t>(int64_t(track.end_held) - track.start));
        default: return {};
    }
}

}  // namespace lumast
