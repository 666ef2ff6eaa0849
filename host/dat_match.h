// Logiqx XML DAT files (as disc and cartridge preservation groups publish them): the games or discs with their
// ROM entries, and which of them a set of track hashes matches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disc_hash.h"

namespace host {

struct DatRom {
    std::string name;
    bool has_size = false;
    uint64_t size = 0;
    std::string crc32, md5, sha1;  // lower case; empty when not given
};

struct DatGame {
    std::string name;
    std::vector<DatRom> roms;
};

struct Dat {
    std::string name;  // the header's
    std::vector<DatGame> games;
};

// The largest DAT text read (the largest published ones are a few tens of MiB).
constexpr size_t kMaxDatBytes = 512u << 20;

// Parses the XML of a Logiqx DAT: <game> or <machine> elements with <rom> (or <disk>) entries, attributes in
// either quote, entities, comments, processing instructions and a DOCTYPE. False, with `error` saying what and
// on which line, for text that is not well formed.
bool ParseDat(std::string_view text, Dat *dat, std::string *error);

// Whether a ROM entry names these bytes: the size (when given) and every digest it gives agree, and it gives one.
bool RomMatches(const DatRom &rom, const DiscHash &hash);

struct TrackMatch {
    const DatGame *game = nullptr;  // the entry matched, or the nearest one
    const DatRom *rom = nullptr;
    bool exact = false;
};

struct DatMatch {
    const DatGame *game = nullptr;   // every track matched one of its entries, and every data entry was matched
    std::vector<TrackMatch> tracks;  // per track: its match in `game` or elsewhere, else the nearest entry
};

// Sheets (.cue, .gdi, .ccd, .toc ...) listed beside the tracks are not tracks.
DatMatch MatchDat(const Dat &dat, const std::vector<DiscHash> &tracks);

}  // namespace host
