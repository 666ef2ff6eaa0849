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
            if (t.absent_pregap) cue += "    PREGAP " + Msf(t.absent_pregap) + "\n";
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

std::string WriteCcdDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         bool with_subchannel) {
    // The disc's sectors: each session stored from its first track's index 0 to its lead-out; between
    // sessions the lead-out, the lead-in and the part of the pregap the image does not hold.
    std::vector<uint8_t> image;
    std::vector<int64_t> index0(tracks.size()), index1(tracks.size());
    std::vector<int64_t> lead_out(tracks.empty() ? 1 : tracks.back().session + 1u, 0);
    int64_t lba = 0;
    for (size_t k = 0; k < tracks.size(); ++k) {
        const DiscTrack &t = tracks[k];
        if (k > 0 && t.session != tracks[k - 1].session)
            lba += (t.session == 2 ? 6750 : 2250) + 4500 + std::max(150, t.pregap) - t.pregap;
        const std::vector<uint8_t> pregap = PregapBytes(t, static_cast<int32_t>(k + 1));
        image.insert(image.end(), pregap.begin(), pregap.end());
        image.insert(image.end(), t.data.begin(), t.data.end());
        index0[k] = lba;
        index1[k] = lba + t.pregap;
        lba = index1[k] + static_cast<int64_t>(t.data.size()) / 2352;
        lead_out[t.session] = lba;
    }
    auto mode = [](const DiscTrack &t) { return t.format == 0 ? 0 : (t.format == 3 ? 1 : 2); };
    std::string entries, sessions, track_sections;
    int entry = 0;
    auto add_entry = [&](int session, int point, int control, int64_t at) {
        const int64_t msf = at + 150;
        char text[400];
        std::snprintf(text, sizeof text,
                      "[Entry %d]\nSession=%d\nPoint=0x%02x\nADR=0x01\nControl=0x%02x\nTrackNo=0\nAMin=0\nASec=0\n"
                      "AFrame=0\nALBA=-150\nZero=0\nPMin=%lld\nPSec=%lld\nPFrame=%lld\nPLBA=%lld\n",
                      entry++, session, point, control, static_cast<long long>(msf / 4500),
                      static_cast<long long>(msf / 75 % 60), static_cast<long long>(msf % 75),
                      static_cast<long long>(at));
        entries += text;
    };
    for (size_t k = 0; k < tracks.size();) {
        const int session = tracks[k].session;
        size_t last = k;
        while (last + 1 < tracks.size() && tracks[last + 1].session == session) ++last;
        // A0-A2 in front of the session's track entries, as a drive reports them.
        const int control = mode(tracks[k]) ? 0x04 : 0x00;
        add_entry(session, 0xA0, control, int64_t(k + 1) * 4500 - 150);
        add_entry(session, 0xA1, control, int64_t(last + 1) * 4500 - 150);
        add_entry(session, 0xA2, control, lead_out[static_cast<size_t>(session)]);
        for (size_t i = k; i <= last; ++i) {
            add_entry(session, static_cast<int>(i + 1), mode(tracks[i]) ? 0x04 : 0x00, index1[i]);
            char text[128];
            std::snprintf(text, sizeof text, "[TRACK %zu]\nMODE=%d\n", i + 1, mode(tracks[i]));
            track_sections += text;
            if (tracks[i].pregap) track_sections += "INDEX 0=" + std::to_string(index0[i]) + "\n";
            track_sections += "INDEX 1=" + std::to_string(index1[i]) + "\n";
        }
        sessions += "[Session " + std::to_string(session) + "]\nPreGapMode=" + std::to_string(mode(tracks[k])) +
                    "\nPreGapSubC=0\n";
        k = last + 1;
    }
    const std::string ccd = "[CloneCD]\nVersion=3\n[Disc]\nTocEntries=" + std::to_string(entry) +
                            "\nSessions=" + std::to_string(lead_out.size() - 1) +
                            "\nDataTracksScrambled=0\nCDTextLength=0\n" + sessions + entries + track_sections;
    WriteFile(dir + "/" + name + ".img", image);
    if (with_subchannel) WriteFile(dir + "/" + name + ".sub", Pattern(image.size() / 2352 * 96, 0x5B));
    WriteFile(dir + "/" + name + ".ccd", ccd);
    return dir + "/" + name + ".ccd";
}

namespace {
void PutBe(std::vector<uint8_t> &out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void Chunk(std::vector<uint8_t> &out, const char *id, const std::vector<uint8_t> &data) {
    out.insert(out.end(), id, id + 4);
    PutBe(out, data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
}
uint8_t Bcd(int n) {
    return static_cast<uint8_t>((n / 10) << 4 | (n % 10));
}
uint8_t NeroMode(int32_t format) {
    switch (format) {
        case 9: return 0x00;
        case 11: return 0x02;
        case 10:
        case 13: return 0x03;
        case 3: return 0x05;
        case 5:
        case 6:
        case 7: return 0x06;
        case 14: return 0x10;
        case 15: return 0x0F;
        default: return 0x07;
    }
}
}  // namespace

std::string WriteNrgDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         NrgForm form) {
    const bool tao = form == NrgForm::kTaoV2, v1 = form == NrgForm::kDaoV1;
    std::vector<uint8_t> image, chain;
    struct Placed {
        int64_t index0, index1, end;  // file bytes
        int64_t sector0, sector1;     // disc sectors of index 0 and 1
    };
    std::vector<Placed> placed;
    int64_t disc_end = 0;
    for (size_t k = 0; k < tracks.size(); ++k) {
        const DiscTrack &t = tracks[k];
        const int32_t pregap = tao ? 0 : t.pregap;
        const bool opens = k == 0 || t.session != tracks[k - 1].session;
        Placed p;
        p.index0 = static_cast<int64_t>(image.size());
        if (pregap) {
            const std::vector<uint8_t> bytes = PregapBytes(t, static_cast<int32_t>(k + 1));
            image.insert(image.end(), bytes.begin(), bytes.end());
        }
        p.index1 = static_cast<int64_t>(image.size());
        image.insert(image.end(), t.data.begin(), t.data.end());
        p.end = static_cast<int64_t>(image.size());
        const int64_t disc_pregap = opens ? std::max(150, pregap + t.absent_pregap) : pregap + t.absent_pregap;
        p.sector1 =
            k == 0 ? t.absent_pregap : disc_end + disc_pregap + (opens ? (t.session == 2 ? 6750 : 2250) + 4500 : 0);
        p.sector0 = p.sector1 - disc_pregap;
        disc_end = p.sector1 + static_cast<int64_t>(t.data.size()) / StoredSize(t.format);
        placed.push_back(p);
    }
    const int64_t chain_offset = static_cast<int64_t>(image.size());
    auto cue_point = [&](std::vector<uint8_t> &out, uint8_t control, uint8_t track, int index, int64_t sector) {
        out.push_back(control);
        out.push_back(track);
        out.push_back(Bcd(index));
        out.push_back(0);
        if (v1) {  // 0, M, S, F
            const int64_t msf = sector + 150;
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(msf / 4500));
            out.push_back(static_cast<uint8_t>(msf / 75 % 60));
            out.push_back(static_cast<uint8_t>(msf % 75));
        } else {
            PutBe(out, static_cast<uint32_t>(static_cast<int32_t>(sector)), 4);
        }
    };
    for (size_t k = 0; k < tracks.size();) {
        size_t last = k;
        while (last + 1 < tracks.size() && tracks[last + 1].session == tracks[k].session) ++last;
        std::vector<uint8_t> cues, dao, etn, sinf;
        const int offset_bytes = v1 ? 4 : 8;
        cue_point(cues, 0x41, 0, 0, placed[k].sector0 - (k == 0 ? 0 : 150));  // the lead-in
        PutBe(dao, 0, 4);
        dao.insert(dao.end(), 14, 0);  // no catalogue number
        dao.push_back(0x20);
        dao.push_back(1);
        dao.push_back(static_cast<uint8_t>(k + 1));
        dao.push_back(static_cast<uint8_t>(last + 1));
        for (size_t i = k; i <= last; ++i) {
            const DiscTrack &t = tracks[i];
            const Placed &p = placed[i];
            const uint8_t control = t.format == 0 || t.format == 14 ? 0x01 : 0x41;
            cue_point(cues, control, Bcd(static_cast<int>(i + 1)), 0, p.sector0);
            cue_point(cues, control, Bcd(static_cast<int>(i + 1)), 1, p.sector1);
            dao.insert(dao.end(), 12, 0);  // no ISRC
            PutBe(dao, static_cast<uint32_t>(StoredSize(t.format)), 2);
            dao.push_back(NeroMode(t.format));
            dao.insert(dao.end(), 3, 0);
            const int64_t index0 = p.index0 - (v1 || i == 0 ? 0 : int64_t(t.absent_pregap) * StoredSize(t.format));
            for (int64_t at : {index0, p.index1, p.end}) PutBe(dao, static_cast<uint64_t>(at), offset_bytes);
            PutBe(etn, static_cast<uint64_t>(p.index1), 8);
            PutBe(etn, static_cast<uint64_t>(p.end - p.index1), 8);
            PutBe(etn, NeroMode(t.format), 4);
            PutBe(etn, static_cast<uint64_t>(p.sector1), 4);
            PutBe(etn, 0, 8);
        }
        const int64_t lead_out =
            placed[last].sector1 + static_cast<int64_t>(tracks[last].data.size()) / StoredSize(tracks[last].format);
        cue_point(cues, 0x01, 0xAA, 1, lead_out);
        if (tao) {
            Chunk(chain, "ETN2", etn);
        } else {
            Chunk(chain, v1 ? "CUES" : "CUEX", cues);
            Chunk(chain, v1 ? "DAOI" : "DAOX", dao);
        }
        PutBe(sinf, last - k + 1, 4);
        Chunk(chain, "SINF", sinf);
        k = last + 1;
    }
    Chunk(chain, "MTYP", {0, 0, 0, 1});
    Chunk(chain, "END!", {});
    image.insert(image.end(), chain.begin(), chain.end());
    if (v1) {
        image.insert(image.end(), {'N', 'E', 'R', 'O'});
        PutBe(image, static_cast<uint64_t>(chain_offset), 4);
    } else {
        image.insert(image.end(), {'N', 'E', 'R', '5'});
        PutBe(image, static_cast<uint64_t>(chain_offset), 8);
    }
    const std::string path = dir + "/" + name + ".nrg";
    WriteFile(path, image);
    return path;
}

std::vector<uint8_t> CdTextPacks(const std::vector<std::pair<std::string, std::string>> &texts, bool header) {
    std::vector<uint8_t> packs;
    uint8_t sequence = 0;
    for (uint8_t type : {uint8_t(0x80), uint8_t(0x81)}) {
        // The texts one after the other, each with its NUL; a pack names the track of its first character.
        std::string run;
        std::vector<int> owner;
        for (size_t t = 0; t < texts.size(); ++t) {
            const std::string &text = type == 0x80 ? texts[t].first : texts[t].second;
            run += text + '\0';
            owner.insert(owner.end(), text.size() + 1, static_cast<int>(t));
        }
        for (size_t at = 0; at < run.size(); at += 12) {
            std::vector<uint8_t> pack = {type, static_cast<uint8_t>(owner[at]), sequence++, 0};
            size_t position = 0;  // characters of its text before this pack
            while (position < at && owner[at - position - 1] == owner[at]) ++position;
            pack[3] = static_cast<uint8_t>(std::min<size_t>(position, 15));
            for (size_t i = 0; i < 12; ++i) pack.push_back(at + i < run.size() ? static_cast<uint8_t>(run[at + i]) : 0);
            uint16_t crc = 0;  // CRC-16/CCITT over the 16 bytes, stored inverted
            for (size_t i = 0; i < 16; ++i) {
                crc ^= static_cast<uint16_t>(pack[i] << 8);
                for (int bit = 0; bit < 8; ++bit)
                    crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
            }
            crc = static_cast<uint16_t>(~crc);
            pack.push_back(static_cast<uint8_t>(crc >> 8));
            pack.push_back(static_cast<uint8_t>(crc));
            packs.insert(packs.end(), pack.begin(), pack.end());
        }
    }
    if (header) {
        const size_t n = packs.size() + 2;
        packs.insert(packs.begin(), {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0, 0});
    }
    return packs;
}

}  // namespace qorvex::test
