// Seed inputs of the fuzz targets, made with the project's image builders.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fuzz {

// Inputs by target name: fuzz_image, fuzz_iso, fuzz_udf, fuzz_eltorito, fuzz_decode, fuzz_susp, fuzz_cue,
// fuzz_toc, fuzz_ccd, fuzz_nrg, fuzz_dat, fuzz_sector.
std::map<std::string, std::vector<std::vector<uint8_t>>> MakeSeeds();

}  // namespace fuzz
