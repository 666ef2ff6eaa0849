#include "support/udf_builder.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace qorvex::test {

namespace {

constexpr uint32_t kSector = 2048;

void Put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get16(const uint8_t *p) {
    return p[0] | (p[1] << 8);
}

uint16_t Crc(const uint8_t *data, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
    }
    return crc;
}

void PutLongAd(uint8_t *p, std::array<uint32_t, 3> ad) {
    Put32(p, ad[0]);
    Put32(p + 4, ad[1]);
    Put16(p + 8, ad[2]);
}

std::vector<uint8_t> EncodeName(const UdfNode &node) {
    std::vector<uint8_t> out{static_cast<uint8_t>(node.wide ? 16 : 8)};
    for (char16_t c : node.name) {
        if (node.wide) out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

size_t FidSize(const UdfNode &node) {
    return (38 + EncodeName(node).size() + 3) & ~size_t(3);
}

// One node with its blocks (relative to the partition).
struct Planned {
    const UdfNode *node = nullptr;
    std::string path;
    uint32_t fe_block = 0, fe_blocks = 1;
    std::vector<std::array<uint32_t, 2>> parts;  // (block, bytes)
    std::string content;                         // file data or directory identifiers
    std::vector<std::unique_ptr<Planned>> children;
    Planned *parent = nullptr;
};

std::string Utf8(const std::u16string &s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class Builder {
public:
    Builder(const UdfOptions &o, UdfImage &image) : o_(o), image_(image) {}

    void Build();

private:
    uint32_t Alloc(uint32_t blocks) {
        const uint32_t at = next_;
        next_ += blocks;
        return at;
    }
    uint8_t *Block(uint32_t block) { return image_.At(o_.partition_start + block); }
    void Plan(Planned &p);
    void Write(Planned &p);
    uint32_t ContentAbsolute(const Planned &p, size_t offset) const;

    const UdfOptions &o_;
    UdfImage &image_;
    uint32_t next_ = 0;
};

void Builder::Plan(Planned &p) {
    const UdfNode &n = *p.node;
    if (n.directory) {
        p.content.assign(40, '\0');  // the parent identifier (no name)
        for (const UdfNode &child : n.children) p.content.append(FidSize(child), '\0');
    } else {
        p.content = n.data;
    }
    const bool embedded = n.ad == UdfAd::Embedded;
    const int extents = std::max(n.extents, 1);
    const size_t fixed = n.extended_entry ? 216 : 176;
    const size_t ad_size = n.ad == UdfAd::Long ? 16 : 8;
    const size_t fe_bytes = fixed + n.ea_length + (embedded ? p.content.size() : ad_size * extents);
    p.fe_blocks = static_cast<uint32_t>((fe_bytes + kSector - 1) / kSector);
    p.fe_block = Alloc(p.fe_blocks);
    if (!embedded && !p.content.empty()) {
        const size_t part = p.content.size() / extents;
        for (int k = 0; k < extents; ++k) {
            const size_t bytes = k + 1 == extents ? p.content.size() - part * (extents - 1) : part;
            if (k > 0) Alloc(1);  // a gap, so that each extent's own position matters
            p.parts.push_back(
                {Alloc(static_cast<uint32_t>((bytes + kSector - 1) / kSector)), static_cast<uint32_t>(bytes)});
        }
    }
    for (const UdfNode &child : n.children) {
        auto c = std::make_unique<Planned>();
        c->node = &child;
        c->parent = &p;
        c->path = p.path + Utf8(child.name) + (child.directory ? "\\" : "");
        Plan(*c);
        p.children.push_back(std::move(c));
    }
}

uint32_t Builder::ContentAbsolute(const Planned &p, size_t offset) const {
    const size_t fixed = p.node->extended_entry ? 216 : 176;
    if (p.node->ad == UdfAd::Embedded)
        return (o_.partition_start + p.fe_block) * kSector + static_cast<uint32_t>(fixed + p.node->ea_length + offset);
    for (const auto &part : p.parts) {
        if (offset < part[1]) return (o_.partition_start + part[0]) * kSector + static_cast<uint32_t>(offset);
        offset -= part[1];
    }
    return 0;
}

void Builder::Write(Planned &p) {
    const UdfNode &n = *p.node;
    if (n.directory) {
        // Identifiers: the parent first, then one per child.
        size_t at = 0;
        auto put_fid = [&](const UdfNode *child, const Planned &target, uint8_t characteristics) {
            std::vector<uint8_t> name = child ? EncodeName(*child) : std::vector<uint8_t>{};
            const size_t size = (38 + name.size() + 3) & ~size_t(3);
            uint8_t *f = reinterpret_cast<uint8_t *>(p.content.data()) + at;
            Put16(f + 16, 1);
            f[18] = characteristics;
            f[19] = static_cast<uint8_t>(name.size());
            PutLongAd(f + 20, {target.fe_blocks * kSector, target.fe_block, 0});
            if (!name.empty()) std::memcpy(f + 38, name.data(), name.size());
            FinishTag(f, 257, p.parts.empty() ? p.fe_block : p.parts[0][0], static_cast<uint32_t>(size));
            if (child && child->bad_fid_crc) f[8] ^= 0x5A;
            if (child) image_.layout.files[target.path].fid_offset = ContentAbsolute(p, at);
            at += size;
        };
        put_fid(nullptr, p.parent ? *p.parent : p, 0x0A);
        for (auto &c : p.children) {
            const UdfNode &child = *c->node;
            put_fid(&child, *c,
                    static_cast<uint8_t>((child.hidden ? 1 : 0) | (child.directory ? 2 : 0) | (child.deleted ? 4 : 0)));
        }
    }
    const bool efe = n.extended_entry;
    const size_t fixed = efe ? 216 : 176;
    std::vector<uint8_t> fe(p.fe_blocks * kSector, 0);
    Put16(fe.data() + 20, 4);  // strategy 4
    Put16(fe.data() + 24, 1);
    fe[27] = n.directory ? 4 : 5;
    const uint32_t ad_type = n.ad == UdfAd::Short ? 0 : n.ad == UdfAd::Long ? 1 : 3;
    Put16(fe.data() + 34, ad_type);
    Put32(fe.data() + 56, static_cast<uint32_t>(p.content.size()));
    PutTimestamp(fe.data() + (efe ? 92 : 84), n.modified);
    Put32(fe.data() + (efe ? 208 : 168), n.ea_length);
    uint8_t *ads = fe.data() + fixed + n.ea_length;
    uint32_t ad_length = 0;
    UdfPlacement &placement = image_.layout.files[p.path];
    placement.fe_sector = o_.partition_start + p.fe_block;
    if (n.ad == UdfAd::Embedded) {
        std::memcpy(ads, p.content.data(), p.content.size());
        ad_length = static_cast<uint32_t>(p.content.size());
        placement.extents.push_back({ContentAbsolute(p, 0) / kSector, ad_length});
    } else {
        const size_t size = n.ad == UdfAd::Long ? 16 : 8;
        for (const auto &part : p.parts) {
            Put32(ads + ad_length, part[1]);
            Put32(ads + ad_length + 4, part[0]);
            ad_length += static_cast<uint32_t>(size);
            placement.extents.push_back({o_.partition_start + part[0], part[1]});
        }
        size_t from = 0;
        for (const auto &part : p.parts) {
            for (uint32_t done = 0; done < part[1]; done += kSector)
                std::memcpy(Block(part[0] + done / kSector), p.content.data() + from + done,
                            std::min<uint32_t>(kSector, part[1] - done));
            from += part[1];
        }
    }
    Put32(fe.data() + (efe ? 212 : 172), ad_length);
    FinishTag(fe.data(), efe ? 266 : 261, p.fe_block, static_cast<uint32_t>(fixed + n.ea_length + ad_length));
    for (uint32_t b = 0; b < p.fe_blocks; ++b) std::memcpy(Block(p.fe_block + b), fe.data() + b * kSector, kSector);
    for (auto &c : p.children) Write(*c);
}

void WriteRecognition(uint8_t *d, const char *id) {
    d[0] = 0;
    std::memcpy(d + 1, id, 5);
    d[6] = 1;
}

void Builder::Build() {
    UdfLayout &layout = image_.layout;
    layout.partition_start = layout.fsd = o_.partition_start;
    // Recognition sequence.
    uint32_t s = 16;
    if (o_.iso_prefix) {
        uint8_t *d = image_.At(s++);
        d[0] = 255;
        std::memcpy(d + 1, "CD001", 5);
        d[6] = 1;
    }
    if (o_.bea01) WriteRecognition(image_.At(s++), "BEA01");
    WriteRecognition(image_.At(s++), o_.nsr);
    if (o_.tea01) WriteRecognition(image_.At(s++), "TEA01");

    // Partition contents.
    const int sets = std::max(o_.file_sets, 1);
    next_ = static_cast<uint32_t>(sets) + 1;
    if (o_.space_bitmap) layout.space_bitmap = o_.partition_start + Alloc(1);
    if (o_.space_entry) layout.space_entry = o_.partition_start + Alloc(1);
    Planned root;
    root.node = &o_.root;
    root.path = "\\";
    Plan(root);
    Write(root);
    const uint32_t plength = next_;
    for (int i = 0; i < sets; ++i)
        WriteFsd(Block(static_cast<uint32_t>(i)), static_cast<uint32_t>(i),
                 {root.fe_blocks * kSector, root.fe_block, 0});
    WriteTd(Block(static_cast<uint32_t>(sets)), static_cast<uint32_t>(sets));
    std::array<uint32_t, 2> use_ad{0, 0}, bitmap_ad{0, 0};
    if (o_.space_bitmap) {
        uint8_t *d = image_.At(layout.space_bitmap);
        Put32(d + 16, plength);
        Put32(d + 20, (plength + 7) / 8);
        FinishTag(d, 264, layout.space_bitmap - o_.partition_start, 24 + (plength + 7) / 8);
        bitmap_ad = {24 + (plength + 7) / 8, layout.space_bitmap - o_.partition_start};
    }
    if (o_.space_entry) {
        uint8_t *d = image_.At(layout.space_entry);
        Put16(d + 20, 4);
        Put16(d + 24, 1);
        d[27] = 1;
        Put32(d + 36, 8);
        Put32(d + 40, kSector);
        Put32(d + 44, plength);
        FinishTag(d, 263, layout.space_entry - o_.partition_start, 48);
        use_ad = {48, layout.space_entry - o_.partition_start};
    }

    // Integrity sequence.
    WriteLvid(image_.At(layout.integrity), layout.integrity);
    WriteTd(image_.At(layout.integrity + 1), layout.integrity + 1);

    // Volume descriptor sequences.
    std::vector<int> maps{o_.partition_number};
    if (o_.type2_map) maps.push_back(-1);
    auto sequence = [&](uint32_t at) {
        WritePvd(image_.At(at), at, o_.label, o_.recorded);
        WriteIuvd(image_.At(at + 1), at + 1);
        WritePd(image_.At(at + 2), at + 2, o_.partition_number, o_.partition_start, plength, use_ad, bitmap_ad);
        WriteLvd(image_.At(at + 3), at + 3, {static_cast<uint32_t>(sets + 1) * kSector, 0, 0},
                 {2 * kSector, layout.integrity}, maps);
        WriteUsd(image_.At(at + 4), at + 4, o_.free_extents);
        WriteTd(image_.At(at + 5), at + 5);
    };
    sequence(layout.main_vds);
    if (o_.reserve) sequence(layout.reserve_vds);

    // Anchors.
    const uint32_t total = std::max({o_.min_sectors, o_.partition_start + plength + 258, 514u});
    image_.At(total - 1);
    layout.anchor_last = total - 1;
    layout.anchor_last256 = total - 257;
    const std::array<uint32_t, 2> main{16 * kSector, layout.main_vds};
    const std::array<uint32_t, 2> reserve = o_.reserve_same ? main
                                            : o_.reserve    ? std::array<uint32_t, 2>{16 * kSector, layout.reserve_vds}
                                                            : std::array<uint32_t, 2>{0, 0};
    if (o_.anchor_first) WriteAvdp(image_.At(256), 256, main, reserve);
    if (o_.anchor_last) WriteAvdp(image_.At(total - 1), total - 1, main, reserve);
    if (o_.anchor_last256) WriteAvdp(image_.At(total - 257), total - 257, main, reserve);
}

}  // namespace

uint8_t *UdfImage::At(uint32_t sector) {
    if (bytes.size() < (size_t(sector) + 1) * kSector) bytes.resize((size_t(sector) + 1) * kSector, 0);
    return bytes.data() + size_t(sector) * kSector;
}

UdfNode UdfFileNode(const std::string &name, const std::string &data, UdfAd ad) {
    UdfNode n;
    n.name.assign(name.begin(), name.end());
    n.data = data;
    n.ad = ad;
    return n;
}

UdfNode UdfDirNode(const std::string &name, std::vector<UdfNode> children) {
    UdfNode n;
    n.name.assign(name.begin(), name.end());
    n.directory = true;
    n.children = std::move(children);
    return n;
}

void RecomputeCrc(uint8_t *d) {
    Put16(d + 8, Crc(d + 16, Get16(d + 10)));
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
    d[4] = sum;
}

void FinishTag(uint8_t *d, uint16_t id, uint32_t location, uint32_t total_length) {
    Put16(d, id);
    Put16(d + 2, 2);
    Put16(d + 10, total_length - 16);
    Put32(d + 12, location);
    RecomputeCrc(d);
}

void PutTimestamp(uint8_t *p, const UdfTimestamp &t) {
    Put16(p, 0x1000 | (static_cast<uint32_t>(t.zone) & 0x0FFF));
    Put16(p + 2, static_cast<uint32_t>(t.year));
    p[4] = static_cast<uint8_t>(t.month);
    p[5] = static_cast<uint8_t>(t.day);
    p[6] = static_cast<uint8_t>(t.hour);
    p[7] = static_cast<uint8_t>(t.minute);
    p[8] = static_cast<uint8_t>(t.second);
}

void PutDstring(uint8_t *p, size_t size, const std::string &text) {
    const size_t n = std::min(text.size(), size - 2);
    p[0] = 8;
    std::memcpy(p + 1, text.data(), n);
    p[size - 1] = static_cast<uint8_t>(n + 1);
}

void WriteAvdp(uint8_t *d, uint32_t location, std::array<uint32_t, 2> main, std::array<uint32_t, 2> reserve) {
    Put32(d + 16, main[0]);
    Put32(d + 20, main[1]);
    Put32(d + 24, reserve[0]);
    Put32(d + 28, reserve[1]);
    FinishTag(d, 2, location, 512);
}

void WriteVdp(uint8_t *d, uint32_t location, uint32_t next_length, uint32_t next_location) {
    Put32(d + 20, next_length);
    Put32(d + 24, next_location);
    FinishTag(d, 3, location, 512);
}

void WriteTd(uint8_t *d, uint32_t location) {
    FinishTag(d, 8, location, 512);
}

void WritePvd(uint8_t *d, uint32_t location, const std::string &label, const UdfTimestamp &recorded) {
    PutDstring(d + 24, 32, label);
    PutDstring(d + 72, 128, "SET");
    PutTimestamp(d + 376, recorded);
    FinishTag(d, 1, location, 512);
}

void WriteIuvd(uint8_t *d, uint32_t location) {
    std::memcpy(d + 21, "*UDF LV Info", 12);
    FinishTag(d, 4, location, 512);
}

void WritePd(uint8_t *d, uint32_t location, uint16_t number, uint32_t start, uint32_t length,
             std::array<uint32_t, 2> use_ad, std::array<uint32_t, 2> bitmap_ad) {
    Put16(d + 20, 1);
    Put16(d + 22, number);
    std::memcpy(d + 25, "+NSR02", 6);
    Put32(d + 56, use_ad[0]);
    Put32(d + 60, use_ad[1]);
    Put32(d + 64, bitmap_ad[0]);
    Put32(d + 68, bitmap_ad[1]);
    Put32(d + 184, 1);
    Put32(d + 188, start);
    Put32(d + 192, length);
    FinishTag(d, 5, location, 512);
}

void WriteLvd(uint8_t *d, uint32_t location, std::array<uint32_t, 3> fsd_ad, std::array<uint32_t, 2> integrity,
              const std::vector<int> &maps) {
    Put32(d + 212, kSector);
    PutLongAd(d + 248, fsd_ad);
    uint32_t at = 440;
    for (int map : maps) {
        if (map >= 0) {
            d[at] = 1;
            d[at + 1] = 6;
            Put16(d + at + 2, 1);
            Put16(d + at + 4, static_cast<uint32_t>(map));
            at += 6;
        } else {
            d[at] = 2;
            d[at + 1] = 64;
            at += 64;
        }
    }
    Put32(d + 264, at - 440);
    Put32(d + 268, static_cast<uint32_t>(maps.size()));
    Put32(d + 432, integrity[0]);
    Put32(d + 436, integrity[1]);
    FinishTag(d, 6, location, at);
}

void WriteUsd(uint8_t *d, uint32_t location, const std::vector<std::array<uint32_t, 2>> &extents) {
    Put32(d + 20, static_cast<uint32_t>(extents.size()));
    for (size_t i = 0; i < extents.size(); ++i) {
        Put32(d + 24 + 8 * i, extents[i][0]);
        Put32(d + 28 + 8 * i, extents[i][1]);
    }
    FinishTag(d, 7, location, static_cast<uint32_t>(24 + 8 * extents.size()));
}

void WriteLvid(uint8_t *d, uint32_t location, std::array<uint32_t, 2> next) {
    PutTimestamp(d + 16, UdfTimestamp{});
    Put32(d + 28, 1);  // closed
    Put32(d + 32, next[0]);
    Put32(d + 36, next[1]);
    Put32(d + 72, 1);
    Put32(d + 76, 46);
    FinishTag(d, 9, location, 134);
}

void WriteFsd(uint8_t *d, uint32_t location, std::array<uint32_t, 3> root, std::array<uint32_t, 3> next) {
    PutTimestamp(d + 16, UdfTimestamp{});
    PutDstring(d + 304, 32, "FILESET");
    PutLongAd(d + 400, root);
    PutLongAd(d + 448, next);
    FinishTag(d, 256, location, 512);
}

UdfImage BuildUdf(const UdfOptions &options) {
    UdfImage image;
    UdfOptions o = options;
    o.root.directory = true;
    Builder(o, image).Build();
    return image;
}

}  // namespace qorvex::test
