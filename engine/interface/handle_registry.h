// The objects behind handles, and the registry that hands them out. Several threads may use different
// handles at once; calls on one handle are serialised by its own lock.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "catalogue/track_volume.h"
#include "qorvex.h"

namespace qorvex {

// The object behind a handle: one scanned volume per track.
struct ImageHandle {
    std::recursive_mutex lock;  // recursive: a callback may call back into the engine with the same handle
    int32_t selected_track = -1;
    std::vector<std::unique_ptr<TrackVolume>> volumes;
    std::vector<TrackDetails> details;  // per track, from a disc sheet (empty for a plain image)
    DiscDetails disc;
    // Open readers QorvexExCopyFile keeps between its calls (QORVEX_EX_COPY_KEEP_OPEN), with their track. A copy
    // takes one (or makes one) while holding the lock and gives it back the same way.
    std::vector<std::pair<int32_t, std::unique_ptr<SectorReader>>> idle_readers;
    // The reader of QorvexExReadRawSectors (by position, no address search), open between its calls, with the
    // track it reads and the sector it stands before.
    std::unique_ptr<SectorReader> raw_reader;
    int32_t raw_track = -1;
    int64_t raw_next = -1;

    TrackVolume *Track(int32_t index) {
        if (index < 0 || static_cast<size_t>(index) >= volumes.size()) return nullptr;
        return volumes[static_cast<size_t>(index)].get();
    }
    TrackVolume *Selected() { return Track(selected_track); }
};

// A handle held for one call: the object stays alive and locked until the call returns. Empty for a handle
// the library never returned or one already closed (answered like an empty one).
class HeldHandle {
public:
    explicit HeldHandle(QorvexHandle h);
    ImageHandle *operator->() const { return handle_.get(); }
    ImageHandle &operator*() const { return *handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Lets other calls in while a long operation works on what stays fixed after the open (the catalogues);
    // the object stays alive. Relock before touching anything else.
    void Unlock() { lock_.unlock(); }
    void Relock() { lock_.lock(); }

private:
    std::shared_ptr<ImageHandle> handle_;
    std::unique_lock<std::recursive_mutex> lock_;
};

QorvexHandle RegisterHandle(std::shared_ptr<ImageHandle> handle);
void UnregisterHandle(QorvexHandle h);

}  // namespace qorvex
