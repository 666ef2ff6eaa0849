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
// The 44-byte WAV header for `data_length` bytes of 16-bit stereo 44.1 kHz samples.
void BuildWavHeader(uint8_t header[44], uint64_t data_length);

}  // namespace qorvex
