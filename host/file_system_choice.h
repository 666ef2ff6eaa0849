// Which file system of a track a host extracts when the user names none.
#pragma once

#include <cstdint>

namespace host {

// From the file counts of one track: Joliet (its long names) before UDF before ISO 9660, or UDF first when the
// user prefers it; 0 when none has files.
int32_t PreferredKind(int32_t iso_files, int32_t joliet_files, int32_t udf_files, bool prefer_udf);

// The command-line host's choice with the extensions read: Rock Ridge first when present (POSIX names of any
// length, modes, owners and links), then the choice above (Joliet, UDF, ISO 9660), which stays as it was for
// every image without Rock Ridge; 0 when none has files.
int32_t AutomaticKind(int32_t iso_files, int32_t joliet_files, int32_t udf_files, int32_t rockridge_files);

}  // namespace host
