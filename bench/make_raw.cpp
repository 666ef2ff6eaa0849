// Wraps a 2048-byte image into MODE1/2352 sectors (sync, header, data, EDC and ECC) for bench/compare.py.
//
//   make_raw ISO RAW
#include <cstdio>

#include "bench_support.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_raw ISO RAW\n");
        return 2;
    }
    bench::WriteMode1Raw(argv[1], argv[2]);
    return 0;
}
