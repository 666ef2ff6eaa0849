// Seed inputs of the fuzz targets, made with the project's image builders.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fuzz {

// Inputs by target name (the name of the target's file): every target has seeds.
std::map<std::string, std::vector<std::vector<uint8_t>>> MakeSeeds();

}  // namespace fuzz
