// ECM (error-code-modeller) files: a raw image whose sectors are stored without the sync, EDC and ECC that can
// be made again; read as the image it stands for.
#pragma once

#include <memory>
#include <string>

#include "model/status.h"
#include "model/stored_source.h"

namespace qorvex::containers {

// Opens `path` and indexes its records; kUnknownFormat when it is not an ECM file or its records do not hold
// together (a count past the file, no end marker), kTooLarge past the memory budget of the file's size.
Status OpenEcm(const std::string &path, std::shared_ptr<StoredSource> *source);

}  // namespace qorvex::containers
