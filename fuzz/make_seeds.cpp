// Writes the seed corpus of every fuzz target into DIR/<target>/seed-N.
#include <sys/stat.h>
#include <cstdio>
#include <string>

#include "seeds.h"
#include "support/temp_dir.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qorvex_make_seeds DIR\n");
        return 2;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0755);
    for (const auto &[target, inputs] : fuzz::MakeSeeds()) {
        const std::string folder = root + "/" + target;
        ::mkdir(folder.c_str(), 0755);
        for (size_t i = 0; i < inputs.size(); ++i)
            qorvex::test::WriteFile(folder + "/seed-" + std::to_string(i), inputs[i]);
    }
    return 0;
}
