#include "support/disc_builder.h"

#include <algorithm>
#include <cstdio>

#include "support/iso_builder.h"
#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {

DiscTrack MakeTrack(int32_t format, std::vector<uint8_t> data, int32_t pregap, uint8_t session) {
    DiscTrack t;
    t.format = format;
    t.data = std::move(data);
    t.pregap = pregap;
    t.session = session;
    return t;
}

std::string CueMode(int32_t format) {
    switch (format) {
        case 0: return "AUDIO";
        case 14: return "CDG";
        case 3: return "MODE1/2352";
        case 9: return "MODE1/2048";
        case 5:
        case 6:
        case 7: return "MODE2/2352";
        case 10:
        case 13: return "MODE2/2336";
        default: return "UNKNOWN";
    }
}

std::string Msf(int64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(frames / 4500),
                  static_cast<long long>(frames / 75 % 60), static_cast<long long>(frames % 75));
    return text;
}

std::vector<uint8_t> AudioPattern(int32_t sectors, uint32_t seed) {
    return Pattern(static_cast<size_t>(sectors) * 2352, seed);
}

std::vector<uint8_t> PregapBytes(const DiscTrack &track, int32_t number) {
    return Pattern(static_cast<size_t>(track.pregap) * static_cast<size_t>(StoredSize(track.format)),
                   0x9000u + static_cast<uint32_t>(number));
}

std::vector<uint8_t> WavHeader(uint32_t n) {
    std::vector<uint8_t> h(44, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [&](size_t at, uint16_t v) {
        h[at] = static_cast<uint8_t>(v);
        h[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::copy_n("RIFF", 4, h.begin());
    put32(4, n + 36);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, 44100);
    put32(28, 176400);
    put16(32, 4);
    put16(34, 16);
    std::copy_n("data", 4, h.begin() + 36);
    put32(40, n);
    return h;
}

std::string WriteCueDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         CueForm form, const std::string &header) {
    std::string cue = header;
    std::vector<uint8_t> single;
    std::vector<std::vector<uint8_t>> split(tracks.size());
    uint8_t session = 0;
    int64_t frames = 0;
    auto file_line = [&](size_t k) {
        char file[64];
        std::snprintf(file, sizeof file, "%s (Track %02zu).bin", name.c_str(), k + 1);
        return std::string(file);
    };
    for (size_t k = 0; k < tracks.size(); ++k) {
        const DiscTrack &t = tracks[k];
        const std::vector<uint8_t> pregap = PregapBytes(t, static_cast<int32_t>(k + 1));
        if (t.session != session && tracks.back().session > 1) {
            char rem[32];
            std::snprintf(rem, sizeof rem, "REM SESSION %02u\n", t.session);
            cue += rem;
        }
        session = t.session;
        char track[64];
        std::snprintf(track, sizeof track, "  TRACK %02zu %s\n", k + 1, CueMode(t.format).c_str());
        if (form == CueForm::kSingleFile) {
            if (k == 0) cue += "FILE \"" + name + ".bin\" BINARY\n";
            const int64_t at = frames;  // each stretch counted in the sectors of the track it belongs to
            frames += t.pregap + static_cast<int64_t>(t.data.size()) / StoredSize(t.format);
            cue += track + t.extra;
            if (t.pregap) cue += "    INDEX 00 " + Msf(at) + "\n";
            cue += "    INDEX 01 " + Msf(at + t.pregap) + "\n";
            single.insert(single.end(), pregap.begin(), pregap.end());
            single.insert(single.end(), t.data.begin(), t.data.end());
        } else if (form == CueForm::kSplitHead || k == 0 || !t.pregap) {
            cue += "FILE \"" + file_line(k) + "\" BINARY\n" + track + t.extra;
            if (t.pregap) cue += "    INDEX 00 00:00:00\n";
            cue += "    INDEX 01 " + Msf(t.pregap) + "\n";
            split[k] = pregap;
            split[k].insert(split[k].end(), t.data.begin(), t.data.end());
        } else {  // the pregap lies at the tail of the file before, its INDEX 00 under that FILE
            const int64_t at = static_cast<int64_t>(split[k - 1].size()) / StoredSize(tracks[k - 1].format);
            cue += track + t.extra + "    INDEX 00 " + Msf(at) + "\n";
            cue += "FILE \"" + file_line(k) + "\" BINARY\n    INDEX 01 00:00:00\n";
            split[k - 1].insert(split[k - 1].end(), pregap.begin(), pregap.end());
            split[k] = t.data;
        }
    }
    if (form == CueForm::kSingleFile) {
        WriteFile(dir + "/" + name + ".bin", single);
    } else {
        for (size_t k = 0; k < tracks.size(); ++k) WriteFile(dir + "/" + file_line(k), split[k]);
    }
    const std::string path = dir + "/" + name + ".cue";
    WriteFile(path, cue);
    return path;
}

}  // namespace qorvex::test
