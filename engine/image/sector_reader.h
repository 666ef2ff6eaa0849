// Reads the sectors of one track from its image files.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/sector_format.h"
#include "model/byte_view.h"
#include "model/status.h"
#include "model/track_record.h"
#include "platform/file.h"

namespace qorvex {

class SectorReader {
public:
    SectorReader() = default;
    ~SectorReader();
    SectorReader(const SectorReader &) = delete;
    SectorReader &operator=(const SectorReader &) = delete;

    void Reset();
    bool SetUp(const TrackRecord &record, uint32_t position_check);
    // The same for a track whose stored sectors are `bytes` in memory (the record's files are not read): the
    // fuzz targets hand their input to a reader this way. The bytes must outlive the reader's use of them.
    bool SetUpInMemory(const TrackRecord &record, ByteView bytes);
    void SetEdcCheck(bool on) { edc_check_ = on; }
    // Replaces the user-data size; bounded to what a stored sector holds past the user offset.
    void SetUserSize(int32_t n);
    void CopyFrom(const SectorReader &other);

    bool IsDataTrack() const { return GetSectorFormat(record_.format).data; }
    bool IsOpen() const { return open_; }
    bool Open();
    bool Close();

    bool SeekRelative(int32_t r);
    bool SeekSector(int32_t s);
    bool SeekFromEnd(int32_t a);
    int32_t TrackEnd() const { return record_.end; }

    // Reads the next n stored sectors and copies n x UserSize() bytes of user data to destination.
    // Returns the stored bytes read, or 0 when any of the sectors fails (nothing partial is reported).
    int64_t ReadSectors(void *destination, int32_t n);
    // The same, answering how many sectors were delivered before the first that failed (n when none did).
    int32_t ReadSectorRun(void *destination, int32_t n);
    // Whether runs of sectors can be copied as plain bytes: every stored byte is user data and no check applies.
    bool CanCopyDirectly() const { return open_ && StoresPlainly(); }
    // Whether the track's user data lies in its files byte for byte: every stored byte is user data, in plain
    // files (no container, no byte swap, no separate subchannel), and no check applies. Open or not.
    bool StoresPlainly() const {
        return user_offset_ == 0 && user_size_ == stored_size_ && !ChecksAddresses() && !edc_check_ &&
               !record_.byte_swapped && !sub_file_ && !memory_.Data() && record_.sources.empty() && !files_.empty();
    }
    // With CanCopyDirectly(): copies the first `bytes` (at most n x UserSize()) of the next n sectors to `out`
    // without passing them through memory, and moves past the sectors. Returns how many sectors were wholly
    // present (n when all), or -1 when the copy itself failed.
    int32_t CopySectorRun(platform::File &out, int32_t n, int64_t bytes);
    // Reads the next whole stored sector (with the address check) into destination (StoredSize() bytes).
    bool ReadRawSector(uint8_t *destination);
    // Where logical sector s begins in the files (before any address search): the file and the byte there, and
    // (when `left` is given) how many bytes of the track's stream that file holds from there on.
    bool Locate(int32_t s, const std::string **file, int64_t *offset, int64_t *left = nullptr) const;

    bool EdcError() const { return edc_error_; }
    // The code of a failed sector read: an EDC mismatch once the check has failed, else a plain read failure.
    Status ReadFailure() const { return edc_error_ ? Code::kEdcMismatch : Code::kReadFailed; }
    int32_t StoredSize() const { return stored_size_; }
    int32_t UserOffset() const { return user_offset_; }
    int32_t UserSize() const { return user_size_; }
    // The largest user size a stored sector of this track can deliver.
    int32_t MaxUserSize() const { return stored_size_ - user_offset_; }
    const TrackRecord &Record() const { return record_; }

private:
    bool PlainSeek(int64_t relative);
    bool ReadStored(uint8_t *destination);
    bool ReadNextChecked(uint8_t *destination);
    bool ChecksAddresses() const { return position_check_ != 0 && user_offset_ >= 16; }
    int64_t ReadCached(uint8_t *destination, int64_t n);
    bool ReadSubchannel(uint8_t *destination);
    // The next stored sector where it lies whole in the read-ahead window and needs no address check or byte
    // swap; null otherwise.
    const uint8_t *WholeInWindow() const;
    // Reads up to n sectors of the current file at once, each one's user data straight into its place in out
    // and the bytes around it into side_; checks their EDC. Returns the sectors delivered; 0 where this does not
    // apply (a short run, a check or layout it cannot serve), `failed` set when a sector's EDC failed.
    int32_t ScatterRun(uint8_t *out, int32_t n, bool &failed);

    bool edc_error_ = false;
    TrackRecord record_;
    int32_t stored_size_ = 2048;
    int32_t user_offset_ = 0;
    int32_t user_size_ = 0;
    int64_t base_ = 0;
    int32_t stride_ = 2048;  // bytes a sector takes in the files (its stored size less a separate subchannel)
    uint32_t position_check_ = 0;
    bool edc_check_ = false;
    std::vector<std::unique_ptr<platform::File>> files_;
    ByteView memory_;               // the one "file" of a reader set up in memory (files_ is then empty)
    std::vector<int64_t> lengths_;  // bytes of each file's window
    std::vector<int64_t> skips_;    // where each file's window begins
    int32_t current_file_ = -1;
    int64_t position_ = -1;
    int64_t expected_ = -1;
    bool open_ = false;

    // Read-ahead window over the current file: many stored sectors per platform read. It starts small and
    // doubles while the reads go on where the last window ended, so that reading a few sectors does not
    // fetch (or touch) the whole window.
    std::unique_ptr<uint8_t[]> cache_;
    int64_t cache_capacity_ = 0;
    int64_t window_ = 0;
    int32_t cache_file_ = -1;
    int64_t cache_start_ = 0;
    int64_t cache_length_ = 0;
    std::array<uint8_t, 2452> sector_{};
    std::vector<uint8_t> side_;  // the bytes around the user data of a scattered run

    // The subchannel file of a track that has one, with a read-ahead window of its own.
    std::unique_ptr<platform::File> sub_file_;
    int64_t sub_length_ = 0;
    int64_t sub_next_ = 0;  // sector (counted from the first stored one) whose subchannel is read next
    std::unique_ptr<uint8_t[]> sub_cache_;
    int64_t sub_cache_start_ = 0;
    int64_t sub_cache_length_ = 0;
};

}  // namespace qorvex
