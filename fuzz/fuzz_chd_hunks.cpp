// The CHD reader alone: header, the Huffman-coded map and its CRC, the metadata chain and CD track records, and
// the first 4 MiB of the decoded stream (every codec, references, the CRC of each hunk, hunks decoded ahead),
// without the file systems behind it.

#include <unistd.h>

#include "in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = fuzz::ContainerPath("chd");
    fuzz::ReadContainer(data, size, path, &fuzz::OpenChdStream, int64_t(4) << 20);
    ::unlink(path.c_str());
    return 0;
}
