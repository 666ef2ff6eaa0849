// A Logiqx XML DAT: parsed, then matched against two tracks whose hashes the seeds list (so that mutations reach
// the matching and the nearest-entry search as well as the parser).
#include <string_view>
#include <vector>

#include "dat_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    host::Dat dat;
    std::string error;
    if (!host::ParseDat(std::string_view(reinterpret_cast<const char *>(data), size), &dat, &error)) return 0;
    const std::vector<host::DiscHash> tracks = {
        {2352, "01234567", "0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef01234567"},
        {4704, "89abcdef", "", ""}};
    (void)host::MatchDat(dat, tracks);
    return 0;
}
