#include "image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "extract_plan.h"
#include "linked_engine.h"
#include "qorvex_ext.h"

namespace cli {

const host::EngineApi &LinkedEngine() {
    return host::LinkedEngineApi();
}

namespace {

std::string Lower(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The files a sheet names (cue FILE, toc FILE / AUDIOFILE / DATAFILE), as written.
std::vector<std::string> NamedFiles(const std::string &sheet) {
    std::vector<std::string> names;
    std::ifstream in(sheet, std::ios::binary);
    std::string line;
    for (int lines = 0; lines < 100000 && std::getline(in, line); ++lines) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos) continue;
        const std::string upper = Lower(line.substr(at, 10));
        size_t skip = 0;
        for (const char *word : {"file ", "audiofile ", "datafile "})
            if (upper.rfind(word, 0) == 0) skip = std::strlen(word);
        if (!skip) continue;
        at = line.find_first_not_of(" \t", at + skip);
        if (at == std::string::npos) continue;
        size_t end;
        if (line[at] == '"') {
            end = line.find('"', ++at);
        } else {
            end = line.find_first_of(" \t\r", at);
        }
        names.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    }
    return names;
}

// A file a sheet names that is not in the sheet's folder (looked up by its last name, any case, as the engine
// looks for it); empty when every one is there.
std::string MissingSheetFile(const std::string &sheet) {
    const size_t slash = sheet.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : sheet.substr(0, slash);
    for (const std::string &named : NamedFiles(sheet)) {
        const std::vector<std::string> parts = host::SplitImagePath(named);
        if (parts.empty()) continue;
        struct stat st {};
        if (stat((folder + "/" + parts.back()).c_str(), &st) == 0) continue;
        if (stat((folder + "/" + Lower(parts.back())).c_str(), &st) == 0) continue;
        return named;
    }
    return {};
}

// For a media descriptor x.mds whose data file x.mdf (any case) is not beside it: that name; empty otherwise.
std::string MissingDataFile(const std::string &path) {
    const size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || Lower(path.substr(dot)) != ".mds")
        return {};
    struct stat st {};
    for (const char *extension : {".mdf", ".MDF"})
        if (stat((path.substr(0, dot) + extension).c_str(), &st) == 0) return {};
    return path.substr(slash == std::string::npos ? 0 : slash + 1, dot - (slash == std::string::npos ? 0 : slash + 1)) +
           ".mdf";
}

// The version of a media descriptor at `path` that is not version 1 (encrypted, as MDX images are); 0 for any
// other file.
int DescriptorVersion(const std::string &path) {
    char head[17] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(head, sizeof head) || std::memcmp(head, "MEDIA DESCRIPTOR", 16) != 0 || head[16] == 1) return 0;
    return static_cast<unsigned char>(head[16]);
}

}  // namespace

bool Image::Open(const std::string &path, uint32_t options) {
    // Checked here so that a folder, a FIFO or a device gives a plain message and never blocks the open.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "qorvex: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "qorvex: %s: is a folder, not an image file\n", path.c_str());
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "qorvex: %s: not a regular file\n", path.c_str());
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "qorvex: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const int32_t error = host::Disc::Open(path, options);
    if (error == 0) return true;
    if (error == ENGINE_IMAGE_OPEN_FAILED && (options & OPEN_DISC_SHEETS)) {
        if (const std::string missing = MissingSheetFile(path); !missing.empty()) {
            std::fprintf(stderr, "qorvex: cannot open %s: it names \"%s\", which is not in its folder\n", path.c_str(),
                         DisplayName(missing).c_str());
            return false;
        }
        if (const std::string missing = MissingDataFile(path); !missing.empty()) {
            std::fprintf(stderr, "qorvex: cannot open %s: its data file \"%s\" is not in its folder\n", path.c_str(),
                         DisplayName(missing).c_str());
            return false;
        }
    }
    if (const int version = DescriptorVersion(path); error == ENGINE_UNKNOWN_FORMAT && version != 0) {
        std::fprintf(stderr,
                     "qorvex: cannot open %s: a media descriptor of version %d is encrypted; only version 1 is read\n",
                     path.c_str(), version);
        return false;
    }
    ReportEngineError("cannot open " + path, error);
    return false;
}

int32_t QORVEX_CALL SinkCallback(int32_t kind, void *user, const void *data, int32_t length) {
    auto *sink = static_cast<Sink *>(user);
    if (kind != CALLBACK_DATA || length <= 0) return 1;
    if (sink->write_error) return 0;
    if (sink->file) {
        if (!sink->file->Append(data, static_cast<size_t>(length))) {
            sink->write_error = sink->file->WriteError();
            return 0;
        }
    } else if (sink->fd >= 0) {
        auto *bytes = static_cast<const char *>(data);
        size_t left = static_cast<size_t>(length);
        while (left > 0) {
            ssize_t n = write(sink->fd, bytes, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                sink->write_error = errno;
                return 0;
            }
            bytes += n;
            left -= static_cast<size_t>(n);
        }
    }
    if (sink->progress) sink->progress->Advance(static_cast<uint64_t>(length));
    return 1;
}

#ifdef _WIN32
// No symbolic links to keep apart from files here: an output path that is one was the user's choice.
#define lstat stat
#endif

UnfinishedOutput::UnfinishedOutput(const std::string &path) : path_(path) {
    struct stat st {};
    existed_ = path == "-" || lstat(path.c_str(), &st) == 0;
}

void UnfinishedOutput::Remove() const {
    struct stat st {};
    if (!existed_ && lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path_.c_str());
}

}  // namespace cli
