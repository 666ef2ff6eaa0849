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
#include <utility>
#include <vector>

namespace qorvex::test {

struct DiscTrack {
    int32_t format = 0;         // sector format code: 0 AUDIO, 3 MODE1/2352, 9 MODE1/2048, 5/6 MODE2/2352 ...
    std::vector<uint8_t> data;  // the stored sectors from INDEX 01 on
    int32_t pregap = 0;         // stored pregap sectors (INDEX 00) in front of them
    uint8_t session = 1;        // REM SESSION of the track
    std::string extra;          // lines added under the TRACK line (ISRC, TITLE, PREGAP, POSTGAP, ...)
    int32_t absent_pregap = 0;  // pregap sectors in front of the stored ones that no file holds (PREGAP)
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
// The same disc as a CloneCD control file and image (<name>.ccd, <name>.img; 2352-byte sectors only): per
// session TOC entries A0-A2 and one per track, [TRACK n] with MODE and INDEX 0/1 (from the disc start); the
// image holds the sessions one after the other. With `with_subchannel`, <name>.sub holds 96 bytes a sector
// (a pattern). Answers the .ccd's path.
std::string WriteCcdDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         bool with_subchannel = false);
enum class NrgForm {
    kDaoV2,  // NER5 footer; CUEX cue points, DAOX tracks (64-bit offsets)
    kDaoV1,  // NERO footer; CUES cue points (MSF), DAOI tracks (32-bit offsets)
    kTaoV2,  // NER5 footer; ETN2 tracks, no stored pregaps (each track's is dropped)
};
// The same disc as a Nero image <name>.nrg: the tracks' stored pregaps and sectors one after the other from
// byte 0, then per session its chunks (CUEX/CUES + DAOX/DAOI, or ETN2) and SINF, then MTYP, END! and the
// footer. Sessions start where the CUE sheet's rule puts them. A track's absent pregap is in its cue points;
// DAOX gives its index 0 that many sectors in front of the stored bytes, DAOI at the first stored byte (both
// forms Nero writes); the first track's puts its index 1 that far from sector 0. Answers the image's path.
std::string WriteNrgDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         NrgForm form = NrgForm::kDaoV2);
// CD-TEXT packs (18 bytes each, with their CRC) of block 0: TITLE and PERFORMER of the disc (texts[0]) and of
// each track, in ISO 8859-1; "\t" stands for the text of the track before. With `header`, the 4-byte header
// a drive returns goes in front.
std::vector<uint8_t> CdTextPacks(const std::vector<std::pair<std::string, std::string>> &texts, bool header);
// A 44-byte WAV header for `data_length` bytes of CD audio.
std::vector<uint8_t> WavHeader(uint32_t data_length);

}  // namespace qorvex::test
