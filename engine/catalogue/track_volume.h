// One track of an open image: its reader, its catalogues, the walks and the entry extraction.
#pragma once

#include <cstdint>
#include <vector>

#include "catalogue/track_scan.h"
#include "image/sector_reader.h"
#include "model/progress.h"
#include "model/status.h"
#include "qorvex.h"
#include "qorvex_ext.h"

namespace qorvex {

class ImageFilesOpen;

namespace platform {
class File;
}

// Bytes [offset, offset + length) of a file.
struct DamageRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

class TrackVolume {
public:
    // With keep_bare, a data track where no file system is found is kept with empty catalogues.
    Status Scan(const TrackRecord &record, const Limits &limits, bool keep_bare = false);

    int32_t FileCount(int32_t kind) const;
    int32_t FileStart(int32_t kind);
    int32_t NextFile(EntryInfo *record);
    Status ExtractCurrentFile(const char *path, bool single);
    int32_t PartStart(int32_t kind);
    int32_t NextPart(EntryInfo *record);
    Status ExtractCurrentPart(const char *path);
    // The entry under the file or the part cursor, or null.
    const CatalogueEntry *CurrentFile() const;
    int32_t FileCursor() const { return file_cursor_; }
    int32_t SelectedKind() const { return selected_kind_; }
    bool Salvaging() const { return salvage_; }
    const CatalogueEntry *CurrentPart() const;

    SectorReader &Reader() { return reader_; }
    const TrackCatalogues &Catalogues() const { return catalogues_; }
    // The listing the walks stand in (the kind last started), or null.
    const FsListing *SelectedListing() const { return catalogues_.Get(selected_kind_); }
    const Catalogue *Files(int32_t kind) const;
    const Catalogue *Parts(int32_t kind) const;
    const std::string *Label(int32_t kind) const;
    void SetProgress(const Progress &progress) { progress_ = progress; }
    const Progress &GetProgress() const { return progress_; }

    // Extraction of one entry, or of the UDF file an entry belongs to (all its extents joined).
    Status ExtractSingle(const CatalogueEntry &entry, const char *path);
    Status ExtractJoined(const CatalogueEntry &entry, const char *path);
    // Extraction of a zisofs-compressed Rock Ridge file: its decoded bytes.
    Status ExtractZisofs(const CatalogueEntry &entry, const char *path);

    // Copies file `index` of the kind's file walk (its bytes as ExtractCurrentFile writes them, the UDF extents
    // joined unless `single`) into `out` through `reader`, an open copy of Reader(). Touches neither a cursor nor
    // any other state of the volume, so it may run beside calls on the volume; `counter` hears of the bytes
    // copied after each run and stops the copy when it answers 0.
    Status CopyFile(int32_t kind, int32_t index, bool single, SectorReader &reader, platform::File &out,
                    const Progress &counter) const;
    // Reads `size` bytes of that file from byte `offset` on into `out` without reading what lies before them (the
    // sectors are found from the entry's extents; a zisofs file has only the blocks decoded that hold them).
    // `done` tells how many there were: fewer only at the end of the file. Touches no state of the volume.
    Status ReadFile(int32_t kind, int32_t index, bool single, SectorReader &reader, uint64_t offset, uint8_t *out,
                    size_t size, size_t *done) const;

    // Where byte `offset` of that file lies as it is stored, when the track stores its user data plainly and the
    // file is not zisofs-compressed: the image file, the byte there and how many bytes of the file follow it
    // there unchanged (up to the end of its extent or of the image file). False otherwise, and past the file's end.
    bool PlainPlace(int32_t kind, int32_t index, bool single, uint64_t offset, const std::string **file, int64_t *at,
                    uint64_t *length) const;

    // OPEN_SALVAGE: the byte ranges of file `index` of the kind's walk (all extents of its UDF file unless
    // `single`) the image does not hold; with `read`, also those whose sectors fail to read through `reader`, an
    // open copy of Reader(). A zisofs file with any stored sector missing is missing whole.
    Status Damage(int32_t kind, int32_t index, bool single, bool read, SectorReader &reader,
                  std::vector<DamageRange> &ranges) const;
    // Whether any byte of the entry lies beyond the held end (no read).
    bool BeyondEnd(const CatalogueEntry &entry) const;
    // CopyFile with the sectors that cannot be read written as zeros.
    Status CopyFilled(int32_t kind, int32_t index, bool single, SectorReader &reader, platform::File &out,
                      const Progress &counter) const;

private:
    std::vector<const CatalogueEntry *> Slots(int32_t kind, int32_t index, bool single, bool &zisofs,
                                              Status &status) const;
    Status WriteSlots(const std::vector<const CatalogueEntry *> &slots, const CatalogueEntry &entry, const char *path,
                      ImageFilesOpen &image);
    std::vector<const CatalogueEntry *> JoinedSlots(const CatalogueEntry &entry) const;

    SectorReader reader_;
    TrackCatalogues catalogues_;
    int32_t selected_kind_ = 0;
    int32_t file_cursor_ = -1;
    int32_t part_cursor_ = -1;
    Progress progress_;
    bool salvage_ = false;  // opened with OPEN_SALVAGE
};

// Fills an EntryInfo from a catalogue entry (names cut to fit, at a character boundary).
void FillEntryInfo(const CatalogueEntry &entry, EntryInfo *record);
// Fills the details the EntryInfo cannot carry; `listing` holds the entry (and its POSIX details, if any).
void FillExEntry(const CatalogueEntry &entry, const FsListing *listing, QorvexExEntry *details);

}  // namespace qorvex
