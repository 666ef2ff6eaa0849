#include "image/sector_reader.h"

#include <algorithm>
#include <cstring>

#include "image/raw_sector.h"

namespace qorvex {

namespace {
constexpr int64_t kCacheBytes = 1024 * 1024;
constexpr int64_t kFirstWindow = 32 * 1024;
// Runs of at least this many sectors are read scattered; at most kScatterBatch a call (two slices a sector).
constexpr int32_t kScatterMinimum = 32;
constexpr int32_t kScatterBatch = 511;
constexpr int64_t kSubchannelWindow = 512 * kSubchannelSize;

int Bcd(uint8_t b) {
    return (b >> 4) * 10 + (b & 0x0F);
}

using raw_sector::kAddress;
using raw_sector::kFramesPerSecond;

// The address in a raw sector's header, as a sector number + 150.
int64_t HeaderAddress(const uint8_t *sector) {
    const uint8_t *a = sector + kAddress;
    return int64_t(Bcd(a[0])) * 60 * kFramesPerSecond + int64_t(Bcd(a[1])) * kFramesPerSecond + Bcd(a[2]);
}

// A header holding a well-formed address (BCD minutes, seconds below 60, frames below 75) past `wanted`.
// Addresses only grow along a disc, so the wanted sector cannot come after it; a garbled header does not
// count, since a damaged sector may sit in front of the wanted one.
bool PastWanted(const uint8_t *sector, int64_t wanted) {
    const uint8_t *a = sector + kAddress;
    for (int i = 0; i < 3; ++i)
        if ((a[i] >> 4) > 9 || (a[i] & 0x0F) > 9) return false;
    return Bcd(a[1]) < 60 && Bcd(a[2]) < kFramesPerSecond && HeaderAddress(sector) > wanted;
}
}  // namespace

SectorReader::~SectorReader() {
    Close();
}

void SectorReader::Reset() {
    Close();
    edc_error_ = false;
    record_ = TrackRecord{};
    stored_size_ = 2048;
    user_offset_ = 0;
    user_size_ = 0;
    base_ = 0;
    stride_ = 2048;
    position_check_ = 0;
    edc_check_ = false;
    sub_file_.reset();
    sub_length_ = 0;
    files_.clear();
    memory_ = ByteView();
    lengths_.clear();
    skips_.clear();
    current_file_ = -1;
    position_ = -1;
    expected_ = -1;
}

bool SectorReader::SetUp(const TrackRecord &record, uint32_t position_check) {
    Reset();
    record_ = record;
    const SectorFormat &format = GetSectorFormat(record.format);
    stored_size_ = format.stored;
    user_offset_ = format.user_offset;
    user_size_ = format.user_size;
    position_check_ = position_check;
    stride_ = stored_size_;
    if (!record.subchannel.empty()) {
        // Only a 2448-byte sector has subchannel bytes to keep apart.
        if (stored_size_ != kMaxStoredSize || record.subchannel_offset < 0) return false;
        stride_ = stored_size_ - kSubchannelSize;
        sub_file_ = std::make_unique<platform::File>();
        sub_length_ = platform::FindFileLength(record.subchannel);
        if (sub_length_ < 0) return false;
    }
    // With a subchannel file the main files hold `stride_` bytes of each stored sector of the pregap.
    base_ = record.file_offset +
            (stride_ == stored_size_ ? record.stored_pregap : record.stored_pregap / stored_size_ * stride_);
    if (!record.windows.empty() && record.windows.size() != record.files.size()) return false;
    for (size_t i = 0; i < record.files.size(); ++i) {
        files_.push_back(std::make_unique<platform::File>());
        const StoredSource *source = record.SourceOf(i);
        int64_t length = source ? source->Length() : platform::FindFileLength(record.files[i]);
        const FileWindow window = record.windows.empty() ? FileWindow{} : record.windows[i];
        if (length < 0 || window.skip < 0 || window.skip > length) return false;
        // Only the window's bytes belong to the track's stream.
        length -= window.skip;
        if (window.length >= 0) length = std::min(length, window.length);
        lengths_.push_back(length);
        skips_.push_back(window.skip);
    }
    return true;
}

bool SectorReader::SetUpInMemory(const TrackRecord &record, ByteView bytes) {
    TrackRecord in_memory = record;
    in_memory.files.clear();
    in_memory.windows.clear();
    in_memory.subchannel.clear();
    if (!SetUp(in_memory, 0)) return false;
    memory_ = bytes;
    lengths_ = {static_cast<int64_t>(bytes.Size())};
    skips_ = {0};
    return true;
}

void SectorReader::SetUserSize(int32_t n) {
    user_size_ = std::clamp(n, 0, MaxUserSize());
}

void SectorReader::CopyFrom(const SectorReader &other) {
    Reset();
    record_ = other.record_;
    stored_size_ = other.stored_size_;
    user_offset_ = other.user_offset_;
    user_size_ = other.user_size_;
    base_ = other.base_;
    stride_ = other.stride_;
    position_check_ = other.position_check_;
    if (other.sub_file_) sub_file_ = std::make_unique<platform::File>();
    sub_length_ = other.sub_length_;
    edc_check_ = other.edc_check_;
    memory_ = other.memory_;
    for (size_t i = 0; i < other.files_.size(); ++i) files_.push_back(std::make_unique<platform::File>());
    lengths_ = other.lengths_;
    skips_ = other.skips_;
}

bool SectorReader::Open() {
    if (files_.empty() && !memory_.Data()) return false;
    for (auto &file : files_) {
        const size_t index = static_cast<size_t>(&file - files_.data());
        if (!record_.SourceOf(index) && !file->OpenRead(record_.files[index])) {
            for (auto &f : files_) f->Close();
            return false;
        }
    }
    if (sub_file_) {
        if (!sub_file_->OpenRead(record_.subchannel)) {
            for (auto &f : files_) f->Close();
            return false;
        }
        if (!sub_cache_) sub_cache_.reset(new uint8_t[kSubchannelWindow]);
        sub_cache_length_ = 0;
        sub_next_ = 0;
    }
    current_file_ = 0;
    position_ = 0;
    expected_ = 0;
    open_ = true;
    cache_file_ = -1;
    cache_length_ = 0;
    return true;
}

bool SectorReader::Close() {
    bool ok = true;
    for (auto &file : files_)
        if (!file->Close()) ok = false;
    if (sub_file_ && !sub_file_->Close()) ok = false;
    sub_cache_.reset();
    sub_cache_length_ = 0;
    current_file_ = -1;
    position_ = -1;
    expected_ = -1;
    open_ = false;
    cache_file_ = -1;
    cache_length_ = 0;
    cache_.reset();
    cache_capacity_ = 0;
    window_ = 0;
    return ok;
}

bool SectorReader::PlainSeek(int64_t relative) {
    if (!open_) return false;
    int64_t p = base_ + relative * stride_;
    // Past the track's held sectors, a later track's sectors where its table places them; a sector no file
    // holds cannot be read.
    if (const int64_t s = record_.start + relative; !record_.later_runs.empty() && s >= record_.EndHeld()) {
        const auto run = std::find_if(record_.later_runs.begin(), record_.later_runs.end(),
                                      [s](const HeldRun &r) { return s >= r.first && s - r.first < r.sectors; });
        if (run == record_.later_runs.end()) return false;
        p = run->offset + (s - run->first) * stride_;
    }
    if (p < 0) return false;
    sub_next_ = record_.stored_pregap / stored_size_ + relative;
    size_t index = 0;
    while (index < lengths_.size() && p >= lengths_[index]) {
        p -= lengths_[index];
        ++index;
    }
    if (index >= lengths_.size()) return false;
    current_file_ = static_cast<int32_t>(index);
    position_ = p;
    return true;
}

bool SectorReader::SeekRelative(int32_t r) {
    if (!open_) return false;
    expected_ = r;
    if (!PlainSeek(r)) return false;
    if (!ChecksAddresses()) return true;
    const int64_t wanted = int64_t(record_.start) + r + raw_sector::kAddressOffset;
    int64_t count = 0;
    for (;;) {
        if (!ReadStored(sector_.data())) return false;
        if (HeaderAddress(sector_.data()) == wanted) break;
        if (PastWanted(sector_.data(), wanted)) return false;
        ++count;
    }
    return PlainSeek(int64_t(r) + count);
}

bool SectorReader::SeekSector(int32_t s) {
    int64_t r = int64_t(s) - record_.start;
    if (r < INT32_MIN || r > INT32_MAX) return false;
    return SeekRelative(static_cast<int32_t>(r));
}

bool SectorReader::SeekFromEnd(int32_t a) {
    int64_t r = int64_t(record_.end) - record_.start + a;
    if (r < INT32_MIN || r > INT32_MAX) return false;
    return SeekRelative(static_cast<int32_t>(r));
}

int64_t SectorReader::ReadCached(uint8_t *destination, int64_t n) {
    const size_t index = static_cast<size_t>(current_file_);
    const int64_t length = lengths_[index];
    if (memory_.Data()) {  // the bytes are at hand: no window to fill
        const int64_t take = std::clamp<int64_t>(length - position_, 0, n);
        if (take > 0) std::memcpy(destination, memory_.Data() + position_, static_cast<size_t>(take));
        position_ += take;
        return take;
    }
    if (cache_file_ != current_file_ || position_ < cache_start_ || position_ >= cache_start_ + cache_length_) {
        if (position_ >= length) return 0;
        const bool sequential = cache_file_ == current_file_ && position_ == cache_start_ + cache_length_;
        window_ = sequential ? std::min(window_ * 2, kCacheBytes) : kFirstWindow;
        if (cache_capacity_ < window_) {
            // Room for the largest window at once, filled by the reads and never zeroed: its pages are taken
            // as reads first reach them, so a short read still takes little, and a growing window is not
            // moved into fresh pages each time it doubles.
            cache_.reset(new uint8_t[static_cast<size_t>(kCacheBytes)]);
            cache_capacity_ = kCacheBytes;
        }
        int64_t want = std::min<int64_t>(window_, length - position_);
        int64_t got = -1;
        if (StoredSource *source = record_.sources.empty() ? nullptr : record_.sources[index].get())
            got = source->ReadAt(position_ + skips_[index], cache_.get(), want);
        else if (files_[index]->Seek(position_ + skips_[index]))
            got = files_[index]->Read(cache_.get(), want);
        if (got < 0) return -1;
        cache_file_ = current_file_;
        cache_start_ = position_;
        cache_length_ = got;
        if (got == 0) return 0;
    }
    int64_t available = cache_start_ + cache_length_ - position_;
    int64_t take = std::min(n, available);
    std::memcpy(destination, cache_.get() + (position_ - cache_start_), static_cast<size_t>(take));
    position_ += take;
    return take;
}

bool SectorReader::ReadSubchannel(uint8_t *destination) {
    const int64_t at = record_.subchannel_offset + sub_next_ * kSubchannelSize;
    if (sub_next_ < 0 || at + kSubchannelSize > sub_length_) return false;
    if (at < sub_cache_start_ || at + kSubchannelSize > sub_cache_start_ + sub_cache_length_) {
        const int64_t want = std::min(kSubchannelWindow, sub_length_ - at);
        if (!sub_file_->Seek(at)) return false;
        const int64_t got = sub_file_->Read(sub_cache_.get(), want);
        sub_cache_start_ = at;
        sub_cache_length_ = std::max<int64_t>(got, 0);
        if (got < kSubchannelSize) return false;  // the file is shorter than when the track was set up
    }
    std::memcpy(destination, sub_cache_.get() + (at - sub_cache_start_), kSubchannelSize);
    ++sub_next_;
    return true;
}

bool SectorReader::ReadStored(uint8_t *destination) {
    if (!open_ || current_file_ < 0) return false;
    int64_t done = 0;
    while (done < stride_) {
        if (static_cast<size_t>(current_file_) >= lengths_.size()) return false;
        int64_t got = ReadCached(destination + done, stride_ - done);
        if (got < 0) return false;
        done += got;
        if (done < stride_ && got == 0) {
            // The file ends inside the sector: go on with the next file of the track from its start.
            if (static_cast<size_t>(current_file_) + 1 >= lengths_.size()) return false;
            ++current_file_;
            position_ = 0;
        }
    }
    if (record_.byte_swapped)  // big-endian samples: each 16-bit sample turned around
        for (int32_t i = 0; i + 1 < stride_; i += 2) std::swap(destination[i], destination[i + 1]);
    if (sub_file_ && !ReadSubchannel(destination + stride_)) return false;
    if (edc_check_ && !CheckSectorEdc(GetSectorFormat(record_.format).edc, destination)) {
        edc_error_ = true;
        return false;
    }
    return true;
}

bool SectorReader::ReadNextChecked(uint8_t *destination) {
    if (ChecksAddresses()) {
        const int64_t wanted = int64_t(record_.start) + expected_ + raw_sector::kAddressOffset;
        for (;;) {
            if (!ReadStored(destination)) return false;
            if (HeaderAddress(destination) == wanted) break;
            if (PastWanted(destination, wanted)) return false;
        }
        ++expected_;
        return true;
    }
    ++expected_;
    return ReadStored(destination);
}

const uint8_t *SectorReader::WholeInWindow() const {
    // A sector whose subchannel lies in a file of its own is not whole anywhere.
    if (sub_file_ || ChecksAddresses() || record_.byte_swapped || cache_file_ != current_file_ ||
        position_ < cache_start_ || position_ + stored_size_ > cache_start_ + cache_length_)
        return nullptr;
    return cache_.get() + (position_ - cache_start_);
}

int32_t SectorReader::ReadSectorRun(void *destination, int32_t n) {
    auto *out = static_cast<uint8_t *>(destination);
    // A sector that is all user data is read straight into its place.
    const bool whole = user_offset_ == 0 && user_size_ == stored_size_;
    const EdcCheck edc = edc_check_ ? GetSectorFormat(record_.format).edc : EdcCheck::kNone;
    int32_t i = 0;
    while (i < n) {
        uint8_t *slot = out + int64_t(i) * user_size_;
        // A sector that lies whole in the read-ahead window is checked there and its user data copied out once.
        if (const uint8_t *stored = WholeInWindow()) {
            ++expected_;
            position_ += stored_size_;
            if (!CheckSectorEdc(edc, stored)) {
                edc_error_ = true;
                return i;
            }
            std::memcpy(slot, stored + user_offset_, static_cast<size_t>(user_size_));
            ++i;
            continue;
        }
        // A long run past the window is read scattered: the user data lands in place without a copy.
        if (!whole && n - i >= kScatterMinimum) {
            bool failed = false;
            const int32_t done = ScatterRun(slot, n - i, failed);
            i += done;
            if (failed) return i;
            if (done > 0) continue;
        }
        if (whole) {
            if (!ReadNextChecked(slot)) return i;
        } else {
            if (!ReadNextChecked(sector_.data())) return i;
            std::memcpy(slot, sector_.data() + user_offset_, static_cast<size_t>(user_size_));
        }
        ++i;
    }
    return n < 0 ? 0 : n;
}

int32_t SectorReader::ScatterRun(uint8_t *out, int32_t n, bool &failed) {
    if (!platform::File::CanReadScattered() || sub_file_ || !record_.sources.empty() || ChecksAddresses() ||
        record_.byte_swapped || current_file_ < 0 || static_cast<size_t>(current_file_) >= files_.size())
        return 0;
    const size_t index = static_cast<size_t>(current_file_);
    const int64_t present = (lengths_[index] - position_) / stored_size_;
    int32_t left = static_cast<int32_t>(std::min<int64_t>(n, present));
    if (left < kScatterMinimum) return 0;
    const EdcCheck edc = edc_check_ ? GetSectorFormat(record_.format).edc : EdcCheck::kNone;
    const int32_t around = stored_size_ - user_size_;  // bytes of a sector outside its user data
    const int32_t tail = around - user_offset_;
    int32_t done = 0;
    while (left > 0) {
        // Sector k's tail and k+1's head lie together in the file and in side_: 2 slices a sector and one more.
        const int32_t batches = (left + kScatterBatch - 1) / kScatterBatch;
        const int32_t batch = (left + batches - 1) / batches;
        side_.resize(static_cast<size_t>(batch) * static_cast<size_t>(around));
        platform::ReadSlice slices[2 * kScatterBatch + 1];
        int count = 0;
        uint8_t *side = side_.data();
        if (user_offset_ > 0) slices[count++] = {side, static_cast<size_t>(user_offset_)};
        for (int32_t k = 0; k < batch; ++k) {
            slices[count++] = {out + int64_t(done + k) * user_size_, static_cast<size_t>(user_size_)};
            const bool last = k + 1 == batch;
            const size_t gap = static_cast<size_t>(last ? tail : around);
            if (gap > 0) slices[count++] = {side + int64_t(k) * around + user_offset_, gap};
        }
        const int64_t got = files_[index]->ReadScattered(position_ + skips_[index], slices, count);
        const int32_t whole = got < 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(batch, got / stored_size_));
        for (int32_t k = 0; k < whole; ++k) {
            position_ += stored_size_;
            ++expected_;
            const uint8_t *head = side + int64_t(k) * around;
            if (!CheckSectorEdcInPieces(edc, head, user_offset_, out + int64_t(done + k) * user_size_, user_size_,
                                        head + user_offset_)) {
                edc_error_ = failed = true;
                return done + k;
            }
        }
        done += whole;
        if (whole < batch) break;  // the file ends early: the sector-by-sector path reports it
        left -= batch;
    }
    return done;
}

int64_t SectorReader::ReadSectors(void *destination, int32_t n) {
    if (n <= 0 || ReadSectorRun(destination, n) != n) return 0;
    return int64_t(n) * stored_size_;
}

int32_t SectorReader::CopySectorRun(platform::File &out, int32_t n, int64_t bytes) {
    if (!CanCopyDirectly() || current_file_ < 0 || n <= 0) return 0;
    // Whole sectors present from here on, across the track's files.
    int64_t available = lengths_[static_cast<size_t>(current_file_)] - position_;
    for (size_t i = static_cast<size_t>(current_file_) + 1; i < lengths_.size(); ++i) available += lengths_[i];
    int32_t good = static_cast<int32_t>(std::min<int64_t>(n, std::max<int64_t>(0, available) / stored_size_));
    int64_t left = std::min<int64_t>(bytes, int64_t(good) * stored_size_);
    int64_t skip = int64_t(good) * stored_size_;
    while (skip > 0) {
        const size_t index = static_cast<size_t>(current_file_);
        const int64_t in_file = lengths_[index] - position_;
        const int64_t take = std::min(left, in_file);
        if (take > 0) {
            const int64_t copied = out.CopyFrom(*files_[index], position_ + skips_[index], take);
            if (copied < 0) return -1;
            if (copied < take) {  // the file is shorter than when the track was set up
                good = static_cast<int32_t>((int64_t(good) * stored_size_ - skip + copied) / stored_size_);
                skip = 0;
                break;
            }
            left -= take;
        }
        if (skip < in_file) {
            position_ += skip;
            skip = 0;
        } else {
            skip -= in_file;
            position_ = lengths_[index];
            if (index + 1 < files_.size()) {
                ++current_file_;
                position_ = 0;
            }
        }
    }
    expected_ += good;
    return good;
}

bool SectorReader::ReadRawSector(uint8_t *destination) {
    return ReadNextChecked(destination);
}

bool SectorReader::Locate(int32_t s, const std::string **file, int64_t *offset, int64_t *left) const {
    int64_t p = base_ + (int64_t(s) - record_.start) * stride_;
    if (p < 0) return false;
    for (size_t index = 0; index < lengths_.size(); ++index) {
        if (p < lengths_[index]) {
            *file = &record_.files[index];
            *offset = p + skips_[index];
            if (left) *left = lengths_[index] - p;
            return true;
        }
        p -= lengths_[index];
    }
    return false;
}

}  // namespace qorvex
