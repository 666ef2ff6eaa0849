// qorvex_wrap_raw ISO RAW: the image's 2048-byte sectors as MODE1/2352 ones, for the Python tests.
#include <fstream>
#include <iterator>

#include "support/raw_sectors.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> user((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> raw = qorvex::test::WrapSectors(user, 3);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(raw.data()), static_cast<std::streamsize>(raw.size()));
    return in && out ? 0 : 1;
}
