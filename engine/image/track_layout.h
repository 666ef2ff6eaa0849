// The track table of an image: its session list and the layout check every table must pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/track_record.h"

namespace qorvex {

// Builds the session list from the track list. `packed`: sessions written one after the other on a medium
// without lead-in and lead-out (xorriso's sessions in a plain file).
std::vector<SessionRecord> BuildSessionList(const std::vector<TrackRecord> &tracks, bool packed = false);
// The layout check an image must pass to be opened; file lengths come from the platform.
bool CheckTrackLayout(const std::vector<TrackRecord> &tracks, const std::vector<SessionRecord> &sessions);
// The single track of a probed image of format `format`, shift `shift` sectors and `length` bytes.
TrackRecord MakeProbedTrack(const std::string &path, int32_t format, int32_t shift, int64_t length);

}  // namespace qorvex
