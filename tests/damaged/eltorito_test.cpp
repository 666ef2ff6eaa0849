// A bootable xorriso image whose boot record and catalogue are damaged one way at a time: the ISO 9660 and
// Joliet listings never change, the boot parts lose exactly what the damage reaches, sizes never run past the
// image, and memory stays bounded.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "qorvex_ext.h"
#include "support/harness/damage_harness.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::TempDir;

int32_t Discard(int32_t, void *, const void *, int32_t) {
    return 1;
}

// The boot parts as "name size start -> extraction result", then the counts of the other listings.
std::string ObserveBoot(const std::string &path) {
    return WithOpen(path, OPEN_BOOT_IMAGES, [](QorvexHandle h) {
        QorvexSetCallback(h, Discard, nullptr);
        std::string out;
        size_t other = 0;
        ForEach(h, KIND_ISO9660, true, [&](const EntryInfo &info) {
            if (info.kind < QORVEX_EX_KIND_BOOT_RECORD || info.kind > QORVEX_EX_KIND_BOOT_SECTION_IMAGE) {
                ++other;
                return;
            }
            const uint64_t size = uint64_t(info.size_low) | (uint64_t(info.size_high) << 32);
            out += std::string(info.name) + " " + std::to_string(size) + " " + std::to_string(info.start) + " -> " +
                   Code(QorvexExtractCurrentModule(h, nullptr)) + "\n";
        });
        return out + "other parts " + std::to_string(other) + ", files " +
               std::to_string(QorvexGetFileCount(h, 0, KIND_ISO9660)) + " + " +
               std::to_string(QorvexGetFileCount(h, 0, KIND_JOLIET)) + "\n";
    });
}

class BootDamage : public ::testing::Test {
protected:
    void SetUp() override {
        MakeSourceTree(dir.path());
        qorvex::test::WriteFile(dir / "src/FLOPPY.IMG", std::vector<uint8_t>(1474560, 0xF1));
        image = MakeWithTool(dir.path(),
                             "xorriso -as mkisofs -J -o {out} -b A.BIN -no-emul-boot -boot-load-size 4 "
                             "-eltorito-alt-boot -eltorito-platform PPC -b FLOPPY.IMG "
                             "-eltorito-alt-boot -e D/B.BIN -no-emul-boot {src}");
        if (image.empty()) GTEST_SKIP() << "xorriso is not installed";
        catalogue = Get32Le(SectorAt(image, 17) + 71);
        ASSERT_GT(catalogue, 17u);
        qorvex::test::WriteFile(dir / "intact.iso", image);
        intact = ObserveBoot(dir / "intact.iso");
        other = intact.substr(intact.find("other parts"));
        ASSERT_NE(intact.find("boot image 3 EFI no emulation"), std::string::npos) << intact;
    }

    uint8_t *Slot(size_t i) { return SectorAt(image, catalogue) + 32 * i; }
    uint32_t Sectors() const { return static_cast<uint32_t>(image.size() / 2048); }
    // The intact report cut to its first n boot parts.
    std::string FirstParts(size_t n) const {
        size_t at = 0;
        for (size_t i = 0; i < n; ++i) at = intact.find('\n', at) + 1;
        return intact.substr(0, at) + other;
    }
    // The intact report with the line of boot image n replaced (removed when `line` is empty).
    std::string Replaced(int n, const std::string &line) const {
        std::string text = intact;
        const size_t at = text.find("boot image " + std::to_string(n) + " ");
        const size_t end = text.find('\n', at) + 1;
        text.replace(at, end - at, line.empty() ? line : line + "\n");
        return text;
    }

    TempDir dir;
    std::vector<uint8_t> image;
    uint32_t catalogue = 0;
    std::string intact, other;
};

TEST_F(BootDamage, EachDamageLosesOnlyWhatItReaches) {
    const uint32_t efi_image = Get32Le(Slot(5) + 8);
    std::string endless_headers = FirstParts(3);
    endless_headers.replace(endless_headers.find("boot catalogue 2048"), 19, "boot catalogue 32768");
    const std::vector<DamageCase> cases = {
        {"validation checksum off by one", [&] { Slot(0)[28] ^= 1; }, FirstParts(2)},
        {"validation key bytes gone", [&] { Slot(0)[31] = 0; }, FirstParts(2)},
        {"catalogue past the image", [&] { Put32Le(SectorAt(image, 17) + 71, Sectors() + 100); }, FirstParts(1)},
        {"catalogue at the largest sector", [&] { Put32Le(SectorAt(image, 17) + 71, 0xFFFFFFFF); }, FirstParts(1)},
        {"not El Torito's system identifier", [&] { SectorAt(image, 17)[7] = 'X'; }, other},
        {"final header claims 65535 entries", [&] { Put16Le(Slot(4) + 2, 0xFFFF); }, intact},
        {"first header claims 65535 entries: the next header still ends its section",
         [&] { Put16Le(Slot(2) + 2, 0xFFFF); }, intact},
        {"no final header: headers over more sectors than a catalogue may take",
         [&] {
             for (size_t i = 2; i < 64 * 20; ++i) {
                 std::memset(Slot(i), 0, 32);
                 Slot(i)[0] = 0x90;
             }
         },
         endless_headers},
        {"image past the end of the image", [&] { Put32Le(Slot(1) + 8, Sectors() + 5); }, Replaced(1, "")},
        {"hard disk whose partition table reaches 2 TiB: cut at the image's end",
         [&] {
             Slot(5)[1] = 4;  // the EFI entry becomes a hard disk
             uint8_t *mbr = SectorAt(image, efi_image);
             std::memset(mbr + 446, 0, 64);
             mbr[446 + 4] = 0x83;
             Put32Le(mbr + 446 + 8, 0xFFFFFFF0);
             Put32Le(mbr + 446 + 12, 0xFFFFFFF0);
             mbr[510] = 0x55, mbr[511] = 0xAA;
         },
         Replaced(3, "boot image 3 EFI hard disk " + std::to_string(uint64_t(Sectors() - efi_image) * 2048) + " " +
                         std::to_string(efi_image) + " -> 0x0000")},
    };
    RunDamageCases(image, cases, dir / "damaged.iso", [&] { return ObserveBoot(dir / "damaged.iso"); });

    // Endless sections: the final header promises 65535 entries, and the catalogue's sectors and those after
    // it hold nothing but entries naming the first image. They stop at the bound of images.
    Slot(4)[2] = 0xFF, Slot(4)[3] = 0xFF;
    for (size_t i = 6; i < 64 * 20; ++i) std::memcpy(Slot(i), Slot(1), 32);
    qorvex::test::WriteFile(dir / "damaged.iso", image);
    const Bounded run = RunBounded([&] { return ObserveBoot(dir / "damaged.iso"); });
    ASSERT_TRUE(run.finished) << run.what;
    EXPECT_LT(run.peak_kib, kPeakBoundKib);
    size_t images = 0;
    for (size_t at = 0; (at = run.what.find("boot image ", at)) != std::string::npos; ++at) ++images;
    EXPECT_EQ(images, 256u);
    EXPECT_NE(run.what.find("boot catalogue 32768 "), std::string::npos);
    EXPECT_NE(run.what.find("boot image 256 EFI no emulation 2048 "), std::string::npos);
    EXPECT_NE(run.what.find(other), std::string::npos);
}

}  // namespace
}  // namespace damaged
