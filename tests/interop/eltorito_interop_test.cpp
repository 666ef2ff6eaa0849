// Bootable images made by xorriso and genisoimage: the boot parts the engine lists must agree with xorriso's
// report of the catalogue, the default image with what geteltorito writes, and the sizes with 7-Zip's [BOOT]
// entries where 7-Zip reads the same thing.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "qorvex_ext.h"
#include "support/bytes.h"
#include "support/harness/api_helpers.h"
#include "support/iso_builder.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

// A hard-disk image of `bytes` whose master boot record lists one partition (all the tools accept) ending at
// sector `end`, short of the file's end.
std::vector<uint8_t> DiskImage(size_t bytes, uint32_t end) {
    std::vector<uint8_t> disk = Pattern(bytes, 11);
    std::fill(disk.begin() + 446, disk.begin() + 510, 0);
    disk[446] = 0x80, disk[446 + 4] = 0x83, Put32Le(&disk[446 + 8], 1), Put32Le(&disk[446 + 12], end - 1);
    disk[510] = 0x55, disk[511] = 0xAA;
    return disk;
}

// An image of `bytes` that starts with a FAT boot sector for `sectors` 512-byte sectors.
std::vector<uint8_t> FatImage(size_t bytes, uint32_t sectors) {
    std::vector<uint8_t> fat = Pattern(bytes, 12);
    std::fill(fat.begin(), fat.begin() + 512, 0);
    fat[0] = 0xEB, fat[1] = 0x3C, fat[2] = 0x90;
    std::memcpy(&fat[3], "MSWIN4.1", 8);
    Put16Le(&fat[11], 512), fat[13] = 4, Put16Le(&fat[14], 1), fat[16] = 2, Put16Le(&fat[17], 512);
    if (sectors < 65536)
        Put16Le(&fat[19], static_cast<uint16_t>(sectors));
    else
        Put32Le(&fat[32], sectors);
    fat[21] = 0xF8, fat[510] = 0x55, fat[511] = 0xAA;
    return fat;
}

constexpr uint32_t kDiskEnd = 1001;         // sectors up to the end of the last partition
constexpr uint32_t kBigFatSectors = 66000;  // an EFI image too large for a 16-bit load size

// A platform or emulation as xorriso reports it -> as the engine names it.
std::string EngineName(const std::string &xorriso) {
    static const std::map<std::string, std::string> names = {{"BIOS", "x86"},
                                                             {"PPC", "PowerPC"},
                                                             {"UEFI", "EFI"},
                                                             {"none", "no emulation"},
                                                             {"fd1.2", "1.2 MB floppy"},
                                                             {"fd1.4", "1.44 MB floppy"},
                                                             {"fd2.8", "2.88 MB floppy"},
                                                             {"hd", "hard disk"}};
    const auto it = names.find(xorriso);
    return it == names.end() ? xorriso : it->second;
}

bool IsBootKind(int32_t kind) {
    return kind >= QORVEX_EX_KIND_BOOT_RECORD && kind <= QORVEX_EX_KIND_BOOT_SECTION_IMAGE;
}

struct Case {
    const char *name;
    std::string command;               // {out} is the image; run in the folder above the sources
    std::vector<std::string> sources;  // the file of each boot image, in catalogue order
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << c.name;
}

class ElToritoInterop : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        if (MissingAny({"xorriso", "genisoimage", "geteltorito", "7z"})) return;
        dir_ = std::make_unique<TempDir>();
        const std::string src = *dir_ / "src";
        RunCommand("mkdir -p " + Quote(src + "/boot") + " " + Quote(src + "/docs"));
        WriteFile(src + "/boot/boot.bin", Pattern(5000, 1));
        WriteFile(src + "/boot/floppy.img", Pattern(1474560, 2));
        WriteFile(src + "/boot/disk.img", DiskImage(1 << 20, kDiskEnd));
        WriteFile(src + "/boot/efi.img", FatImage(4 << 20, 2880));
        WriteFile(src + "/docs/readme.txt", std::string("not a boot image\n"));
        const std::string big = *dir_ / "big";
        RunCommand("mkdir -p " + Quote(big));
        WriteFile(big + "/efi.img", FatImage(33 << 20, kBigFatSectors));
    }
    static void TearDownTestSuite() { dir_.reset(); }

    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "xorriso, genisoimage, geteltorito and 7z are needed";
    }

    static std::unique_ptr<TempDir> dir_;
};
std::unique_ptr<TempDir> ElToritoInterop::dir_;

TEST_P(ElToritoInterop, BootPartsAgreeWithPeers) {
    const Case &c = GetParam();
    const std::string image = *dir_ / (std::string(c.name) + ".iso");
    std::string command = c.command;
    command.replace(command.find("{out}"), 5, Quote(image));
    const bool big = command.find(" big") != std::string::npos;
    ASSERT_EQ(RunCommand("cd " + Quote(dir_->path()) + " && " + command + " >/dev/null 2>&1"), 0) << command;

    const XorrisoBootReport report = XorrisoElTorito(image);
    ASSERT_EQ(report.images.size(), c.sources.size());

    Opened plain(image);
    Opened opened(image, OPEN_BOOT_IMAGES);
    ASSERT_TRUE(plain && opened);
    std::vector<Listed> boot, other;
    for (const Listed &e : ListEntries(opened.get(), 0, KIND_ISO9660, true))
        (IsBootKind(e.info.kind) ? boot : other).push_back(e);
    // Without the option nothing of this is listed, and with it nothing else changes.
    EXPECT_EQ(Names(ListEntries(plain.get(), 0, KIND_ISO9660, true)), Names(other));
    ASSERT_EQ(boot.size(), 2 + report.images.size());
    EXPECT_EQ(boot[0].name(), "boot record");
    EXPECT_EQ(boot[0].info.start, 17);
    EXPECT_EQ(boot[1].name(), "boot catalogue");
    EXPECT_EQ(boot[1].info.start, static_cast<int32_t>(report.catalogue));
    EXPECT_EQ(boot[1].size(), 2048u);

    const std::vector<uint64_t> seven = SevenZipBootSizes(image);
    EXPECT_EQ(seven.size(), report.images.size());
    for (size_t i = 0; i < report.images.size(); ++i) {
        SCOPED_TRACE("image " + std::to_string(i + 1));
        const XorrisoBootImage &r = report.images[i];
        const Listed &e = boot[2 + i];
        EXPECT_EQ(e.name(), "boot image " + std::to_string(i + 1) + " " + EngineName(r.platform) + " " +
                                EngineName(r.emulation) + (r.bootable ? "" : " not bootable"));
        EXPECT_EQ(e.info.kind, i == 0 ? QORVEX_EX_KIND_BOOT_IMAGE : QORVEX_EX_KIND_BOOT_SECTION_IMAGE);
        EXPECT_EQ(e.info.start, static_cast<int32_t>(r.lba));

        uint64_t expected = r.load_size * 512;
        if (r.emulation == "fd1.4") expected = 1474560;
        if (r.emulation == "hd") expected = r.disk_sectors * 512;
        const bool placeholder = r.platform == "UEFI" && r.load_size <= 1;
        if (placeholder) expected = uint64_t(kBigFatSectors) * 512;
        EXPECT_EQ(e.size(), expected);
        // 7-Zip takes a hard disk's size from its load size and a placeholder's up to what follows.
        if (i < seven.size() && r.emulation != "hd" && !placeholder) {
            EXPECT_EQ(seven[i], e.size());
        }

        // The bytes are the start of the file the image was made from.
        QorvexGetModuleStart(opened.get(), 0, KIND_ISO9660);
        for (size_t k = 0; k <= other.size() + 2 + i; ++k) QorvexGetNextModule(opened.get(), nullptr);
        const std::string out = *dir_ / "part.img";
        ASSERT_EQ(QorvexExtractCurrentModule(opened.get(), out.c_str()), 0);
        const std::vector<uint8_t> extracted = ReadFile(out);
        std::vector<uint8_t> source = ReadFile(*dir_ / ((big ? "big/" : "src/") + c.sources[i]));
        ASSERT_GE(source.size(), extracted.size());
        source.resize(extracted.size());
        EXPECT_EQ(extracted.size(), e.size());
        EXPECT_TRUE(extracted == source);

        // geteltorito writes the default image; it knows no placeholder and writes nothing for one.
        if (i == 0 && !placeholder) {
            const std::string peer = *dir_ / "peer.img";
            ASSERT_EQ(RunCommand("geteltorito -o " + Quote(peer) + " " + Quote(image) + " >/dev/null 2>&1"), 0);
            EXPECT_TRUE(ReadFile(peer) == extracted);
        }
    }
}

const char kAlt[] = " -eltorito-alt-boot ";
INSTANTIATE_TEST_SUITE_P(
    Images, ElToritoInterop,
    ::testing::Values(
        Case{"floppy", "genisoimage -quiet -o {out} -c boot.cat -b boot/floppy.img src", {"boot/floppy.img"}},
        Case{"disk", "xorriso -as mkisofs -o {out} -b boot/disk.img -hard-disk-boot src", {"boot/disk.img"}},
        Case{"bios_efi",
             "xorriso -as mkisofs -J -o {out} -b boot/boot.bin -no-emul-boot -boot-load-size 4 -eltorito-alt-boot "
             "-e boot/efi.img -no-emul-boot src",
             {"boot/boot.bin", "boot/efi.img"}},
        Case{"platforms",
             (std::string("xorriso -as mkisofs -o {out} -b boot/boot.bin -no-emul-boot -boot-load-size 4") + kAlt +
              "-eltorito-platform PPC -b boot/floppy.img" + kAlt +
              "-eltorito-platform Mac -b boot/boot.bin -no-emul-boot -boot-load-size 8" + kAlt +
              "-e boot/efi.img -no-emul-boot src"),
             {"boot/boot.bin", "boot/floppy.img", "boot/boot.bin", "boot/efi.img"}},
        Case{"not_bootable",
             "genisoimage -quiet -J -o {out} -c boot.cat -b boot/boot.bin -no-emul-boot -boot-load-size 4 "
             "-eltorito-alt-boot -b boot/disk.img -hard-disk-boot -no-boot src",
             {"boot/boot.bin", "boot/disk.img"}},
        Case{"efi_placeholder", "xorriso -as mkisofs -o {out} -e efi.img -no-emul-boot big", {"efi.img"}}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qorvex::test
