#include "support/descriptor_writers.h"

#include <algorithm>

#include "support/raw_sectors.h"
#include "support/temp_dir.h"

namespace qorvex::test {

namespace {
void Put(std::vector<uint8_t> &b, size_t at, uint64_t value, int bytes = 4) {
    if (b.size() < at + size_t(bytes)) b.resize(at + size_t(bytes), 0);
    for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// Where a track lies: its disc pregap, the disc sector of index 1, the stream bytes of its first stored
// sector, of index 1 and after its last; a session's first track has at least `opening` stored pregap sectors.
struct Placed {
    int64_t pregap, sector, begin, index1, end, size;
};
std::vector<Placed> Place(const std::vector<DiscTrack> &tracks, bool held, int32_t opening, std::vector<uint8_t> *out) {
    std::vector<Placed> placed;
    int64_t disc_end = 0;
    for (size_t k = 0; k < tracks.size(); ++k) {
        const DiscTrack &t = tracks[k];
        const bool opens = k == 0 || t.session != tracks[k - 1].session;
        const int32_t stored = held ? std::max(t.pregap, opens ? opening : 0) : 0;
        Placed p{0, 0, int64_t(out->size()), 0, 0, StoredSize(t.format)};
        out->resize(out->size() + size_t((stored - std::min(stored, t.pregap)) * p.size), 0);
        if (held)
            for (uint8_t b : PregapBytes(t, int32_t(k + 1))) out->push_back(b);
        p.index1 = int64_t(out->size());
        out->insert(out->end(), t.data.begin(), t.data.end());
        p.end = int64_t(out->size());
        p.pregap = std::max<int64_t>(t.pregap + t.absent_pregap, opens ? std::max(150, stored) : stored);
        p.sector = k == 0 ? 0 : disc_end + p.pregap + (opens ? (t.session == 2 ? 6750 : 2250) + 4500 : 0);
        disc_end = p.sector + (p.end - p.index1) / p.size;
        placed.push_back(p);
    }
    return placed;
}
bool Audio(int32_t format) {
    return format == 0 || format == 14;
}
}  // namespace

std::string WriteMdsDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         const MdsForm &form) {
    std::vector<uint8_t> stream, mds;
    const std::vector<Placed> placed = Place(tracks, form.pregaps_held, 0, &stream);
    const size_t sessions = tracks.back().session, n = tracks.size(), parts = size_t(form.parts);
    const size_t extras = 88 + sessions * 24 + (sessions * 3 + n) * 80, files = extras + (form.dvd ? 0 : n * 8);
    mds.resize(files + parts * 16, 0);
    std::copy_n("MEDIA DESCRIPTOR\1\5", 18, mds.begin());
    Put(mds, 18, form.dvd ? 0x10 : 0, 2), Put(mds, 20, sessions, 2), Put(mds, 80, 88);
    for (size_t part = 0; part < parts; ++part) {  // the file blocks every track shares, and the names
        Put(mds, files + part * 16, mds.size()), Put(mds, files + part * 16 + 4, form.wide_names);
        for (char c : (part ? "*.md" + std::to_string(part) : form.named) + '\0')
            Put(mds, mds.size(), uint8_t(c), form.wide_names ? 2 : 1);
    }
    size_t block = 88 + sessions * 24;
    for (size_t s = 1, k = 0; s <= sessions; ++s) {
        const size_t first = k, session = 88 + (s - 1) * 24;
        while (k < n && tracks[k].session == s) ++k;
        Put(mds, session, uint32_t(placed[first].sector - placed[first].pregap));
        Put(mds, session + 4,
            uint64_t(placed[k - 1].sector + (placed[k - 1].end - placed[k - 1].index1) / placed[k - 1].size));
        Put(mds, session + 8, s, 2), Put(mds, session + 10, 3 + k - first, 1), Put(mds, session + 11, 3, 1);
        Put(mds, session + 12, first + 1, 2), Put(mds, session + 14, k, 2), Put(mds, session + 20, block);
        for (int point : {0xA0, 0xA1, 0xA2})
            Put(mds, block + 4, uint64_t(point), 1), block += 80;  // the lead-in entries
        for (size_t i = first; i < k; ++i, block += 80) {
            const int32_t f = tracks[i].format;
            const Placed &p = placed[i];
            // Mode: A9 audio, AA Mode 1, AB Mode 2, AC Form 1, AD Form 2; subchannel 08 with 2448-byte sectors.
            const int mode = Audio(f)                                    ? 0xA9
                             : (f == 3 || f == 9 || f == 15)             ? 0xAA
                             : (f == 7 || f == 18)                       ? 0xAD
                             : (f == 6 || f == 11 || f == 13 || f == 17) ? 0xAC
                                                                         : 0xAB;
            Put(mds, block, mode, 1), Put(mds, block + 1, p.size == 2448 ? 8 : 0, 1);
            Put(mds, block + 2, Audio(f) ? 0x10 : 0x14, 1), Put(mds, block + 4, i + 1, 1);
            Put(mds, block + 12, form.dvd ? uint64_t((p.end - p.index1) / p.size) : extras + i * 8);
            if (!form.dvd)
                Put(mds, extras + i * 8, uint64_t(p.pregap)),
                    Put(mds, extras + i * 8 + 4, uint64_t((p.end - p.index1) / p.size));
            Put(mds, block + 16, uint64_t(p.size), 2), Put(mds, block + 36, uint64_t(p.sector));
            Put(mds, block + 40, uint64_t(p.index1), 8), Put(mds, block + 48, parts), Put(mds, block + 52, files);
        }
    }
    for (size_t part = 0, from = 0; part < parts; ++part) {  // parts cut on a sector of the track they cut
        size_t to = stream.size() * (part + 1) / parts;
        for (const Placed &p : placed)
            if (size_t(p.begin) <= to && to < size_t(p.end))
                to = std::max(from, to - (to - size_t(p.begin)) % size_t(p.size));
        WriteFile(dir + "/" + name + (part ? ".md" + std::to_string(part) : ".mdf"),
                  std::vector<uint8_t>(stream.begin() + int64_t(from), stream.begin() + int64_t(to)));
        from = to;
    }
    WriteFile(dir + "/" + name + ".mds", mds);
    return dir + "/" + name + ".mds";
}

std::string WriteCdiDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         CdiVersion version) {
    std::vector<uint8_t> d;
    const std::vector<Placed> placed = Place(tracks, true, 150, &d);
    const size_t header = d.size();
    const std::string file = name + ".cdi";
    const uint8_t mark[10] = {0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    const auto add = [&d](uint64_t value, int bytes = 4) { Put(d, d.size(), value, bytes); };
    add(tracks.back().session, 2);
    for (size_t k = 0; k < tracks.size();) {
        const size_t first = k;
        while (k < tracks.size() && tracks[k].session == tracks[first].session) ++k;
        add(k - first, 2);
        for (size_t i = first; i < k; ++i) {
            const Placed &p = placed[i];
            const int32_t f = tracks[i].format;
            const uint64_t pregap = uint64_t((p.index1 - p.begin) / p.size),
                           length = uint64_t((p.end - p.index1) / p.size);
            add(0);
            d.insert(d.end(), mark, mark + 10), d.insert(d.end(), mark, mark + 10);
            add(0), add(file.size(), 1), d.insert(d.end(), file.begin(), file.end());
            d.resize(d.size() + 11, 0), add(2), add(0), add(0x514C8);  // ... the disc's capacity
            add(2, 2), add(pregap), add(length), add(0), add(0, 2);    // index lengths, no CD-TEXT
            add(Audio(f)                        ? 0
                : (f == 3 || f == 9 || f == 15) ? 1
                                                : 2),
                add(0), add(tracks[i].session - 1u), add(i - first);
            add(uint64_t(p.sector) - pregap + 150), add(pregap + length), d.resize(d.size() + 16, 0);
            add(p.size == 2048 ? 0 : p.size == 2336 ? 1 : p.size == 2352 ? 2 : 4), add(Audio(f) ? 0 : 4);
            add(0, 1), add(pregap + length), d.resize(d.size() + 20, 0);
            if (version == CdiVersion::k35) add(0xFFFFFFFF00, 5), add(0xFFFFFFFF), d.resize(d.size() + 78, 0);
            if (version == CdiVersion::k3) d.resize(d.size() + 9, 0);
        }
        add(Audio(tracks[first].format) ? 0 : 2), add(0), add(uint64_t(placed[first].sector));  // the session's type
        if (version != CdiVersion::k2) add(0, 1);
    }
    add(0, 2), add(uint64_t(placed.back().sector + (placed.back().end - placed.back().index1) / placed.back().size));
    add(0, version == CdiVersion::k2 ? 1 : 2), add(1), add(1), d.resize(d.size() + 29, 0);  // no name, no catalogue
    add(uint32_t(version)), add(version == CdiVersion::k35 ? d.size() + 4 - header : header);
    WriteFile(dir + "/" + file, d);
    return dir + "/" + file;
}

}  // namespace qorvex::test
