#include "image/image_catalogue.h"

#include <cstring>

#include "image/sector_format.h"
#include "platform/file.h"

namespace qorvex {

namespace {
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

bool SignatureAt(const uint8_t *sample, size_t offset) {
    const uint8_t *p = sample + offset + 1;
    return std::memcmp(p, "CD001", 5) == 0 || std::memcmp(p, "BEA01", 5) == 0;
}

// Raw class of a 32-byte sample of a 2352-byte sector: 3, 5, 6, 7 or 0 for none.
int32_t RawClass(const uint8_t *s) {
    if (std::memcmp(s, kSync, sizeof kSync) != 0) return 0;
    const uint8_t mode = s[15];
    if ((mode & 1) && SignatureAt(s, 16)) return 3;
    if (mode & 2) {
        if (std::memcmp(s + 16, s + 20, 4) == 0 && SignatureAt(s, 24)) return (s[18] & 0x20) ? 7 : 6;
        if (SignatureAt(s, 16)) return 5;
    }
    return 0;
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
    if (SignatureAt(s2048, 0)) return 9;
    if (int32_t c = RawClass(s2352)) return c;
    switch (RawClass(s2448)) {
        case 3: return 15;
        case 5: return 16;
        case 6: return 17;
        case 7: return 18;
        default: break;
    }
    if (SignatureAt(s2336, 0)) return 10;
    if (std::memcmp(s2336, s2336 + 4, 4) == 0 && SignatureAt(s2336, 8)) return 13;
    if (SignatureAt(s2324, 0)) return 12;
    return kFormatUnknown;
}

void ImageCatalogue::Reset() {
    tracks_.clear();
    sessions_.clear();
    path_.clear();
    folder_.clear();
}

bool ImageCatalogue::Probe(const std::string &path) {
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
