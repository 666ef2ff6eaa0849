// The ISZ reader alone: the header, the obscured chunk table, zero, stored, zlib and bzip2 chunks and the
// segment fields, over the first 4 MiB of the stream.

#include <unistd.h>

#include "in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = fuzz::ContainerPath("isz");
    fuzz::ReadContainer(data, size, path, &fuzz::OpenIszStream, int64_t(4) << 20);
    ::unlink(path.c_str());
    return 0;
}
