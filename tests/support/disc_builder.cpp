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

std::string WriteCcdDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks) {
    std::vector<uint8_t> image;
    std::string entries, track_sections;
    int entry = 3;
    auto add_entry = [&](int number, int point, int control, int64_t lba) {
        const int64_t msf = lba + 150;
        char text[400];
        std::snprintf(text, sizeof text,
                      "[Entry %d]\nSession=1\nPoint=0x%02x\nADR=0x01\nControl=0x%02x\nTrackNo=0\nAMin=0\nASec=0\n"
                      "AFrame=0\nALBA=-150\nZero=0\nPMin=%lld\nPSec=%lld\nPFrame=%lld\nPLBA=%lld\n",
                      number, point, control, static_cast<long long>(msf / 4500), static_cast<long long>(msf / 75 % 60),
                      static_cast<long long>(msf % 75), static_cast<long long>(lba));
        entries += text;
    };
    for (size_t k = 0; k < tracks.size(); ++k) {
        const DiscTrack &t = tracks[k];
        const int64_t index0 = static_cast<int64_t>(image.size()) / 2352;
        const std::vector<uint8_t> pregap = PregapBytes(t, static_cast<int32_t>(k + 1));
        image.insert(image.end(), pregap.begin(), pregap.end());
        const int64_t index1 = static_cast<int64_t>(image.size()) / 2352;
        image.insert(image.end(), t.data.begin(), t.data.end());
        const int mode = t.format == 0 ? 0 : (t.format == 3 ? 1 : 2);
        add_entry(entry++, static_cast<int>(k + 1), mode == 0 ? 0x00 : 0x04, index1);
        char text[128];
        std::snprintf(text, sizeof text, "[TRACK %zu]\nMODE=%d\n", k + 1, mode);
        track_sections += text;
        if (t.pregap) track_sections += "INDEX 0=" + std::to_string(index0) + "\n";
        track_sections += "INDEX 1=" + std::to_string(index1) + "\n";
    }
    const std::string tail = entries;
    entries.clear();
    add_entry(0, 0xA0, 0x04, 4350);
    add_entry(1, 0xA1, 0x00, static_cast<int64_t>(tracks.size()) * 75 - 150);
    add_entry(2, 0xA2, 0x00, static_cast<int64_t>(image.size()) / 2352);
    const std::string ccd = "[CloneCD]\nVersion=3\n[Disc]\nTocEntries=" + std::to_string(entry) +
                            "\nSessions=1\nDataTracksScrambled=0\nCDTextLength=0\n[Session 1]\nPreGapMode=2\n"
                            "PreGapSubC=0\n" +
                            entries + tail + track_sections;
    WriteFile(dir + "/" + name + ".img", image);
    WriteFile(dir + "/" + name + ".ccd", ccd);
    return dir + "/" + name + ".ccd";
}

}  // namespace qorvex::test
