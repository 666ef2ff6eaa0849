#include "image/image_catalogue.h"

#include <algorithm>
#include <cstring>

#include "image/raw_sector.h"
#include "image/sector_format.h"
#include "image/track_layout.h"
#include "model/byte_view.h"
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

namespace {
// The detection over a stream of `length` bytes read through `read(at, destination)` (32 bytes).
template <typename Read>
int32_t DetectIn(int64_t length, int64_t base, int32_t shift, Read read) {
    if (length < base + int64_t(shift + 21) * 2048) return kFormatUnknown;
    const int32_t sizes[5] = {2048, 2324, 2336, 2352, 2448};
    uint8_t samples[5][32];
    for (int i = 0; i < 5; ++i) {
        std::memset(samples[i], 0, 32);
        const int64_t at = base + int64_t(shift + 16) * sizes[i];
        if (at + 32 > length) continue;  // a short file simply has no sample there
        if (!read(at, samples[i])) return kFormatUnknown;
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
}  // namespace

int32_t DetectFormat(const std::string &path, int64_t base, int32_t shift) {
    platform::File file;
    if (!file.OpenRead(path)) return kFormatUnknown;
    return DetectIn(CFileFindEx::GetLength(path), base, shift,
                    [&file](int64_t at, uint8_t *out) { return file.Seek(at) && file.Read(out, 32) == 32; });
}

bool ImageCatalogue::ProbeSource(const std::string &path, std::shared_ptr<StoredSource> source, DiscDetails disc) {
    Reset();
    StoredSource &s = *source;
    const int64_t length = s.Length();
    const auto read = [&s](int64_t at, uint8_t *out) { return s.ReadAt(at, out, 32) == 32; };
    int32_t shift = 0;
    int32_t format = DetectIn(length, 0, 0, read);
    if (format == kFormatUnknown) {
        shift = 150;
        format = DetectIn(length, 0, 150, read);
        if (format == kFormatUnknown) return false;
    }
    TrackRecord track = MakeProbedTrack(path, format, shift, length);
    track.sources = {std::move(source)};
    std::vector<TrackDetails> details(1);
    const size_t slash = platform::LastSeparator(path);
    details[0].files = {path.substr(slash == std::string::npos ? 0 : slash + 1)};
    return Adopt(path, {std::move(track)}, std::move(details), std::move(disc));
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
    const size_t slash = platform::LastSeparator(path);
    folder_ = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    tracks_ = std::move(tracks);
    sessions_ = BuildSessionList(tracks_);
    if (!CheckTrackLayout(tracks_, sessions_)) {
        Reset();
        return false;
    }
    details_ = std::move(details);
    disc_ = std::move(disc);
    AddLaterRuns();
    return true;
}

void ImageCatalogue::AddLaterRuns() {
    for (size_t i = 0; i < tracks_.size(); ++i) {
        TrackRecord &t = tracks_[i];
        const int64_t size = GetSectorFormat(t.format).stored;
        if (!GetSectorFormat(t.format).data || !t.subchannel.empty()) continue;
        std::vector<HeldRun> runs;
        bool moved = false;  // some later track is not where reading on along the stream would find it
        for (size_t j = i + 1; j < tracks_.size(); ++j) {
            const TrackRecord &later = tracks_[j];
            const bool same_windows = std::equal(
                later.windows.begin(), later.windows.end(), t.windows.begin(), t.windows.end(),
                [](const FileWindow &a, const FileWindow &b) { return a.skip == b.skip && a.length == b.length; });
            if (later.files != t.files || !same_windows || GetSectorFormat(later.format).stored != size ||
                !later.subchannel.empty())
                break;
            const int64_t along = t.file_offset + t.stored_pregap + (int64_t(later.FirstHeld()) - t.start) * size;
            moved = moved || along != later.file_offset;
            runs.push_back({later.FirstHeld(), later.EndHeld() - later.FirstHeld(), later.file_offset});
        }
        if (moved) t.later_runs = std::move(runs);
    }
}

namespace {
// ECMA-119 8.4: the fields of a primary volume descriptor the session search needs.
constexpr int64_t kSectorSize = 2048;
constexpr int64_t kDescriptorSector = 16;
constexpr size_t kVolumeSpaceSize = 80;  // 733
constexpr size_t kRootRecord = 156;
constexpr size_t kRecordExtent = 2;  // 733, within a directory record
// xorriso starts every appended session on a 32-block boundary; block 0-31 keep the newest descriptors.
constexpr int64_t kSessionAlignment = 32;
constexpr int kMaxSessions = 99;
// The root directory of a volume written for a later address lies near its start; this far it is looked for.
constexpr int64_t kRootSearchSectors = 4096;
// Red Book / Orange Book: a later session's first track starts 6750 + 4500 + 150 sectors after the end of
// the first session.
constexpr int64_t kSecondSessionGap = 11400;

struct Descriptor {
    bool primary = false;
    uint32_t space = 0;
    uint32_t root = 0;
};

Descriptor ReadDescriptor(platform::File &file, int64_t sector) {
    uint8_t d[kSectorSize];
    Descriptor out;
    if (!file.Seek(sector * kSectorSize) || file.Read(d, kSectorSize) != kSectorSize) return out;
    if (d[0] != 1 || std::memcmp(d + 1, "CD001", 5) != 0) return out;
    const ByteView v(d, kSectorSize);
    out.primary = true;
    out.space = v.U32le(kVolumeSpaceSize);
    out.root = v.U32le(kRootRecord + kRecordExtent);
    return out;
}

// A track of `sectors` 2048-byte sectors held at `first` of the file, starting at logical sector `start`.
TrackRecord HeldTrack(const std::string &path, uint8_t session, uint8_t number, int32_t start, int64_t first,
                      int64_t sectors) {
    TrackRecord t;
    t.session = session;
    t.track = number;
    t.format = kFormatMode1_2048;
    t.files = {path};
    t.file_offset = first * kSectorSize;
    t.stored_length = sectors * kSectorSize;
    t.pregap_start = start;
    t.start = start;
    t.end = static_cast<int32_t>(start + sectors);
    return t;
}
}  // namespace

bool ImageCatalogue::FindSessions(int64_t length) {
    const TrackRecord probed = tracks_.front();
    if (probed.format != kFormatMode1_2048 || probed.stored_pregap != 0) return false;
    platform::File file;
    if (!file.OpenRead(path_)) return false;
    const int64_t sectors = length / kSectorSize;
    const Descriptor top = ReadDescriptor(file, kDescriptorSector);
    if (!top.primary) return false;
    std::vector<TrackRecord> found;
    bool packed = false;

    if (top.root >= sectors) {
        // Written for a later session (genisoimage -C): its extents count from the disc start. The root
        // directory's "." record names its own extent; where the file holds it tells the offset.
        uint8_t d[kSectorSize];
        int64_t address = -1;
        for (int64_t s = kDescriptorSector + 1; s < std::min(sectors, kRootSearchSectors) && address < 0; ++s) {
            if (!file.Seek(s * kSectorSize) || file.Read(d, kSectorSize) != kSectorSize) return false;
            const ByteView r(d, kSectorSize);
            if (r.U8(0) >= 34 && r.U32le(kRecordExtent) == top.root && r.U8(32) == 1 && r.U8(33) == 0)
                address = top.root - s;
        }
        if (address < 150 || address > INT32_MAX / 2) return false;
        TrackRecord later = HeldTrack(path_, 1, 2, static_cast<int32_t>(address), 0, sectors);
        later.pregap_start = static_cast<int32_t>(address - 150);
        later.absent_pregap = 150;
        // The sessions before it are not in the file: one track of absent sectors stands for them, in a
        // session of its own when there is room for the lead-out and lead-in between.
        TrackRecord before = HeldTrack(path_, 1, 1, 0, 0, 0);
        before.pregap_start = -150;
        before.absent_pregap = 150;
        const bool own_session = address >= kSecondSessionGap;
        before.end = static_cast<int32_t>(own_session ? address - kSecondSessionGap : address - 150);
        before.absent_trailing = before.end;
        if (own_session) later.session = 2;
        found = {before, later};
    } else {
        // Sessions appended to one file (xorriso on a plain file): each from a 32-block boundary with its own
        // descriptors, one after the other without lead-in or lead-out. Blocks 0-31 hold the newest descriptors:
        // the first session's track starts there, so it lists the newest tree as the file always did.
        std::vector<int64_t> starts;
        for (int64_t s = kSessionAlignment; s + kDescriptorSector < sectors && starts.size() < kMaxSessions;) {
            const Descriptor d = ReadDescriptor(file, s + kDescriptorSector);
            if (!d.primary) break;
            starts.push_back(s);
            const int64_t end = d.space >= s ? d.space : s + d.space;  // recorded as the size or the end
            const int64_t next = (end + kSessionAlignment - 1) / kSessionAlignment * kSessionAlignment;
            if (next <= s) break;
            s = next;
        }
        if (starts.size() < 2) return false;
        for (size_t i = 0; i < starts.size(); ++i) {
            const int64_t first = i == 0 ? 0 : starts[i], end = i + 1 < starts.size() ? starts[i + 1] : sectors;
            const auto number = static_cast<uint8_t>(i + 1);
            found.push_back(HeldTrack(path_, number, number, static_cast<int32_t>(first), first, end - first));
        }
        found.front().pregap_start = -150;
        found.front().absent_pregap = 150;
        packed = true;
    }
    std::vector<SessionRecord> sessions = BuildSessionList(found, packed);
    if (!CheckTrackLayout(found, sessions)) return false;
    tracks_ = std::move(found);
    sessions_ = std::move(sessions);
    disc_.sessions_found = true;
    return true;
}

bool ImageCatalogue::Probe(const std::string &path, uint32_t options) {
    Reset();
    const int64_t length = CFileFindEx::GetLength(path);
    if (length < 0) return false;
    path_ = path;
    const size_t slash = platform::LastSeparator(path);
    folder_ = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    int32_t shift = 0;
    int32_t format = DetectFormat(path, 0, 0);
    if (format == kFormatUnknown) {
        shift = 150;
        format = DetectFormat(path, 0, 150);
        if (format == kFormatUnknown) return false;
    }
    int64_t held = length;
    if (options & OPEN_SALVAGE) {
        // A file cut inside a sector: the whole sectors make the track, the rest is told as damage.
        const int64_t stored = GetSectorFormat(format).stored;
        disc_.part_bytes = length % stored;
        held -= disc_.part_bytes;
    }
    tracks_.push_back(MakeProbedTrack(path, format, shift, held));
    sessions_ = BuildSessionList(tracks_);
    if (!CheckTrackLayout(tracks_, sessions_)) {
        tracks_.clear();
        sessions_.clear();
        return false;
    }
    if (options & OPEN_DISC_SHEETS) FindSessions(length);
    return true;
}

}  // namespace qorvex
