#include "containers/ecm_source.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

#include "containers/container_file.h"
#include "image/sector_ecc.h"
#include "image/sector_format.h"
#include "model/memory_budget.h"

namespace qorvex::containers {

namespace {
constexpr uint8_t kMagic[4] = {'E', 'C', 'M', 0};
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// A record header: type in bits 0-1, then the count less one, 5 bits and 7 more per byte while bit 7 is set.
// This count ends the records; the EDC of the whole decoded stream follows it.
constexpr uint64_t kEndCount = 0xFFFFFFFFu;
constexpr int kMaxHeaderBytes = 5;
constexpr int64_t kStreamEdcBytes = 4;

enum RecordType : uint8_t { kBytes = 0, kMode1 = 1, kForm1 = 2, kForm2 = 3 };
// Stored and decoded bytes of one item of each type: a byte as it is, a Mode 1 sector without sync, mode,
// EDC and ECC (its address and data), a Mode 2 sector of 2336 bytes kept as its subheader once and its data.
constexpr int64_t kStored[4] = {1, 3 + 2048, 4 + 2048, 4 + 2324};
constexpr int64_t kDecoded[4] = {1, 2352, 2336, 2336};

struct Record {
    uint8_t type = kBytes;
    int64_t count = 0;
    int64_t in = 0;   // file byte of the first item
    int64_t out = 0;  // decoded byte of the first item
};

class EcmSource final : public StoredSource {
public:
    Status Open(const std::string &path);
    int64_t Length() const override { return length_; }
    int64_t ReadAt(int64_t offset, void *destination, int64_t n) override;

private:
    bool DecodeSector(const Record &record, int64_t item);

    ContainerFile file_;
    std::vector<Record> records_;
    int64_t length_ = 0;
    std::mutex lock_;
    // The last sector made again, so a run of small reads inside one sector decodes it once.
    std::array<uint8_t, 2352> sector_{};
    std::array<uint8_t, 4 + 2324> stored_{};
    const Record *sector_record_ = nullptr;
    int64_t sector_item_ = -1;
};

Status EcmSource::Open(const std::string &path) {
    if (!file_.Open(path)) return Code::kImageOpenFailed;
    uint8_t magic[4];
    if (!file_.ReadExact(0, magic, 4) || std::memcmp(magic, kMagic, 4) != 0) return Code::kUnknownFormat;
    MemoryBudget budget = MemoryBudget::ForImage(file_.Length());
    int64_t at = 4, out = 0;
    for (;;) {
        uint8_t byte = 0;
        if (!file_.ReadExact(at++, &byte, 1)) return Code::kUnknownFormat;  // no end marker
        const uint8_t type = byte & 3;
        uint64_t count = (byte >> 2) & 0x1F;
        int shift = 5;
        for (int n = 1; byte & 0x80; ++n) {
            if (n >= kMaxHeaderBytes || !file_.ReadExact(at++, &byte, 1)) return Code::kUnknownFormat;
            count |= uint64_t(byte & 0x7F) << shift;
            shift += 7;
        }
        if (count > kEndCount) return Code::kUnknownFormat;
        if (count == kEndCount) break;
        Record r{type, int64_t(count) + 1, at, out};
        // Sanity check that the items lie in the file: a count cannot claim more than the file holds.
        if (r.count > (file_.Length() - at) / kStored[type]) return Code::kUnknownFormat;
        at += r.count * kStored[type];
        out += r.count * kDecoded[type];
        if (!Append(records_, r, budget)) return Code::kTooLarge;
    }
    if (file_.Length() - at < kStreamEdcBytes || records_.empty()) return Code::kUnknownFormat;
    length_ = out;
    return Status::Ok();
}

bool EcmSource::DecodeSector(const Record &record, int64_t item) {
    if (sector_record_ == &record && sector_item_ == item) return true;
    sector_record_ = nullptr;
    const int64_t stored = kStored[record.type];
    if (!file_.ReadExact(record.in + item * stored, stored_.data(), stored)) return false;
    uint8_t *s = sector_.data();
    std::memcpy(s, kSync, sizeof kSync);
    if (record.type == kMode1) {
        // ECMA-130 14.3: header, 2048 data bytes, EDC over all before it, 8 zero bytes, P and Q parity.
        std::memcpy(s + 12, stored_.data(), 3);
        s[15] = 1;
        std::memcpy(s + 16, stored_.data() + 3, 2048);
        const uint32_t edc = ComputeEdc(s, 0x810);
        for (int i = 0; i < 4; ++i) s[0x810 + i] = static_cast<uint8_t>(edc >> (8 * i));
        std::memset(s + 0x814, 0, 8);
        WriteSectorEcc(s, false);
    } else {
        // A Mode 2 sector keeps no header here: the 2336 bytes from the subheader on are what is decoded.
        std::memset(s + 12, 0, 3);
        s[15] = 2;
        std::memcpy(s + 16, stored_.data(), 4);
        std::memcpy(s + 20, stored_.data(), 4);
        if (record.type == kForm1) {
            std::memcpy(s + 24, stored_.data() + 4, 2048);
            const uint32_t edc = ComputeEdc(s + 16, 0x808);
            for (int i = 0; i < 4; ++i) s[0x818 + i] = static_cast<uint8_t>(edc >> (8 * i));
            WriteSectorEcc(s, true);  // Form 1 parity counts the header as zero
        } else {
            std::memcpy(s + 24, stored_.data() + 4, 2324);
            const uint32_t edc = ComputeEdc(s + 16, 0x91C);
            for (int i = 0; i < 4; ++i) s[0x92C + i] = static_cast<uint8_t>(edc >> (8 * i));
        }
    }
    sector_record_ = &record;
    sector_item_ = item;
    return true;
}

int64_t EcmSource::ReadAt(int64_t offset, void *destination, int64_t n) {
    std::lock_guard<std::mutex> hold(lock_);
    if (offset < 0 || n < 0) return -1;
    auto *out = static_cast<uint8_t *>(destination);
    int64_t done = 0;
    while (done < n && offset < length_) {
        const auto next = std::upper_bound(records_.begin(), records_.end(), offset,
                                           [](int64_t o, const Record &r) { return o < r.out; });
        const Record &r = *(next - 1);
        const int64_t into = offset - r.out;
        const int64_t record_end = r.out + r.count * kDecoded[r.type];
        int64_t take = std::min(n - done, record_end - offset);
        if (r.type == kBytes) {
            if (!file_.ReadExact(r.in + into, out + done, take)) return -1;
        } else {
            const int64_t size = kDecoded[r.type];
            if (!DecodeSector(r, into / size)) return -1;
            const uint8_t *from = sector_.data() + (r.type == kMode1 ? 0 : 16);
            take = std::min(take, size - into % size);
            std::memcpy(out + done, from + into % size, static_cast<size_t>(take));
        }
        done += take;
        offset += take;
    }
    return done;
}
}  // namespace

Status OpenEcm(const std::string &path, std::shared_ptr<StoredSource> *source) {
    auto ecm = std::make_shared<EcmSource>();
    QORVEX_TRY(ecm->Open(path));
    *source = std::move(ecm);
    return Status::Ok();
}

}  // namespace qorvex::containers
