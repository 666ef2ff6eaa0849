// Turns a 2048-byte-sector image into MODE1/2352 raw sectors (sync, header, EDC) for the Windows checks:
//   wrap_raw IN.iso OUT.bin
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/raw_sectors.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wrap_raw IN.iso OUT.bin\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "wrap_raw: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> user((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (user.empty() || user.size() % 2048 != 0) {
        std::fprintf(stderr, "wrap_raw: %s is not a whole number of 2048-byte sectors\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> raw = qorvex::test::WrapSectors(user, 3);  // MODE1/2352
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(raw.data()), static_cast<std::streamsize>(raw.size()));
    return out ? 0 : 1;
}
