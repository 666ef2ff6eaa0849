#include "track_list.h"

#include <cstdlib>

#include "string_table.h"
#include "text_format.h"

namespace lumast {
namespace {

constexpr const char *kTypeNames[] = {
    "AUDIO",           "DATA",
    "MODE0",           "MODE1/2352",
    "MODE2",           "MODE2/2352",
    "MODE2FORM1/2352", "MODE2FORM2/2352",
    "MODE0/2336",      "MODE1/2048",
    "MODE2/2336",      "MODE2/2048",
    "MODE2/2324",      "MODE2/2336",
    "AUDIO/2448",      "MODE1/2448",
    "MODE2/2448",      "MODE2FORM1/2448",
    "MODE2FORM2/2448", "DVD",
    "UNKNOWN",
};

}  // namespace

const TrackColumnSpec kTrackColumnSpecs[kTrackColumns] = {
    {0, TrackColumnSpec::Left, "selected", 0},    {3362, TrackColumnSpec::Centre, "session", 55},
    {3363, TrackColumnSpec::Centre, "track", 55}, {3364, TrackColumnSpec::Centre, "type", 100},
    {3365, TrackColumnSpec::Right, "pre", 80},    {3366, TrackColumnSpec::Right, "start", 80},
    {3367, TrackColumnSpec::Right, "time", 80},
};

const char *TrackTypeName(int32_t format) {
    return format >= 0 && format <= 20 ? kTypeNames[format] : "UNKNOWN";
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
    const int64_t v = std::llabs(static_cast<int64_t>(sectors));
    return Format(sectors < 0 ? "-%02lld:%02lld:%02lld" : "%02lld:%02lld:%02lld", static_cast<long long>(v / 4500),
                  static_cast<long long>((v / 75) % 60), static_cast<long long>(v % 75));
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
