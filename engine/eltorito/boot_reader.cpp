#include "eltorito/boot_reader.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "eltorito/boot_structures.h"
#include "model/kinds.h"

namespace qorvex::eltorito {

namespace {

constexpr size_t kSlotsPerSector = kCdSector / kEntrySize;

// The size a user expects of an emulated floppy (2.2 media types 1-3).
uint64_t FloppySize(uint8_t media) {
    switch (media) {
        case kFloppy12: return 1228800;
        case kFloppy144: return 1474560;
        case kFloppy288: return 2949120;
        default: return 0;
    }
}

std::string PlatformName(uint8_t platform) {
    switch (platform) {
        case kPlatformX86: return "x86";
        case kPlatformPowerPc: return "PowerPC";
        case kPlatformMac: return "Mac";
        case kPlatformEfi: return "EFI";
        default: {
            static const char kHex[] = "0123456789ABCDEF";
            return std::string("platform 0x") + kHex[platform >> 4] + kHex[platform & 15];
        }
    }
}

std::string MediaName(uint8_t media) {
    switch (media) {
        case kNoEmulation: return "no emulation";
        case kFloppy12: return "1.2 MB floppy";
        case kFloppy144: return "1.44 MB floppy";
        case kFloppy288: return "2.88 MB floppy";
        case kHardDisk: return "hard disk";
        default: return "media type " + std::to_string(media);
    }
}

// One boot image the catalogue names, with the platform of the section it stands in.
struct Named {
    BootEntry entry;
    uint8_t platform = 0;
    bool section = false;  // a section entry, not the initial/default entry
};

class BootScan {
public:
    BootScan(SectorReader &reader, MemoryBudget &budget, FsListing &iso)
        : reader_(reader), budget_(budget), iso_(iso), read_(static_cast<size_t>(reader.MaxUserSize())) {}

    Status Run() {
        const std::optional<uint32_t> record = FindBootRecord();
        if (!record) return Status::Ok();
        if (!AddPart(EntryKind::kBootRecord, "boot record", *record, kCdSector)) return Code::kTooLarge;
        if (!ReadCatalogue()) return Status::Ok();
        const uint64_t sectors = (used_slots_ + kSlotsPerSector - 1) / kSlotsPerSector;
        if (!AddPart(EntryKind::kBootCatalogue, "boot catalogue", catalogue_, sectors * kCdSector))
            return Code::kTooLarge;
        for (size_t i = 0; i < images_.size(); ++i)
            if (!AddImage(images_[i], i + 1)) return Code::kTooLarge;
        return Status::Ok();
    }

private:
    // The 2048 bytes of one sector of the track; false when it lies outside the track or cannot be read.
    bool ReadSector(uint32_t sector, std::vector<uint8_t> &out) {
        if (int64_t(sector) >= reader_.TrackEnd() || sector > INT32_MAX) return false;
        if (!reader_.SeekSector(static_cast<int32_t>(sector)) || reader_.ReadSectors(read_.data(), 1) == 0)
            return false;
        out.assign(read_.begin(), read_.begin() + kCdSector);
        return true;
    }

    std::optional<uint32_t> FindBootRecord() {
        std::vector<uint8_t> d;
        const int64_t first = int64_t(reader_.Record().start) + 16;
        for (uint32_t k = 0; k < kMaxDescriptors; ++k) {
            const int64_t sector = first + k;
            if (sector > INT32_MAX || !ReadSector(static_cast<uint32_t>(sector), d)) return std::nullopt;
            const ByteView bytes(d.data(), d.size());
            if (!bytes.Matches(1, "CD001") || bytes.U8(0) == 255) return std::nullopt;  // the set has ended
            if (BootRecord::Is(bytes)) {
                catalogue_ = BootRecord::Parse(bytes).catalogue;
                return static_cast<uint32_t>(sector);
            }
        }
        return std::nullopt;
    }

    // Slot i of the catalogue, reading its sectors as they are reached; empty past what can be read.
    ByteView Slot(size_t i) {
        const size_t sector = i / kSlotsPerSector;
        if (sector >= kMaxCatalogueSectors) return {};
        while (sectors_.size() <= sector) {
            std::vector<uint8_t> next;
            if (!ReadSector(catalogue_ + static_cast<uint32_t>(sectors_.size()), next)) return {};
            sectors_.push_back(std::move(next));
        }
        return ByteView(sectors_[sector].data() + (i % kSlotsPerSector) * kEntrySize, kEntrySize);
    }

    void Take(const BootEntry &entry, uint8_t platform, bool section) {
        // An empty initial entry (nothing lies at sector 0, the system area) names no image.
        if (entry.load_rba == 0 || images_.size() >= kMaxBootImages) return;
        images_.push_back({entry, platform, section});
    }

    // Goes through the catalogue once, front to back; false when it is not one (the catalogue is then not
    // listed). Counts that promise more entries than follow end at the next header or at anything else.
    bool ReadCatalogue() {
        if (catalogue_ == 0 || uint64_t(catalogue_) + 1 > uint64_t(INT32_MAX)) return false;
        const ByteView first = Slot(0);
        if (first.Size() == 0) return false;
        const ValidationEntry validation = ValidationEntry::Parse(first);
        used_slots_ = 1;
        if (!validation.Valid()) return true;  // listed, but nothing in it is trusted
        const BootEntry initial = BootEntry::Parse(Slot(1));
        used_slots_ = 2;
        if (initial.IsEntry()) Take(initial, validation.platform, false);

        size_t i = 2;
        for (ByteView slot; (slot = Slot(i)).Size() != 0 && SectionHeader::Is(slot.U8(0));) {
            const SectionHeader header = SectionHeader::Parse(slot);
            ++i;
            for (uint32_t n = 0; n < header.entries; ++n) {
                const ByteView e = Slot(i);
                if (e.Size() == 0 || SectionHeader::Is(e.U8(0))) break;
                const BootEntry entry = BootEntry::Parse(e);
                // An empty slot (nothing lies at sector 0) ends a section whose count promised more.
                if (!entry.IsEntry() || entry.load_rba == 0) break;
                Take(entry, header.platform, true);
                ++i;
                // Extensions (2.6) carry selection criteria only.
                for (bool more = entry.ExtensionFollows(); more;) {
                    const ByteView x = Slot(i);
                    if (x.Size() == 0 || x.U8(0) != kExtensionIndicator) break;
                    more = ExtensionContinues(x);
                    ++i;
                }
            }
            used_slots_ = i;
            if (header.Final()) break;
        }
        return true;
    }

    // The size a user expects of an image: the emulated disk, else the loaded sectors; an EFI image that
    // records a placeholder load size gives its FAT size.
    uint64_t ExpectedSize(const Named &image) {
        const BootEntry &e = image.entry;
        const uint64_t loaded = uint64_t(e.sector_count) * kVirtualSector;
        const uint8_t media = e.MediaType();
        if (const uint64_t floppy = FloppySize(media)) return floppy;
        if (media == kHardDisk) {
            std::vector<uint8_t> head;
            const uint64_t end = ReadSector(e.load_rba, head) ? MbrEnd(ByteView(head.data(), head.size())) : 0;
            return end ? end * kVirtualSector : std::max<uint64_t>(loaded, kVirtualSector);
        }
        if (media == kNoEmulation && image.platform == kPlatformEfi && e.sector_count <= 1) {
            std::vector<uint8_t> head;
            const uint64_t fat = ReadSector(e.load_rba, head) ? FatSize(ByteView(head.data(), head.size())) : 0;
            if (fat) return fat;
        }
        return loaded;
    }

    bool AddImage(const Named &image, size_t number) {
        const BootEntry &e = image.entry;
        // An image that starts past the track is not listed; one that runs past it is cut at its end.
        if (int64_t(e.load_rba) >= reader_.TrackEnd()) return true;
        const uint64_t room = uint64_t(int64_t(reader_.TrackEnd()) - e.load_rba) * kCdSector;
        std::string name = "boot image " + std::to_string(number) + " " + PlatformName(image.platform) + " " +
                           MediaName(e.MediaType());
        if (!e.Bootable()) name += " not bootable";
        return AddPart(image.section ? EntryKind::kBootSectionImage : EntryKind::kBootImage, name, e.load_rba,
                       std::min(ExpectedSize(image), room));
    }

    bool AddPart(EntryKind kind, const std::string &name, uint32_t extent, uint64_t size) {
        CatalogueEntry part;
        part.kind = kind;
        part.name = iso_.names.Add(name, budget_);
        part.extent = extent;
        part.size = size;
        part.sectors = static_cast<uint32_t>((size + kCdSector - 1) / kCdSector);
        return !part.name.empty() && iso_.AddPart(part, budget_);
    }

    SectorReader &reader_;
    MemoryBudget &budget_;
    FsListing &iso_;
    std::vector<uint8_t> read_;
    uint32_t catalogue_ = 0;
    std::vector<std::vector<uint8_t>> sectors_;  // of the catalogue, as far as read
    size_t used_slots_ = 0;
    std::vector<Named> images_;
};

}  // namespace

Status ReadBootParts(SectorReader &reader, const Limits &limits, FsListing &iso) {
    // Boot images are counted in 2048-byte sectors: a volume read with another block size is left alone.
    if (!limits.budget || reader.UserSize() != static_cast<int32_t>(kCdSector)) return Status::Ok();
    BootScan scan(reader, *limits.budget, iso);
    return scan.Run();
}

}  // namespace qorvex::eltorito
