// Builds CD discs of several tracks as BIN/CUE: one FILE for the whole disc, or one per track with the
// pregaps at the head of each file or at the tail of the file before (both forms rippers write).
//
//   std::vector<DiscTrack> disc = {{3, WrapSectors(iso, 3)}, {0, AudioPattern(300, 2), 75}};
//   WriteCueDisc(dir, "disc", disc, CueForm::kSingleFile);   // disc.bin + disc.cue
//
// Positions in the sheet count every file from 00:00:00; a track's pregap sectors are stored before its
// INDEX 01 under an INDEX 00.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorvex::test {

struct DiscTrack {
    int32_t format = 0;         // sector format code: 0 AUDIO, 3 MODE1/2352, 9 MODE1/2048, 5/6 MODE2/2352 ...
    std::vector<uint8_t> data;  // the stored sectors from INDEX 01 on
    int32_t pregap = 0;         // stored pregap sectors (INDEX 00) in front of them
    uint8_t session = 1;        // REM SESSION of the track
    std::string extra;          // lines added under the TRACK line (ISRC, TITLE, PREGAP, POSTGAP, ...)
};

DiscTrack MakeTrack(int32_t format, std::vector<uint8_t> data, int32_t pregap = 0, uint8_t session = 1);

enum class CueForm {
    kSingleFile,  // one FILE "<name>.bin"
    kSplitHead,   // one FILE per track, "<name> (Track NN).bin", each holding its own pregap
    kSplitTail,   // one FILE per track, the pregap of a track at the tail of the file before
};

// The CUE mode word of a format code ("MODE1/2352", "AUDIO", ...).
std::string CueMode(int32_t format);
// Frames as "mm:ss:ff".
std::string Msf(int64_t frames);
// CD audio samples: `sectors` x 2352 bytes, a pattern seeded by `seed`.
std::vector<uint8_t> AudioPattern(int32_t sectors, uint32_t seed);
// The bytes a track's pregap holds (a pattern, so that a wrong offset shows).
std::vector<uint8_t> PregapBytes(const DiscTrack &track, int32_t number);
// Writes the files and the sheet into `dir`; answers the sheet's path. `header` goes in front of the tracks.
std::string WriteCueDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         CueForm form, const std::string &header = "");
// The same disc as a CloneCD control file and image (<name>.ccd, <name>.img; 2352-byte sectors only, one
// session): TOC entries A0-A2 and one per track, [TRACK n] with MODE and INDEX 0/1. Answers the .ccd's path.
std::string WriteCcdDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks);
// A 44-byte WAV header for `data_length` bytes of CD audio.
std::vector<uint8_t> WavHeader(uint32_t data_length);

}  // namespace qorvex::test
