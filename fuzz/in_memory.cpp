#include "in_memory.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "containers/chd_source.h"
#include "containers/ecm_source.h"
#include "containers/isz_source.h"
#include "eltorito/boot_reader.h"
#include "image/sector_reader.h"
#include "iso9660/iso_reader.h"
#include "model/memory_budget.h"
#include "platform/file.h"
#include "qorvex.h"
#include "rockridge/rockridge_reader.h"
#include "udf/udf_reader.h"
#include "udf/udf_structures.h"

namespace fuzz {

std::vector<uint8_t> &LayFrom(const uint8_t *data, size_t size, size_t first, size_t sectors) {
    static std::vector<uint8_t> image;
    const size_t bytes = std::max(first * 2048 + size, sectors * 2048);
    image.assign((bytes + 2047) / 2048 * 2048, 0);
    if (size) std::memcpy(image.data() + first * 2048, data, size);
    return image;
}

namespace {
void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutTag(uint8_t *block, uint16_t id, uint32_t location) {
    block[0] = static_cast<uint8_t>(id);
    block[1] = static_cast<uint8_t>(id >> 8);
    block[2] = 2;
    PutLe32(block + 12, location);
}

void FixCrc(uint8_t *block, size_t available) {
    const qorvex::ByteView bytes(block, available);
    const uint16_t id = qorvex::udf::TagIdentifier(bytes);
    if (!((id >= 1 && id <= 9) || (id >= 256 && id <= 266))) return;
    size_t length = qorvex::udf::Tag::Parse(bytes).crc_length;
    if (length == 0 || 16 + length > available) length = std::min<size_t>(available - 16, 2032);
    block[10] = static_cast<uint8_t>(length);
    block[11] = static_cast<uint8_t>(length >> 8);
    const uint16_t crc = qorvex::udf::Crc16(block + 16, length);
    block[8] = static_cast<uint8_t>(crc);
    block[9] = static_cast<uint8_t>(crc >> 8);
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4) sum = static_cast<uint8_t>(sum + block[i]);
    block[4] = sum;
}

void Anchor(uint8_t *block, uint32_t location) {
    std::memset(block, 0, 2048);
    PutTag(block, 2, location);
    PutLe32(block + 16, 16 * 2048);  // main sequence: 16 sectors at 32
    PutLe32(block + 20, 32);
    PutLe32(block + 24, 16 * 2048);  // reserve sequence: 16 sectors at 48
    PutLe32(block + 28, 48);
    FixCrc(block, 2048);
}

// Writes the recognition sequence and the anchors over an image of at least 258 sectors and makes the CRC of
// every other tagged block right.
void FrameUdf(std::vector<uint8_t> &image) {
    const char *ids[3] = {"BEA01", "NSR02", "TEA01"};
    for (int i = 0; i < 3; ++i) {
        std::memset(&image[(16 + i) * 2048], 0, 2048);
        std::memcpy(&image[(16 + i) * 2048 + 1], ids[i], 5);
        image[(16 + i) * 2048 + 6] = 1;
    }
    const size_t sectors = image.size() / 2048;
    Anchor(&image[256 * 2048], 256);
    Anchor(&image[(sectors - 1) * 2048], static_cast<uint32_t>(sectors - 1));
    for (size_t s = 19; s + 1 < sectors; ++s)
        if (s != 256) FixCrc(&image[s * 2048], 2048);
}
}  // namespace

std::vector<uint8_t> &LaySectors(const uint8_t *data, size_t size, size_t sectors, size_t most) {
    static std::vector<uint8_t> image;
    struct Record {
        size_t sector, at, length;
    };
    std::vector<Record> records;
    size_t end = std::min(sectors, most);
    for (size_t at = 0; at + 4 <= size;) {
        const size_t sector = (data[at] | data[at + 1] << 8) % most;
        const size_t length = std::min<size_t>(data[at + 2] | data[at + 3] << 8, size - at - 4);
        records.push_back({sector, at + 4, std::min(length, (most - sector) * 2048)});
        end = std::max(end, sector + (records.back().length + 2047) / 2048);
        end = std::max(end, sector + 1);
        at += 4 + length;
    }
    image.assign(end * 2048, 0);
    for (const Record &r : records) std::memcpy(&image[r.sector * 2048], data + r.at, r.length);
    return image;
}

std::vector<uint8_t> &LayUdf(const uint8_t *data, size_t size) {
    std::vector<uint8_t> &image = LayFrom(data, size, 19, 258);
    FrameUdf(image);
    return image;
}

std::vector<uint8_t> &LayUdfSectors(const uint8_t *data, size_t size) {
    // The sparable seeds reach past sector 600.
    std::vector<uint8_t> &image = LaySectors(data, size, 258, 1024);
    FrameUdf(image);
    return image;
}

void ReadVolumes(const std::vector<uint8_t> &image, uint32_t options, bool udf) {
    qorvex::TrackRecord record;
    record.format = qorvex::kFormatMode1_2048;
    record.end = static_cast<int32_t>(image.size() / 2048);
    record.stored_length = static_cast<int64_t>(image.size());
    qorvex::SectorReader reader;
    if (!reader.SetUpInMemory(record, qorvex::ByteView(image.data(), image.size())) || !reader.Open()) std::abort();
    qorvex::MemoryBudget budget = qorvex::MemoryBudget::ForImage(static_cast<int64_t>(image.size()));
    const qorvex::Limits limits{&budget, options};
    qorvex::FsListing iso, joliet, rockridge, udf_listing;
    (void)qorvex::iso9660::ReadIso(reader, limits, &iso, &joliet);
    if (limits.Has(OPEN_BOOT_IMAGES) && iso.found) (void)qorvex::eltorito::ReadBootParts(reader, limits, iso);
    if (limits.Has(OPEN_ROCK_RIDGE) && iso.found) (void)qorvex::rockridge::ReadRockRidge(reader, limits, &rockridge);
    if (udf) (void)qorvex::udf::ReadUdf(reader, limits, &udf_listing);
}

namespace {
const char *const kSheetFiles[] = {"disc.bin", "disc.img", "disc.sub", "disc.wav", "disc.cdt", "disc.mdf", "disc.md1"};
constexpr uint32_t kDiscBytes = 2352 * 1200;  // room for every seed's tracks

void Write(const std::string &path, const std::vector<uint8_t> &head, uint32_t length) {
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        if (!head.empty()) std::fwrite(head.data(), 1, head.size(), f);
        std::fclose(f);
    }
    (void)::truncate(path.c_str(), length);  // the rest reads as zeros without taking room
}

void RemoveSheetFiles() {
    for (const char *name : kSheetFiles) ::unlink((SheetFolderPath() + name).c_str());
    ::rmdir(SheetFolderPath().c_str());
}
}  // namespace

const std::string &SheetFolderPath() {
    // The path is made before its removal is registered, so that it is still there when the removal runs.
    static const std::string folder = [] {
        const std::string f = "/tmp/qorvex-fuzz-sheets-" + std::to_string(::getpid()) + "/";
        ::mkdir(f.c_str(), 0700);
        std::vector<uint8_t> wave(44, 0);  // RIFF WAVE, PCM, 2 channels, 44100 Hz, 16 bits
        std::memcpy(&wave[0], "RIFF", 4);
        PutLe32(&wave[4], 36 + kDiscBytes);
        std::memcpy(&wave[8], "WAVEfmt ", 8);
        PutLe32(&wave[16], 16);
        wave[20] = 1, wave[22] = 2;
        PutLe32(&wave[24], 44100);
        PutLe32(&wave[28], 44100 * 4);
        wave[32] = 4, wave[34] = 16;
        std::memcpy(&wave[36], "data", 4);
        PutLe32(&wave[40], kDiscBytes);
        Write(f + "disc.bin", {}, kDiscBytes);
        Write(f + "disc.img", {}, kDiscBytes);
        Write(f + "disc.sub", {}, kDiscBytes / 2352 * 96);
        Write(f + "disc.mdf", {}, kDiscBytes);
        Write(f + "disc.md1", {}, kDiscBytes);
        Write(f + "disc.wav", wave, 44 + kDiscBytes);
        // Two CD-TEXT packs: the disc's title and track 1's.
        std::vector<uint8_t> cdt(36, 0);
        cdt[0] = 0x80, cdt[2] = 0, std::memcpy(&cdt[4], "Disc", 4);
        cdt[18] = 0x80, cdt[19] = 1, cdt[20] = 1, std::memcpy(&cdt[22], "One", 3);
        Write(f + "disc.cdt", cdt, static_cast<uint32_t>(cdt.size()));
        return f;
    }();
    static const bool registered = std::atexit(RemoveSheetFiles) == 0;
    (void)registered;
    return folder;
}

const qorvex::sheets::SheetFolder &SheetFiles() {
    static const qorvex::sheets::SheetFolder folder(SheetFolderPath());
    return folder;
}

qorvex::Status OpenChdStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source) {
    qorvex::containers::ChdImage image;
    const qorvex::Status status = qorvex::containers::OpenChd(path, &image);
    if (status.IsOk()) *source = image.source;
    return status;
}

qorvex::Status OpenEcmStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source) {
    return qorvex::containers::OpenEcm(path, source);
}

qorvex::Status OpenIszStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source) {
    return qorvex::containers::OpenIsz(path, source);
}

std::string ContainerPath(const std::string &extension) {
    return "/tmp/qorvex-fuzz-" + std::to_string(::getpid()) + "." + extension;
}

bool ReadContainer(const uint8_t *data, size_t size, const std::string &path, OpenContainer open, int64_t most) {
    {
        qorvex::platform::File file;
        if (!file.Create(path) || !file.Write(data, size) || !file.Close()) return false;
    }
    std::shared_ptr<qorvex::StoredSource> source;
    if (!open(path, &source).IsOk()) return false;
    std::vector<uint8_t> block(40000);
    const int64_t end = std::min<int64_t>(source->Length(), most);
    for (int64_t at = 0; at < end; at += int64_t(block.size()))
        if (source->ReadAt(at, block.data(), int64_t(block.size())) < 0) break;
    return true;
}

}  // namespace fuzz
