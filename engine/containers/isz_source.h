// ISZ files: an ISO image kept in chunks, each stored as it is, compressed (zlib, bzip2) or left out for
// zeros; read as the image, chunk by chunk.
#pragma once

#include <memory>
#include <string>

#include "model/status.h"
#include "model/stored_source.h"

namespace qorvex::containers {

// Opens `path` and reads its chunk table. kUnknownFormat for a file that is not ISZ, one whose table does not
// add up, one split over segment files, or an encrypted one (it cannot be read without its password);
// kTooLarge past the memory budget of the file's size.
Status OpenIsz(const std::string &path, std::shared_ptr<StoredSource> *source);
// Whether this build decodes bzip2 chunks (libbz2 found when it was configured).
bool IszReadsBzip2();

}  // namespace qorvex::containers
