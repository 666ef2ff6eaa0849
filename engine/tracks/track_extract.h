// Extraction of a whole track: user data, raw sectors, or WAV.
#pragma once

#include <cstdint>

#include "image/sector_reader.h"
#include "model/progress.h"
#include "model/status.h"
#include "qorvex.h"

namespace qorvex {

// Fills a TrackInfo from a track's reader.
void FillTrackInfo(const SectorReader &reader, TrackInfo *info);
// The track extraction; `path` null delivers the data to the callback only.
Status ExtractTrack(SectorReader &reader, const Progress &progress, const char *path, uint32_t flags);
// Reads `size` bytes of what ExtractTrack writes with `flags` (TRACK_RAW, TRACK_PREGAP; never the WAV header)
// from byte `offset` on, reading only the sectors that hold them; `done` is fewer than `size` only at the end.
// `total` is the length of the whole output.
Status ReadTrack(SectorReader &reader, uint32_t flags, uint64_t offset, uint8_t *out, size_t size, size_t *done,
                 uint64_t *total);
// The 44-byte WAV header for `data_length` bytes of 16-bit stereo 44.1 kHz samples.
void BuildWavHeader(uint8_t header[44], uint64_t data_length);

}  // namespace qorvex
