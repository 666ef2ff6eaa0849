// Recognition of an image file: its sector format and its track table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/track_record.h"

namespace qorvex {

// Detects the sector format of a file whose sector 0 lies at `base` and that holds `shift` sectors
// before it; answers kFormatUnknown (20) when nothing matches.
int32_t DetectFormat(const std::string &path, int64_t base, int32_t shift);

// The file finder's length of a file: -1 when it is not found.
struct CFileFindEx {
    static int64_t GetLength(const std::string &path);
};

class ImageCatalogue {
public:
    // `options` are the open options; the plain probe ignores them (OPEN_DISC_SHEETS adds the session search).
    bool Probe(const std::string &path, uint32_t options = 0);
    // Takes a track table made elsewhere (a disc sheet at `path`): builds its session list and applies the
    // layout check; false, with nothing kept, when the check fails.
    bool Adopt(const std::string &path, std::vector<TrackRecord> tracks, std::vector<TrackDetails> details,
               DiscDetails disc);
    // A container (named `disc.sheet`) whose decoded stream is a plain image: probed as one, its track read
    // through the source.
    bool ProbeSource(const std::string &path, std::shared_ptr<StoredSource> source, DiscDetails disc);
    int32_t TrackCount() const { return static_cast<int32_t>(tracks_.size()); }
    TrackRecord GetTrack(int32_t i) const { return tracks_[static_cast<size_t>(i)]; }
    const std::vector<SessionRecord> &Sessions() const { return sessions_; }
    const std::string &Folder() const { return folder_; }
    // Per track (empty for a plain image) and for the disc: what a sheet said beyond the sectors.
    const std::vector<TrackDetails> &Details() const { return details_; }
    const DiscDetails &Disc() const { return disc_; }

private:
    void Reset();
    // With OPEN_DISC_SHEETS, a plain 2048-byte image of several sessions: a volume written for a later
    // session's address, or sessions appended to one file. True when the table was rebuilt for them.
    bool FindSessions(int64_t length);
    // A sheet's data track reads the later tracks of its files where the table puts them, when they are not
    // simply next in the stream (gaps the files do not hold).
    void AddLaterRuns();

    std::string path_;
    std::string folder_;
    std::vector<TrackRecord> tracks_;
    std::vector<SessionRecord> sessions_;
    std::vector<TrackDetails> details_;
    DiscDetails disc_;
};

}  // namespace qorvex
