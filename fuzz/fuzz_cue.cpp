// A CUE sheet and the one BIN file beside it: the input is the sheet's text, a NUL, then the file's bytes
// (written as disc.bin and disc.wav, so that every FILE type finds something to read).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "qorvex.h"

namespace {

void Put(const std::string &path, const uint8_t *data, size_t size) {
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

const char *const kNames[] = {"disc.cue", "disc.bin", "disc.wav"};

const std::string &Folder();

void RemoveFolder() {
    for (const char *name : kNames) ::unlink((Folder() + name).c_str());
    ::rmdir(Folder().c_str());
}

// One scratch folder per process, removed when it exits normally (a crash leaves it for inspection).
const std::string &Folder() {
    static const std::string folder = [] {
        std::string f = "/tmp/qorvex-fuzz-cue-" + std::to_string(::getpid());
        ::mkdir(f.c_str(), 0700);
        return f + "/";
    }();
    static const bool registered = std::atexit(RemoveFolder) == 0;
    (void)registered;
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    const size_t text = nul ? static_cast<size_t>(nul - data) : size;
    const uint8_t *bin = nul ? nul + 1 : data + size;
    const size_t bin_size = size - text - (nul ? 1 : 0);
    Put(Folder() + "disc.cue", data, text);
    Put(Folder() + "disc.bin", bin, bin_size);
    Put(Folder() + "disc.wav", bin, bin_size);
    for (uint32_t options : {uint32_t(OPEN_DISC_SHEETS), uint32_t(OPEN_DISC_SHEETS | OPEN_CHECK_POSITION)})
        fuzz::ExerciseImage(Folder() + "disc.cue", options);
    return 0;
}
