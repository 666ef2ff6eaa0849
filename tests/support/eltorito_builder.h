// Adds El Torito boot structures to a volume made by BuildIso: a boot record in the descriptor set, a boot
// catalogue and the boot images after the volume's last sector.
//
//   IsoImage image = BuildIso({File("A.TXT;1", "a")}, BootDescriptors());
//   const BootLayout layout = AddBootCatalogue(image, {{kBootX86, {BootImageSpec{}}}});
//   image.bytes[layout.catalogue * 2048 + 28] ^= 1;  // break the validation checksum
#pragma once

#include <cstdint>
#include <vector>

#include "support/iso_builder.h"

namespace qorvex::test {

// The options of a volume with room for a boot record: primary, boot record, terminator.
IsoOptions BootDescriptors();

struct BootImageSpec {
    uint8_t media = 0;  // 0 no emulation, 1-3 floppies, 4 hard disk
    bool bootable = true;
    uint16_t sector_count = 4;  // load size in 512-byte sectors
    std::vector<uint8_t> data = Pattern(2048, 3);
    uint8_t extensions = 0;  // section entry extensions (selection criteria) after a section entry
};

struct BootSection {
    uint8_t platform = 0;  // 0 x86, 1 PowerPC, 2 Mac, 0xEF EFI
    std::vector<BootImageSpec> images;
};

struct BootLayout {
    uint32_t record = 0;           // sector of the boot record
    uint32_t catalogue = 0;        // sector of the catalogue
    std::vector<uint32_t> images;  // sector of each image, in catalogue order
};

// The first section's first image is the initial/default entry (its platform in the validation entry); every
// other section gets a header and its entries. The image must have been built with BootDescriptors().
BootLayout AddBootCatalogue(IsoImage &image, const std::vector<BootSection> &sections);

}  // namespace qorvex::test
