// Text of the track list: type names and signed MM:SS:FF times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qorvex.h"

namespace lumast {

// Name of a sector format code; "UNKNOWN" outside 0..20.
const char *TrackTypeName(int32_t format);
bool IsDataTrackType(int32_t format);   // 1..13, 15..19
bool IsAudioTrackType(int32_t format);  // 0, 14

// The track an opened image starts on: the first data track, else track 0 (also for an empty list).
int InitialTrack(const std::vector<TrackInfo> &tracks);

// Sector position (1/75 s) as "MM:SS:FF", with a leading "-" when negative.
std::string SectorTime(int32_t sectors);

struct TrackColumnSpec {
    int header_string;  // 0: no header text
    enum Align { Left, Centre, Right } align;
    const char *key;  // key under section "TrackBar"
    int default_width;
};
inline constexpr int kTrackColumns = 7;
extern const TrackColumnSpec kTrackColumnSpecs[kTrackColumns];

// Text of a track-list cell (columns 0..6).
std::string TrackCellText(const TrackInfo &track, int column);

}  // namespace lumast
