// Wraps the 2048-byte sectors of an image into MODE1/2352 ones (sync, header, EDC, P/Q parity) for the Python
// tests:  qorvex_wrap_raw ISO RAW
#include <fstream>
#include <iterator>

#include "support/raw_sectors.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> user((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    user.resize((user.size() + 2047) / 2048 * 2048);
    const std::vector<uint8_t> raw = qorvex::test::WrapSectors(user, 3);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(raw.data()), static_cast<std::streamsize>(raw.size()));
    return in && out ? 0 : 1;
}
