#include "file_system_choice.h"

#include "qorvex.h"

namespace host {

int32_t PreferredKind(int32_t iso_files, int32_t joliet_files, int32_t udf_files, bool prefer_udf) {
    if (udf_files > 0 && prefer_udf) return KIND_UDF;
    if (joliet_files > 0) return KIND_JOLIET;
    if (udf_files > 0) return KIND_UDF;
    if (iso_files > 0) return KIND_ISO9660;
    return 0;
}

int32_t AutomaticKind(int32_t iso_files, int32_t joliet_files, int32_t udf_files, int32_t rockridge_files) {
    if (rockridge_files > 0) return KIND_ROCKRIDGE;
    return PreferredKind(iso_files, joliet_files, udf_files, false);
}

}  // namespace host
