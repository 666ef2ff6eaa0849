// The output file of one extraction, and the image files kept open for it.
#pragma once

#include <cstdint>

#include "image/sector_reader.h"
#include "model/status.h"
#include "platform/file.h"

namespace qorvex {

// Created (its missing folders first), presized, written, then dated, closed and given its attributes.
// Without a path there is no file: the data goes to the callback only. A file not finished is closed when
// the object goes.
class OutputFile {
public:
    // kOutputOpenFailed when the file cannot be created.
    Status Create(const char *path);
    // Sets the final length and goes back to the start; kWriteFailed.
    Status Presize(uint64_t length);
    // The file to write, or null without a path.
    platform::File *File() { return path_ ? &file_ : nullptr; }
    // Modification time (when not 0), close (kOutputCloseFailed) and attributes (not for folders).
    Status Finish(int32_t date, int32_t attributes);
    // Close only (track extraction sets neither date nor attributes).
    Status Close();

private:
    const char *path_ = nullptr;
    platform::File file_;
};

// Keeps a track's image files open for one operation: opens them when they are closed, and closes them when
// the operation ends, however it ends, so that between calls no image file stays open.
class ImageFilesOpen {
public:
    explicit ImageFilesOpen(SectorReader &reader) : reader_(reader) {}
    ~ImageFilesOpen() {
        if (!closed_) reader_.Close();
    }
    ImageFilesOpen(const ImageFilesOpen &) = delete;
    ImageFilesOpen &operator=(const ImageFilesOpen &) = delete;

    // kImageOpenFailed.
    Status Open() { return reader_.IsOpen() || reader_.Open() ? Status::Ok() : Code::kImageOpenFailed; }
    // kImageCloseFailed.
    Status Close() {
        closed_ = true;
        return reader_.Close() ? Status::Ok() : Code::kImageCloseFailed;
    }

private:
    SectorReader &reader_;
    bool closed_ = false;
};

}  // namespace qorvex
