// Shared driver of the fuzz targets and of the replay test: turn bytes into an image file and exercise
// every export on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "in_memory.h"

namespace fuzz {

// Writes the bytes to this process's scratch image file and returns its path.
std::string WriteImage(const uint8_t *data, size_t size);
// Opens the image with `options`, walks every catalogue of every track, extracts every entry (single and
// joined) and every system part through the callback only, and every track with each flag combination.
void ExerciseImage(const std::string &path, uint32_t options);
// Splits the input at its first NUL into a sheet's text and the bytes of the file beside it (written as
// disc.bin, disc.wav and disc.img, so that every file type finds something), writes them to this process's scratch
// folder as disc.<extension>, and exercises the sheet with the sheet bit on.
void ExerciseSheet(const uint8_t *data, size_t size, const std::string &extension);
// Writes the bytes as a Nero image (disc.nrg in the scratch folder) and exercises it with the sheet bit on.
void ExerciseNrg(const uint8_t *data, size_t size);
// Writes the bytes as a container file named *.<extension>, opens it with `open` and reads its whole decoded
// stream in blocks that straddle chunks and sectors (at most 64 MiB, so one input stays quick), then exercises it
// as an image with the sheet bit on.
void ExerciseContainer(const uint8_t *data, size_t size, const std::string &extension, OpenContainer open);

}  // namespace fuzz
