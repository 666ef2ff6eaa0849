#include "support/eltorito_builder.h"

#include <cstring>

namespace qorvex::test {

namespace {
void Put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutEntry(uint8_t *slot, const BootImageSpec &boot, uint32_t rba) {
    slot[0] = boot.bootable ? 0x88 : 0x00;
    slot[1] = static_cast<uint8_t>(boot.media | (boot.extensions ? 0x20 : 0));
    Put16(slot + 6, boot.sector_count);
    Put32(slot + 8, rba);
}
}  // namespace

IsoOptions BootDescriptors() {
    IsoOptions o;
    VolumeDescriptor primary, boot, end;
    boot.type = 0;
    end.type = 255;
    o.descriptors = {primary, boot, end};
    return o;
}

BootLayout AddBootCatalogue(IsoImage &image, const std::vector<BootSection> &sections) {
    BootLayout layout;
    layout.record = image.descriptor_sectors.at(1);
    layout.catalogue = image.Sectors();
    image.bytes.resize(image.bytes.size() + 2048, 0);
    for (const BootSection &section : sections)
        for (const BootImageSpec &boot : section.images) {
            layout.images.push_back(image.Sectors());
            image.bytes.insert(image.bytes.end(), boot.data.begin(), boot.data.end());
            image.bytes.resize((image.bytes.size() + 2047) / 2048 * 2048, 0);
        }

    uint8_t *record = image.bytes.data() + size_t(layout.record) * 2048;
    std::memcpy(record + 7, "EL TORITO \x53PECIFICATION", 23);  // the boot system identifier
    Put32(record + 71, layout.catalogue);

    uint8_t *slot = image.bytes.data() + size_t(layout.catalogue) * 2048;
    slot[0] = 1;
    slot[1] = sections.empty() ? 0 : sections[0].platform;
    slot[30] = 0x55, slot[31] = 0xAA;
    uint16_t sum = 0;
    for (int i = 0; i < 32; i += 2) sum = static_cast<uint16_t>(sum + (slot[i] | slot[i + 1] << 8));
    Put16(slot + 28, static_cast<uint16_t>(0x10000 - sum));
    size_t image_index = 0;
    if (!sections.empty() && !sections[0].images.empty())
        PutEntry(slot + 32, sections[0].images[0], layout.images[image_index++]);
    // Headers and section entries after the initial entry.
    uint8_t *at = slot + 64;
    for (size_t s = 0; s < sections.size(); ++s) {
        const size_t first = s == 0 ? 1 : 0;
        if (first >= sections[s].images.size()) continue;
        bool last = true;
        for (size_t t = s + 1; t < sections.size(); ++t) last = last && sections[t].images.empty();
        at[0] = last ? 0x91 : 0x90;
        at[1] = sections[s].platform;
        Put16(at + 2, static_cast<uint16_t>(sections[s].images.size() - first));
        at += 32;
        for (size_t i = first; i < sections[s].images.size(); ++i) {
            const BootImageSpec &boot = sections[s].images[i];
            PutEntry(at, boot, layout.images[image_index++]);
            at += 32;
            for (uint8_t x = 0; x < boot.extensions; ++x, at += 32) {
                at[0] = 0x44;
                at[1] = x + 1 < boot.extensions ? 0x20 : 0;
            }
        }
    }
    return layout;
}

}  // namespace qorvex::test
