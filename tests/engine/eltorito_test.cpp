// El Torito below the peers' reach: the partition table and FAT sizes that decide an image's size, and
// catalogues no tool writes (extensions, many sections, empty sections) built in memory.
#include <gtest/gtest.h>

#include "eltorito/boot_structures.h"
#include "qorvex_ext.h"
#include "support/bytes.h"
#include "support/eltorito_builder.h"
#include "support/harness/api_helpers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

TEST(ElToritoSizes, MasterBootRecordEndsAtItsLastPartition) {
    struct Partition {
        uint8_t type;
        uint32_t first, count;
    };
    const struct {
        const char *name;
        std::vector<Partition> table;  // entries 1-4
        bool signature;
        uint64_t end;
    } cases[] = {
        // (One partition, and a FAT's 32-bit count: ElToritoInterop's hard disk and EFI images.)
        {"the last is not the furthest", {{0x0C, 2048, 8192}, {0x83, 1, 100}}, true, 10240},
        {"empty entries are skipped", {{0x00, 0, 0}, {0x00, 5000, 5}, {0x83, 63, 0}, {0xEF, 63, 937}}, true, 1000},
        {"no signature", {{0x83, 1, 1000}}, false, 0},
        {"no partition", {}, true, 0},
        {"largest values do not wrap", {{0x83, 0xFFFFFFFF, 0xFFFFFFFF}}, true, 0x1FFFFFFFEull},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> sector(512, 0);
        for (size_t i = 0; i < c.table.size(); ++i) {
            sector[446 + 16 * i + 4] = c.table[i].type;
            Put32Le(sector.data() + 446 + 16 * i + 8, c.table[i].first);
            Put32Le(sector.data() + 446 + 16 * i + 12, c.table[i].count);
        }
        if (c.signature) sector[510] = 0x55, sector[511] = 0xAA;
        EXPECT_EQ(eltorito::MbrEnd(ByteView(sector.data(), sector.size())), c.end) << c.name;
    }
    EXPECT_EQ(eltorito::MbrEnd(ByteView()), 0u);  // nothing read
}

TEST(ElToritoSizes, FatSizeComesFromTheParameterBlock) {
    const struct {
        const char *name;
        uint16_t bytes_per_sector;
        uint8_t per_cluster;
        uint16_t total16;
        uint32_t total32;
        uint8_t jump;
        uint64_t size;
    } cases[] = {
        {"FAT12 floppy", 512, 1, 2880, 0, 0xEB, 1474560},
        {"4096-byte sectors", 4096, 1, 100, 0, 0xE9, 409600},
        {"no jump instruction", 512, 1, 2880, 0, 0x00, 0},
        {"sector size not a power of two", 768, 1, 2880, 0, 0xEB, 0},
        {"no sectors per cluster", 512, 0, 2880, 0, 0xEB, 0},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> sector(512, 0);
        sector[0] = c.jump;
        sector[11] = uint8_t(c.bytes_per_sector), sector[12] = uint8_t(c.bytes_per_sector >> 8);
        sector[13] = c.per_cluster, sector[14] = 1, sector[16] = 2;
        sector[19] = uint8_t(c.total16), sector[20] = uint8_t(c.total16 >> 8);
        Put32Le(sector.data() + 32, c.total32);
        sector[510] = 0x55, sector[511] = 0xAA;
        EXPECT_EQ(eltorito::FatSize(ByteView(sector.data(), sector.size())), c.size) << c.name;
    }
}

std::vector<std::string> BootParts(const std::string &path, uint32_t options = OPEN_BOOT_IMAGES) {
    Opened opened(path, options);
    EXPECT_TRUE(opened);
    std::vector<std::string> out;
    for (const Listed &e : ListEntries(opened.get(), 0, KIND_ISO9660, true))
        if (e.info.kind >= QORVEX_EX_KIND_BOOT_RECORD && e.info.kind <= QORVEX_EX_KIND_BOOT_SECTION_IMAGE)
            out.push_back(e.name() + " " + std::to_string(e.size()) + " " + std::to_string(e.info.kind));
    return out;
}

TEST(ElToritoCatalogue, SectionsWithExtensionsAndEmptySectionsAreWalkedInOrder) {
    TempDir dir;
    IsoImage image = BuildIso({File("A.TXT;1", "a")}, BootDescriptors());
    BootImageSpec floppy;
    floppy.media = 1;
    floppy.data = Pattern(4096, 5);
    BootImageSpec selected;
    selected.extensions = 3;  // extension slots are passed over, not taken for entries
    selected.sector_count = 2;
    BootImageSpec quiet;
    quiet.bootable = false;
    AddBootCatalogue(image, {{0x00, {BootImageSpec{}}},
                             {0x02, {selected, floppy}},
                             {0x01, {}},  // no header written for a section without entries
                             {0x7F, {quiet}}});
    WriteFile(dir / "boot.iso", image.bytes);
    // The floppy's 1.2 MB lie beyond the image: its size stops at the image's end, its own two sectors and
    // the last image's one.
    EXPECT_EQ(
        BootParts(dir / "boot.iso"),
        (std::vector<std::string>{"boot record 2048 7", "boot catalogue 2048 8", "boot image 1 x86 no emulation 2048 9",
                                  "boot image 2 Mac no emulation 1024 10", "boot image 3 Mac 1.2 MB floppy 6144 10",
                                  "boot image 4 platform 0x7F no emulation not bootable 2048 10"}));
    EXPECT_TRUE(BootParts(dir / "boot.iso", 0).empty());
}

}  // namespace
}  // namespace qorvex::test
