// The ECM reader alone: the record headers (types and counts), the sectors they make again with their EDC and
// parity, and the end record's EDC, over the first 256 KiB of the stream (some hundred sectors, each made whole).

#include <unistd.h>

#include "in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = fuzz::ContainerPath("ecm");
    fuzz::ReadContainer(data, size, path, &fuzz::OpenEcmStream, int64_t(256) << 10);
    ::unlink(path.c_str());
    return 0;
}
