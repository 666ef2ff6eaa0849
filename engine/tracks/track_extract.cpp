#include "tracks/track_extract.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/sector_format.h"
#include "tracks/output_file.h"

namespace qorvex {

namespace {

constexpr size_t kWavHeaderSize = 44;
constexpr int64_t kRunBytes = 1 << 20;

void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

Status ExtractRaw(SectorReader &reader, const Progress &progress, OutputFile &output, uint32_t flags) {
    TrackInfo info{};
    FillTrackInfo(reader, &info);
    const int32_t r = GetSectorFormat(info.format).raw_output;
    const int32_t first = (flags & TRACK_PREGAP) ? info.first_held : info.start;
    const int64_t n = (int64_t(info.end_held) - first) * r;
    const bool wav = (flags & TRACK_WAV) != 0;
    QORVEX_TRY(output.Presize(static_cast<uint64_t>(n) + (wav ? kWavHeaderSize : 0)));
    platform::File *out = output.File();
    bool stop_remembered = false;
    if (wav) {
        uint8_t header[kWavHeaderSize];
        BuildWavHeader(header, static_cast<uint64_t>(n));
        if (out && !out->Write(header, sizeof header)) return Code::kWriteFailed;
        if (!progress.Deliver(header, sizeof header)) stop_remembered = true;
    }
    if (!reader.SeekSector(first)) return Code::kSeekFailed;
    if (out && !progress.Active() && reader.CanCopyDirectly() && r == reader.StoredSize()) {
        // Whole stored sectors are the output (audio in its files as it is): copy them without reading them
        // through memory, in runs.
        const int32_t run_length = static_cast<int32_t>(std::max<int64_t>(1, kRunBytes / r));
        for (int64_t s = first; s < info.end_held;) {
            const int32_t run = static_cast<int32_t>(std::min<int64_t>(run_length, info.end_held - s));
            const int32_t copied = reader.CopySectorRun(*out, run, int64_t(run) * r);
            if (copied < 0) return Code::kWriteFailed;
            if (copied < run) return reader.ReadFailure();
            s += run;
        }
        if (!out->Flush()) return Code::kWriteFailed;
        return stop_remembered ? Code::kAborted : Status::Ok();
    }
    std::vector<uint8_t> sector(kMaxStoredSize + 4);
    for (int64_t s = first; s < info.end_held; ++s) {
        if (!reader.ReadRawSector(sector.data())) return reader.ReadFailure();
        if (out && !out->Write(sector.data(), static_cast<size_t>(r))) return Code::kWriteFailed;
        if (!progress.Deliver(sector.data(), r)) return Code::kAborted;
    }
    if (out && !out->Flush()) return Code::kWriteFailed;
    return stop_remembered ? Code::kAborted : Status::Ok();
}

Status ExtractUserData(SectorReader &reader, const Progress &progress, OutputFile &output) {
    TrackInfo info{};
    FillTrackInfo(reader, &info);
    const int32_t u = info.user_size;
    if (u == 0) return ExtractRaw(reader, progress, output, TRACK_RAW);
    QORVEX_TRY(output.Presize(static_cast<uint64_t>((int64_t(info.end_held) - info.start) * u)));
    platform::File *out = output.File();
    if (!reader.SeekSector(info.start)) return Code::kSeekFailed;
    // Without a callback sectors are read and written in runs of 1 MiB; with one, sector by sector, so that a
    // stop reads nothing past the sector it ends on.
    const int32_t run_length = progress.Active() ? 1 : static_cast<int32_t>(std::max<int64_t>(1, kRunBytes / u));
    const bool direct = out && !progress.Active() && reader.CanCopyDirectly();
    std::vector<uint8_t> data(direct ? 0 : static_cast<size_t>(run_length) * static_cast<size_t>(u));
    for (int64_t s = info.start; s < info.end_held;) {
        const int32_t run = static_cast<int32_t>(std::min<int64_t>(run_length, info.end_held - s));
        if (direct) {  // user data lies in the image as it is: copy it without reading it through memory
            const int32_t copied = reader.CopySectorRun(*out, run, int64_t(run) * u);
            if (copied < 0) return Code::kWriteFailed;
            if (copied < run) return reader.ReadFailure();
            s += run;
            continue;
        }
        const int32_t good = reader.ReadSectorRun(data.data(), run);
        if (out && good > 0 && !out->Write(data.data(), static_cast<size_t>(good) * static_cast<size_t>(u)))
            return Code::kWriteFailed;
        for (int32_t i = 0; i < good && progress.Active(); ++i)
            if (!progress.Deliver(data.data() + static_cast<size_t>(i) * static_cast<size_t>(u), u))
                return Code::kAborted;
        if (good < run) return reader.ReadFailure();
        s += run;
    }
    if (out && !out->Flush()) return Code::kWriteFailed;
    return Status::Ok();
}

}  // namespace

Status ReadTrack(SectorReader &reader, uint32_t flags, uint64_t offset, uint8_t *out, size_t size, size_t *done,
                 uint64_t *total) {
    *done = 0;
    *total = 0;
    TrackInfo info{};
    FillTrackInfo(reader, &info);
    const bool user_data = reader.IsDataTrack() && !(flags & TRACK_RAW) && info.user_size > 0;
    const int64_t per = user_data ? info.user_size : GetSectorFormat(info.format).raw_output;
    const int32_t first = user_data || !(flags & TRACK_PREGAP) ? info.start : info.first_held;
    if (per <= 0 || info.end_held <= first) return Status::Ok();
    *total = static_cast<uint64_t>(int64_t(info.end_held) - first) * static_cast<uint64_t>(per);
    if (offset >= *total) return Status::Ok();
    size = static_cast<size_t>(std::min<uint64_t>(size, *total - offset));
    std::vector<uint8_t> sector(kMaxStoredSize + 4);
    while (*done < size) {
        const int64_t k = static_cast<int64_t>(offset / static_cast<uint64_t>(per));
        const size_t within = static_cast<size_t>(offset % static_cast<uint64_t>(per));
        if (!reader.SeekSector(static_cast<int32_t>(first + k))) return Code::kSeekFailed;
        const size_t left = size - *done;
        size_t took = 0;
        if (user_data && within == 0 && left >= static_cast<size_t>(per)) {  // whole sectors straight into out
            const int32_t run = static_cast<int32_t>(std::min<uint64_t>(left / static_cast<uint64_t>(per), 256));
            if (reader.ReadSectorRun(out, run) < run) return reader.ReadFailure();
            took = static_cast<size_t>(run) * static_cast<size_t>(per);
        } else {
            const bool got =
                user_data ? reader.ReadSectors(sector.data(), 1) != 0 : reader.ReadRawSector(sector.data());
            if (!got) return reader.ReadFailure();
            took = std::min(left, static_cast<size_t>(per) - within);
            std::memcpy(out, sector.data() + within, took);
        }
        out += took, offset += took, *done += took;
    }
    return Status::Ok();
}

void BuildWavHeader(uint8_t header[44], uint64_t data_length) {
    const uint32_t length = static_cast<uint32_t>(data_length);
    std::memcpy(header, "RIFF", 4);
    Put32(header + 4, length + 36);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    Put32(header + 16, 16);      // format chunk size
    Put16(header + 20, 1);       // PCM
    Put16(header + 22, 2);       // channels
    Put32(header + 24, 44100);   // samples per second
    Put32(header + 28, 176400);  // bytes per second
    Put16(header + 32, 4);       // bytes per sample frame
    Put16(header + 34, 16);      // bits per sample
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

Status ExtractTrack(SectorReader &reader, const Progress &progress, const char *path, uint32_t flags) {
    ImageFilesOpen image(reader);
    QORVEX_TRY(image.Open());
    OutputFile output;
    QORVEX_TRY(output.Create(path));
    const Status result = (reader.IsDataTrack() && !(flags & TRACK_RAW)) ? ExtractUserData(reader, progress, output)
                                                                         : ExtractRaw(reader, progress, output, flags);
    QORVEX_TRY(output.Close());
    QORVEX_TRY(image.Close());
    return result;
}

}  // namespace qorvex
