// Logiqx XML DAT text as disc preservation groups publish it: XML declaration, DOCTYPE, a header with the
// DAT's name, then one <game> per disc with a <rom> per file (names escaped).
//
//   std::string xml = DatXml("Test Discs", {{"Disc", {{"Disc (Track 1).bin", 2352, "crc", "md5", "sha1"}}}});
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorvex::test {

struct DatRomEntry {
    std::string name;
    uint64_t size = 0;
    std::string crc32, md5, sha1;  // left out of the element when empty
};

struct DatGameEntry {
    std::string name;
    std::vector<DatRomEntry> roms;
};

std::string DatXml(const std::string &name, const std::vector<DatGameEntry> &games);

}  // namespace qorvex::test
