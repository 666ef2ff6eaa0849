#include "tracks/track_extract.h"

#include <cstring>
#include <memory>
#include <vector>

#include "platform/file.h"

namespace qorvex {

namespace {
void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

int32_t ReadFailure(const SectorReader &reader) {
    return reader.EdcError() ? ENGINE_EDC_MISMATCH : ENGINE_READ_FAILED;
}

int32_t ExtractRaw(SectorReader &reader, const Progress &progress, platform::File *out, uint32_t flags) {
    TrackInfo info{};
    FillTrackInfo(reader, &info);
    const int32_t r = GetSectorFormat(info.format).raw_output;
    const int32_t first = (flags & TRACK_PREGAP) ? info.first_held : info.start;
    const int64_t n = (int64_t(info.end_held) - first) * r;
    bool stop_remembered = false;
    if (out) {
        if (!out->SetLength(n + ((flags & TRACK_WAV) ? 44 : 0)) || !out->Seek(0)) return ENGINE_WRITE_FAILED;
    }
    if (flags & TRACK_WAV) {
        uint8_t header[44];
        BuildWavHeader(header, static_cast<uint64_t>(n));
        if (out && !out->Write(header, sizeof header)) return ENGINE_WRITE_FAILED;
        if (!progress.Deliver(header, sizeof header)) stop_remembered = true;
    }
    if (!reader.SeekSector(first)) return ENGINE_SEEK_FAILED;
    std::vector<uint8_t> sector(kMaxStoredSize + 4);
    for (int64_t s = first; s < info.end_held; ++s) {
        if (!reader.ReadRawSector(sector.data())) return ReadFailure(reader);
        if (out && !out->Write(sector.data(), static_cast<size_t>(r))) return ENGINE_WRITE_FAILED;
        if (!progress.Deliver(sector.data(), r)) return ENGINE_ABORTED;
    }
    if (out && !out->Flush()) return ENGINE_WRITE_FAILED;
    return stop_remembered ? ENGINE_ABORTED : 0;
}

int32_t ExtractUserData(SectorReader &reader, const Progress &progress, platform::File *out) {
    TrackInfo info{};
    FillTrackInfo(reader, &info);
    const int32_t u = info.user_size;
    if (u == 0) return ExtractRaw(reader, progress, out, TRACK_RAW);
    if (out) {
        if (!out->SetLength((int64_t(info.end_held) - info.start) * u) || !out->Seek(0)) return ENGINE_WRITE_FAILED;
    }
    if (!reader.SeekSector(info.start)) return ENGINE_SEEK_FAILED;
    // Without a callback sectors are read and written in runs of 1 MiB; with one, sector by sector, so that a
    // stop reads nothing past the sector it ends on.
    const int32_t run_length = progress.Active() ? 1 : std::max<int32_t>(1, (1 << 20) / u);
    const bool direct = out && !progress.Active() && reader.CanCopyDirectly();
    std::vector<uint8_t> data(direct ? 0 : static_cast<size_t>(run_length) * static_cast<size_t>(u));
    for (int64_t s = info.start; s < info.end_held;) {
        const int32_t run = static_cast<int32_t>(std::min<int64_t>(run_length, info.end_held - s));
        if (direct) {  // user data lies in the image as it is: copy it without reading it through memory
            const int32_t copied = reader.CopySectorRun(*out, run, int64_t(run) * u);
            if (copied < 0) return ENGINE_WRITE_FAILED;
            if (copied < run) return ReadFailure(reader);
            s += run;
            continue;
        }
        const int32_t good = reader.ReadSectorRun(data.data(), run);
        if (out && good > 0 && !out->Write(data.data(), static_cast<size_t>(good) * static_cast<size_t>(u)))
            return ENGINE_WRITE_FAILED;
        for (int32_t i = 0; i < good && progress.Active(); ++i)
            if (!progress.Deliver(data.data() + static_cast<size_t>(i) * static_cast<size_t>(u), u))
                return ENGINE_ABORTED;
        if (good < run) return ReadFailure(reader);
        s += run;
    }
    if (out && !out->Flush()) return ENGINE_WRITE_FAILED;
    return 0;
}
}  // namespace

void BuildWavHeader(uint8_t header[44], uint64_t data_length) {
    const uint32_t length = static_cast<uint32_t>(data_length);
    std::memcpy(header, "RIFF", 4);
    Put32(header + 4, length + 36);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    Put32(header + 16, 16);
    Put16(header + 20, 1);
    Put16(header + 22, 2);
    Put32(header + 24, 44100);
    Put32(header + 28, 176400);
    Put16(header + 32, 4);
    Put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    Put32(header + 40, length);
}

void FillTrackInfo(const SectorReader &reader, TrackInfo *info) {
    const TrackRecord &t = reader.Record();
    std::memset(info, 0, sizeof *info);
    info->format = t.format;
    info->first_held = t.FirstHeld();
    info->start = t.start;
    info->end_held = t.EndHeld();
    info->user_size = reader.UserSize();
    info->session = t.session;
    info->track = t.track;
    std::memcpy(info->reserved1, t.reserved_a, 2);
    std::memcpy(info->reserved1 + 2, t.reserved_d, 2);
    info->reserved2[0] = t.reserved_b;
    info->reserved2[1] = t.reserved_c[0];
    info->reserved2[2] = t.reserved_c[1];
}

bool MakeOutputFolders(const std::string &path) {
    const size_t last = path.find_last_of(platform::kPathSeparator);
    if (last == std::string::npos || last == 0) return false;
    if (platform::IsDirectory(path.substr(0, last))) return false;  // nothing is missing (the usual case)
    // Walk the folders from the outermost, creating each one that is missing.
    bool made = false;
    for (size_t k = path.find(platform::kPathSeparator, 1); k != std::string::npos && k <= last;
         k = path.find(platform::kPathSeparator, k + 1)) {
        const std::string folder = path.substr(0, k);
        if (folder.empty() || folder.back() == platform::kPathSeparator) continue;
        if (platform::IsDirectory(folder)) continue;
        made = platform::CreateFolder(folder);
        if (!made) return false;
    }
    return made;
}

int32_t ExtractTrack(SectorReader &reader, const Progress &progress, const char *path, uint32_t flags) {
    if (!reader.IsOpen() && !reader.Open()) return ENGINE_IMAGE_OPEN_FAILED;
    std::unique_ptr<platform::File> out;
    if (path) {
        MakeOutputFolders(path);
        out = std::make_unique<platform::File>();
        if (!out->Create(path)) {
            reader.Close();
            return ENGINE_OUTPUT_OPEN_FAILED;
        }
    }
    int32_t result = (reader.IsDataTrack() && !(flags & TRACK_RAW)) ? ExtractUserData(reader, progress, out.get())
                                                                    : ExtractRaw(reader, progress, out.get(), flags);
    if (out && !out->Close()) {
        reader.Close();
        return ENGINE_OUTPUT_CLOSE_FAILED;
    }
    if (!reader.Close()) return ENGINE_IMAGE_CLOSE_FAILED;
    return result;
}

}  // namespace qorvex
