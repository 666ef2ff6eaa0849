// Boot images: the El Torito system parts the engine lists among the ISO 9660 ones (with OPEN_BOOT_IMAGES).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"
#include "output_tree.h"

namespace cli {

// The boot record, the catalogue and the boot images.
bool IsBootPart(int32_t kind);
bool IsBootImage(int32_t kind);

// The boot parts of a track (ISO 9660 system parts), in catalogue order.
std::vector<Entry> BootParts(const Image &image, int32_t track);

// The file name a boot image gets in the "[BOOT]" folder: "boot image 1 x86 no emulation" becomes
// "1-x86-no-emulation.img".
std::string BootFileName(const std::string &part_name);

// Writes every boot image of the track into "[BOOT]" below the tree's destination; reports each failure on
// stderr and returns false when any happened.
bool ExtractBootImages(const Image &image, int32_t track, const host::OutputTree &tree, bool overwrite,
                       size_t *refused);

}  // namespace cli
