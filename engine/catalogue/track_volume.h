// One track of an open image: its reader, its catalogue set, the walks and the entry extraction.
#pragma once

#include <cstdint>

#include "catalogue/catalogue_entry.h"
#include "image/sector_reader.h"
#include "interface/progress.h"
#include "qorvex.h"

namespace qorvex {

class TrackVolume {
public:
    int32_t Scan(const TrackRecord &record, uint32_t options);

    int32_t FileCount(int32_t kind) const;
    int32_t FileStart(int32_t kind);
    int32_t NextFile(EntryInfo *record);
    int32_t ExtractCurrentFile(const char *path, bool single);
    int32_t PartStart(int32_t kind);
    int32_t NextPart(EntryInfo *record);
    int32_t ExtractCurrentPart(const char *path);

    SectorReader &Reader() { return reader_; }
    const CatalogueSet &Catalogues() const { return set_; }
    const Catalogue *Files(int32_t kind) const;
    const Catalogue *Parts(int32_t kind) const;
    const std::string *Label(int32_t kind) const;
    void SetProgress(const Progress &progress) { progress_ = progress; }
    const Progress &GetProgress() const { return progress_; }

    // Extraction of one entry, or of the UDF file an entry belongs to (all its extents joined).
    int32_t ExtractSingle(const CatalogueEntry &entry, const char *path);
    int32_t ExtractJoined(const CatalogueEntry &entry, const char *path);

private:
    int32_t CopyEntry(const CatalogueEntry &entry, class platform::File *out);

    SectorReader reader_;
    CatalogueSet set_;
    int32_t selected_kind_ = 0;
    int32_t file_cursor_ = -1;
    int32_t part_cursor_ = -1;
    Progress progress_;
};

// Fills an EntryInfo from a catalogue entry (names cut to fit, at a character boundary).
void FillEntryInfo(const CatalogueEntry &entry, EntryInfo *record);

}  // namespace qorvex
