#include "image/image_catalogue.h"

#include <cstring>

#include "image/raw_sector.h"
#include "image/sector_format.h"
#include "image/track_layout.h"
#include "platform/file.h"

namespace qorvex {

namespace {
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

bool SignatureAt(const uint8_t *sample, size_t offset) {
    const uint8_t *p = sample + offset + 1;
    return std::memcmp(p, "CD001", 5) == 0 || std::memcmp(p, "BEA01", 5) == 0;
}

// Raw class of a 32-byte sample of a 2352-byte sector (its 2352-byte format), kFormatUnknown for none.
int32_t RawClass(const uint8_t *s) {
    using namespace raw_sector;
    if (std::memcmp(s, kSync, kSyncSize) != 0) return kFormatUnknown;
    const uint8_t mode = s[kMode];
    if ((mode & 1) && SignatureAt(s, kData)) return kFormatMode1_2352;
    if (mode & 2) {
        // An XA subheader is recorded twice; its submode byte tells Form 2 from Form 1.
        if (std::memcmp(s + kSubheader, s + kSubheaderCopy, 4) == 0 && SignatureAt(s, kXaData))
            return (s[kSubmode] & kSubmodeForm2) ? kFormatMode2Form2_2352 : kFormatMode2Form1_2352;
        if (SignatureAt(s, kData)) return kFormatMode2_2352;
    }
    return kFormatUnknown;
}

// The 2448-byte format holding the same sector layout as a 2352-byte one.
int32_t With2448Bytes(int32_t format2352) {
    switch (format2352) {
        case kFormatMode1_2352: return kFormatMode1_2448;
        case kFormatMode2_2352: return kFormatMode2_2448;
        case kFormatMode2Form1_2352: return kFormatMode2Form1_2448;
        case kFormatMode2Form2_2352: return kFormatMode2Form2_2448;
        default: return kFormatUnknown;
    }
}
}  // namespace

int64_t CFileFindEx::GetLength(const std::string &path) {
    return platform::FindFileLength(path);
}

int32_t DetectFormat(const std::string &path, int64_t base, int32_t shift) {
    const int64_t length = CFileFindEx::GetLength(path);
    if (length < base + int64_t(shift + 21) * 2048) return kFormatUnknown;
    platform::File file;
    if (!file.OpenRead(path)) return kFormatUnknown;
    const int32_t sizes[5] = {2048, 2324, 2336, 2352, 2448};
    uint8_t samples[5][32];
    for (int i = 0; i < 5; ++i) {
        std::memset(samples[i], 0, 32);
        const int64_t at = base + int64_t(shift + 16) * sizes[i];
        if (at + 32 > length) continue;  // a short file simply has no sample there
        if (!file.Seek(at) || file.Read(samples[i], 32) != 32) return kFormatUnknown;
    }
    const uint8_t *s2048 = samples[0], *s2324 = samples[1], *s2336 = samples[2], *s2352 = samples[3],
                  *s2448 = samples[4];
    if (SignatureAt(s2048, 0)) return kFormatMode1_2048;
    if (const int32_t raw = RawClass(s2352); raw != kFormatUnknown) return raw;
    if (const int32_t raw = With2448Bytes(RawClass(s2448)); raw != kFormatUnknown) return raw;
    if (SignatureAt(s2336, 0)) return kFormatMode2_2336;
    // A 2336-byte XA sector: the subheader twice, then the Form 1 data.
    if (std::memcmp(s2336, s2336 + 4, 4) == 0 && SignatureAt(s2336, 8)) return kFormatMode2_2336Xa;
    if (SignatureAt(s2324, 0)) return kFormatMode2_2324;
    return kFormatUnknown;
}

void ImageCatalogue::Reset() {
    tracks_.clear();
    sessions_.clear();
    path_.clear();
    folder_.clear();
    details_.clear();
    disc_ = DiscDetails{};
}

bool ImageCatalogue::Adopt(const std::string &path, std::vector<TrackRecord> tracks, std::vector<TrackDetails> details,
                           DiscDetails disc) {
    Reset();
    path_ = path;
    const size_t slash = path.find_last_of(platform::kPathSeparator);
    folder_ = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    tracks_ = std::move(tracks);
    sessions_ = BuildSessionList(tracks_);
    if (!CheckTrackLayout(tracks_, sessions_)) {
        Reset();
        return false;
    }
    details_ = std::move(details);
    disc_ = std::move(disc);
    return true;
}

bool ImageCatalogue::Probe(const std::string &path, uint32_t /*options*/) {
    Reset();
    const int64_t length = CFileFindEx::GetLength(path);
    if (length < 0) return false;
    path_ = path;
    const size_t slash = path.find_last_of(platform::kPathSeparator);
    folder_ = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    int32_t shift = 0;
    int32_t format = DetectFormat(path, 0, 0);
    if (format == kFormatUnknown) {
        shift = 150;
        format = DetectFormat(path, 0, 150);
        if (format == kFormatUnknown) return false;
    }
    tracks_.push_back(MakeProbedTrack(path, format, shift, length));
    sessions_ = BuildSessionList(tracks_);
    if (!CheckTrackLayout(tracks_, sessions_)) {
        tracks_.clear();
        sessions_.clear();
        return false;
    }
    return true;
}

}  // namespace qorvex
