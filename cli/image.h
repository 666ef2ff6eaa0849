// The open image through the engine this program is linked with, and the command line's data sinks.
#pragma once

#include <cstdint>
#include <string>

#include "disc.h"
#include "output.h"
#include "output_tree.h"

namespace cli {

using Entry = host::Entry;
using host::KindName;
using host::kKindOrder;

// The engine's exports as linked into this program.
const host::EngineApi &LinkedEngine();

class Image : public host::Disc {
public:
    Image() : host::Disc(LinkedEngine()) {}
    // Checks the path and opens it; reports every failure on stderr (naming a missing file a sheet names).
    bool Open(const std::string &path, uint32_t options);
};

// The data sink behind the engine's progress callback: gathers each block into file (when set) or writes it
// to fd (when >= 0), and advances the progress line. A failed write stops the engine by returning 0.
struct Sink {
    host::OutputFile *file = nullptr;
    int fd = -1;
    Progress *progress = nullptr;
    int write_error = 0;
};
int32_t QORVEX_CALL SinkCallback(int32_t kind, void *user, const void *data, int32_t length);

// What a failed extraction through the engine's path export leaves at a path it made looks whole (the engine
// sizes the file first), so it is removed. A file that was there before is left: the failure may have come
// before the engine touched it.
class UnfinishedOutput {
public:
    explicit UnfinishedOutput(const std::string &path);
    void Remove() const;

private:
    std::string path_;
    bool existed_ = true;
};

}  // namespace cli
