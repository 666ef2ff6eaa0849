#include "support/udf_builder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/iso_builder.h"

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
    uint32_t ie_block = 0, newer_block = 0;      // strategy 4096
    bool data_physical = false;                  // file data allocated in the physical partition (long_ad, ref 0)
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
    // File data in the physical partition, apart from the entries and directories (Virtual, Metadata).
    bool SplitData() const { return o_.mapping == UdfMapping::Virtual || o_.mapping == UdfMapping::Metadata; }
    uint16_t IcbRef() const { return SplitData() ? 1 : 0; }
    uint32_t AllocData(uint32_t blocks) {
        if (!SplitData()) return Alloc(blocks);
        const uint32_t at = data_next_;
        data_next_ += blocks;
        return at;
    }
    // Partition block where block `b` of the entries' partition lies: Virtual reverses the whole region (so
    // that no run of two blocks is consecutive), Metadata splits it in two extents with a gap.
    uint32_t Place(uint32_t b) const {
        switch (o_.mapping) {
            case UdfMapping::Virtual: return l_base_ + (l_count_ - 1 - b);
            case UdfMapping::Metadata: return b < Half() ? l_base_ + b : l_base_ + b + o_.metadata_gap;
            default: return b;
        }
    }
    uint32_t Half() const { return std::max<uint32_t>(l_count_ / 2, 1); }
    uint8_t *Block(uint32_t block) { return image_.At(o_.partition_start + Place(block)); }
    uint8_t *Physical(uint32_t block) { return image_.At(o_.partition_start + block); }
    bool Extended(const UdfNode &n) const { return n.extended_entry || o_.all_extended; }
    void WriteVat(uint32_t total);
    void DescribeForPeers();
    void WriteMetadataFiles(uint32_t &used);
    void SpareAndTables(uint32_t &used);
    void Plan(Planned &p);
    void Write(Planned &p);
    uint32_t ContentAbsolute(const Planned &p, size_t offset) const;

    const UdfOptions &o_;
    UdfImage &image_;
    uint32_t next_ = 0;
    uint32_t data_next_ = 0;
    uint32_t l_base_ = 0, l_count_ = 0;
    uint32_t unique_ = 16;
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
    const size_t fixed = Extended(n) ? 216 : 176;
    p.data_physical =
        !n.directory && !embedded && SplitData() && !(o_.mapping == UdfMapping::Virtual && n.ad == UdfAd::Short);
    const size_t ad_size = n.ad == UdfAd::Long || p.data_physical ? 16 : 8;
    const size_t fe_bytes = fixed + n.ea_length + (embedded ? p.content.size() : ad_size * extents);
    p.fe_blocks = static_cast<uint32_t>((fe_bytes + kSector - 1) / kSector);
    p.fe_block = Alloc(p.fe_blocks);
    if (!n.newer_data.empty()) {
        p.ie_block = Alloc(1);
        p.newer_block = Alloc(1);
    }
    if (!embedded && !p.content.empty()) {
        const size_t part = p.content.size() / extents;
        for (int k = 0; k < extents; ++k) {
            const size_t bytes = k + 1 == extents ? p.content.size() - part * (extents - 1) : part;
            const uint32_t blocks = static_cast<uint32_t>((bytes + kSector - 1) / kSector);
            if (p.data_physical) {
                if (k > 0) AllocData(1);
                p.parts.push_back({AllocData(blocks), static_cast<uint32_t>(bytes)});
                continue;
            }
            if (k > 0) Alloc(1);  // a gap, so that each extent's own position matters
            p.parts.push_back({Alloc(blocks), static_cast<uint32_t>(bytes)});
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
    const size_t fixed = Extended(*p.node) ? 216 : 176;
    if (p.node->ad == UdfAd::Embedded)
        return (o_.partition_start + Place(p.fe_block)) * kSector +
               static_cast<uint32_t>(fixed + p.node->ea_length + offset);
    for (const auto &part : p.parts) {
        if (offset < part[1])
            return (o_.partition_start + Place(part[0] + static_cast<uint32_t>(offset / kSector))) * kSector +
                   static_cast<uint32_t>(offset % kSector);
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
            PutLongAd(f + 20, {target.fe_blocks * kSector, target.fe_block, IcbRef()});
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
    const bool efe = Extended(n);
    const size_t fixed = efe ? 216 : 176;
    std::vector<uint8_t> fe(p.fe_blocks * kSector, 0);
    Put16(fe.data() + 20, n.newer_data.empty() ? 4 : 4096);  // strategy
    Put16(fe.data() + 24, 1);
    fe[27] = n.directory ? 4 : 5;
    const uint32_t ad_type = p.data_physical ? 1 : n.ad == UdfAd::Short ? 0 : n.ad == UdfAd::Long ? 1 : 3;
    const uint32_t unique = p.parent ? unique_++ : 0;
    Put32(fe.data() + 36, 0xFFFFFFFF);  // uid, gid: not recorded
    Put32(fe.data() + 40, 0xFFFFFFFF);
    Put32(fe.data() + 44, n.directory ? 0x14A5 : 0x1084);  // permissions: read (and execute for folders)
    Put16(fe.data() + 48, 1);                              // file link count
    Put32(fe.data() + (efe ? 200 : 160), unique);
    Put16(fe.data() + 34, ad_type);
    Put32(fe.data() + 56, static_cast<uint32_t>(p.content.size()));
    PutTimestamp(fe.data() + (efe ? 92 : 84), n.modified);
    Put32(fe.data() + (efe ? 208 : 168), n.ea_length);
    uint8_t *ads = fe.data() + fixed + n.ea_length;
    uint32_t ad_length = 0;
    UdfPlacement &placement = image_.layout.files[p.path];
    placement.fe_sector = o_.partition_start + Place(p.fe_block);
    if (n.ad == UdfAd::Embedded) {
        std::memcpy(ads, p.content.data(), p.content.size());
        ad_length = static_cast<uint32_t>(p.content.size());
        placement.extents.push_back({ContentAbsolute(p, 0) / kSector, ad_length});
    } else {
        const size_t size = ad_type == 1 ? 16 : 8;
        for (const auto &part : p.parts) {
            Put32(ads + ad_length, part[1]);
            Put32(ads + ad_length + 4, part[0]);
            if (size == 16) Put16(ads + ad_length + 8, p.data_physical ? 0 : IcbRef());
            ad_length += static_cast<uint32_t>(size);
            placement.extents.push_back({o_.partition_start + (p.data_physical ? part[0] : Place(part[0])), part[1]});
        }
        size_t from = 0;
        for (const auto &part : p.parts) {
            for (uint32_t done = 0; done < part[1]; done += kSector) {
                const uint32_t b = part[0] + done / kSector;
                std::memcpy(p.data_physical ? Physical(b) : Block(b), p.content.data() + from + done,
                            std::min<uint32_t>(kSector, part[1] - done));
            }
            from += part[1];
        }
    }
    Put32(fe.data() + (efe ? 212 : 172), ad_length);
    FinishTag(fe.data(), efe ? 266 : 261, p.fe_block, static_cast<uint32_t>(fixed + n.ea_length + ad_length));
    for (uint32_t b = 0; b < p.fe_blocks; ++b) std::memcpy(Block(p.fe_block + b), fe.data() + b * kSector, kSector);
    if (!n.newer_data.empty()) {
        // The indirect entry after the entry names the newer one, which holds its data embedded.
        uint8_t *ie = Block(p.ie_block);
        Put16(ie + 20, 4096);
        Put16(ie + 24, 2);
        PutLongAd(ie + 36, {kSector, p.newer_block, IcbRef()});
        FinishTag(ie, 259, p.ie_block, 52);
        uint8_t *newer = Block(p.newer_block);
        std::memcpy(newer, fe.data(), fixed);
        Put16(newer + 34, 3);
        Put32(newer + 56, static_cast<uint32_t>(n.newer_data.size()));
        Put32(newer + (efe ? 208 : 168), 0);
        Put32(newer + (efe ? 212 : 172), static_cast<uint32_t>(n.newer_data.size()));
        std::memcpy(newer + fixed, n.newer_data.data(), n.newer_data.size());
        FinishTag(newer, efe ? 266 : 261, p.newer_block, static_cast<uint32_t>(fixed + n.newer_data.size()));
        placement.newer_sector = o_.partition_start + Place(p.newer_block);
    }
    for (auto &c : p.children) Write(*c);
}

// Fields the engine does not read but other readers check: the domain (with the UDF revision) of the logical
// volume and the file sets, the volume identifier, the revisions in the integrity descriptor.
void Builder::DescribeForPeers() {
    const uint16_t revision = o_.mapping == UdfMapping::Physical ? 0x0201 : 0x0250;
    auto domain = [&](uint8_t *p) {
        std::memcpy(p + 1, "*OSTA UDF Compliant", 19);
        Put16(p + 24, revision);
    };
    const uint32_t charset_list = 1;
    for (uint32_t at : {image_.layout.main_vds + 3, image_.layout.reserve_vds + 3}) {
        if (at == image_.layout.reserve_vds + 3 && !o_.reserve) continue;
        uint8_t *pvd = image_.At(at - 3);
        Put32(pvd + 64, charset_list);
        Put32(pvd + 68, charset_list);
        std::memcpy(pvd + 201, "OSTA Compressed Unicode", 23);
        std::memcpy(pvd + 265, "OSTA Compressed Unicode", 23);
        RecomputeCrc(pvd);
        uint8_t *lvd = image_.At(at);
        std::memcpy(lvd + 21, "OSTA Compressed Unicode", 23);
        PutDstring(lvd + 84, 128, o_.label);
        domain(lvd + 216);
        RecomputeCrc(lvd);
        if (uint8_t *pd = image_.At(at - 1); o_.nsr[4] == '3') {
            pd[30] = '3';
            RecomputeCrc(pd);
        }
    }
    for (int i = 0; i < std::max(o_.file_sets, 1); ++i) {
        uint8_t *fsd = Block(static_cast<uint32_t>(i));
        Put16(fsd + 28, 3);
        Put16(fsd + 30, 3);
        Put32(fsd + 32, charset_list);
        Put32(fsd + 36, charset_list);
        std::memcpy(fsd + 49, "OSTA Compressed Unicode", 23);
        PutDstring(fsd + 112, 128, o_.label);
        std::memcpy(fsd + 241, "OSTA Compressed Unicode", 23);
        domain(fsd + 416);
        RecomputeCrc(fsd);
    }
    // One free-space and one size entry per partition map, then the implementation use with the revisions.
    const uint32_t maps = o_.mapping == UdfMapping::Virtual || o_.mapping == UdfMapping::Metadata ? 2 : 1;
    uint8_t *lvid = image_.At(image_.layout.integrity);
    const uint32_t use = 80 + 8 * maps;
    std::memset(lvid + 72, 0, 2048 - 72);
    Put32(lvid + 72, maps);
    Put32(lvid + 76, 46);
    for (uint32_t i = 0; i < maps; ++i) Put32(lvid + 80 + 4 * maps + 4 * i, image_.Sectors());
    Put16(lvid + use + 40, revision);
    Put16(lvid + use + 42, revision);
    Put16(lvid + use + 44, revision);
    FinishTag(lvid, 9, image_.layout.integrity, use + 46);
}

// UDF 2.2.11: the VAT in an entry of its own, its data embedded.
void Builder::WriteVat(uint32_t total) {
    UdfLayout &layout = image_.layout;
    layout.vat_icb = total - 1;
    layout.vat.clear();
    for (uint32_t b = 0; b < l_count_; ++b) layout.vat.push_back(Place(b));
    std::vector<uint8_t> data;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    if (!o_.vat150) {
        data.assign(152, 0);
        Put16(data.data(), 152);
        PutDstring(data.data() + 4, 128, o_.label);
        Put32(data.data() + 132, 0xFFFFFFFF);
        Put16(data.data() + 144, 0x0201);
        Put16(data.data() + 146, 0x0201);
        Put16(data.data() + 148, 0x0201);
    }
    for (uint32_t v : layout.vat) put32(v);
    if (o_.vat150) {
        data.push_back(0);
        const char id[] = "*UDF Virtual Alloc Tbl";
        data.insert(data.end(), id, id + sizeof id - 1);
        data.resize(data.size() + 32 - 23, 0);
        put32(0xFFFFFFFF);
    }
    const bool efe = !o_.vat150;
    const size_t fixed = efe ? 216 : 176;
    uint8_t *d = image_.At(layout.vat_icb);
    std::memset(d, 0, kSector);
    Put16(d + 20, 4);
    Put16(d + 24, 1);
    d[27] = efe ? 248 : 0;
    Put16(d + 34, 3);
    Put32(d + 56, static_cast<uint32_t>(data.size()));
    Put32(d + (efe ? 212 : 172), static_cast<uint32_t>(data.size()));
    std::memcpy(d + fixed, data.data(), std::min<size_t>(data.size(), kSector - fixed));
    FinishTag(d, efe ? 266 : 261, layout.vat_icb - o_.partition_start,
              static_cast<uint32_t>(std::min<size_t>(fixed + data.size(), kSector)));
}

// UDF 2.2.13: the metadata file (two extents with a gap), its mirror (one extent, a copy) and the bitmap
// file, each an Extended File Entry in the physical partition after the metadata.
void Builder::WriteMetadataFiles(uint32_t &used) {
    UdfLayout &layout = image_.layout;
    const uint32_t file = used, mirror = used + 1, bitmap = used + 2, bitmap_data = used + 3, mirror_data = used + 4;
    used += 4 + l_count_;
    for (uint32_t b = 0; b < l_count_; ++b) std::memcpy(Physical(mirror_data + b), Block(b), kSector);
    auto entry = [&](uint32_t at, uint8_t type, const std::vector<std::array<uint32_t, 2>> &ads) {
        uint8_t *d = Physical(at);
        Put16(d + 20, 4);
        Put16(d + 24, 1);
        d[27] = type;
        uint32_t bytes = 0;
        for (size_t k = 0; k < ads.size(); ++k) {
            Put32(d + 216 + 8 * k, ads[k][0]);
            Put32(d + 220 + 8 * k, ads[k][1]);
            bytes += ads[k][0];
        }
        Put32(d + 56, bytes);
        Put32(d + 212, static_cast<uint32_t>(8 * ads.size()));
        FinishTag(d, 266, at, static_cast<uint32_t>(216 + 8 * ads.size()));
    };
    std::vector<std::array<uint32_t, 2>> main{{Half() * kSector, l_base_}};
    layout.metadata_extents = {{o_.partition_start + l_base_, Half()}};
    if (l_count_ > Half()) {
        main.push_back({(l_count_ - Half()) * kSector, l_base_ + Half() + o_.metadata_gap});
        layout.metadata_extents.push_back({o_.partition_start + l_base_ + Half() + o_.metadata_gap, l_count_ - Half()});
    }
    entry(file, 250, main);
    entry(mirror, 251, {{l_count_ * kSector, mirror_data}});
    entry(bitmap, 252, {{kSector, bitmap_data}});
    layout.metadata_file = o_.partition_start + file;
    layout.metadata_mirror = o_.partition_start + mirror;
    layout.metadata_bitmap = o_.partition_start + bitmap;
    layout.mirror_data = o_.partition_start + mirror_data;
}

// UDF 2.2.12: the spared packets are copied to a spare area after the partition and their original blocks
// overwritten, so that only a reader that follows the tables finds the data; two equal tables before the
// partition.
void Builder::SpareAndTables(uint32_t &used) {
    UdfLayout &layout = image_.layout;
    const uint32_t packet = std::max<uint32_t>(o_.packet_length, 1);
    // The spare area starts on a packet boundary of the medium.
    const uint32_t spare = (o_.partition_start + used + 4 + packet - 1) / packet * packet - o_.partition_start;
    std::vector<std::array<uint32_t, 2>> entries;
    for (size_t k = 0; k < o_.spared_packets.size(); ++k) {
        const uint32_t original = o_.spared_packets[k], moved = spare + static_cast<uint32_t>(k) * packet;
        for (uint32_t b = 0; b < packet; ++b) {
            std::memcpy(Physical(moved + b), Physical(original + b), kSector);
            std::memset(Physical(original + b), 0xEE, kSector);
        }
        entries.push_back({original, o_.partition_start + moved});
        layout.spared[original] = o_.partition_start + moved;
        used = moved + packet;
    }
    std::sort(entries.begin(), entries.end());
    layout.sparing_tables = {o_.partition_start - 3, o_.partition_start - 2};
    for (uint32_t at : layout.sparing_tables) WriteSparingTable(image_.At(at), at, 1, entries);
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
    l_count_ = next_;
    l_base_ = SplitData() ? data_next_ : 0;
    Write(root);
    for (int i = 0; i < sets; ++i)
        WriteFsd(Block(static_cast<uint32_t>(i)), static_cast<uint32_t>(i),
                 {root.fe_blocks * kSector, root.fe_block, IcbRef()});
    WriteTd(Block(static_cast<uint32_t>(sets)), static_cast<uint32_t>(sets));
    layout.fsd = o_.partition_start + Place(0);
    uint32_t plength = SplitData() ? l_base_ + l_count_ : next_;
    uint32_t used = plength;
    if (o_.mapping == UdfMapping::Metadata) {
        used += o_.metadata_gap;
        WriteMetadataFiles(used);
        plength = used;
    }
    if (o_.mapping == UdfMapping::Sparable || (o_.mapping == UdfMapping::Metadata && o_.sparable_below))
        SpareAndTables(used);
    const uint32_t total = std::max({o_.min_sectors, o_.partition_start + used + 258, 514u});
    if (o_.mapping == UdfMapping::Virtual) {
        // The VAT is the last block written, inside the partition.
        plength = total - o_.partition_start;
        WriteVat(total);
    }
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
    std::vector<std::vector<uint8_t>> maps;
    const uint16_t number = o_.partition_number;
    switch (o_.mapping) {
        case UdfMapping::Physical:
            maps.push_back(Type1Map(number));
            if (o_.type2_map) {
                maps.emplace_back(64, 0);
                maps.back()[0] = 2;
                maps.back()[1] = 64;
            }
            break;
        case UdfMapping::Virtual: maps = {Type1Map(number), Type2Map("*UDF Virtual Partition", number)}; break;
        case UdfMapping::Sparable:
            maps = {SparableMap(number, o_.packet_length, layout.sparing_tables, kSector)};
            break;
        case UdfMapping::Metadata:
            maps = {
                o_.sparable_below ? SparableMap(number, o_.packet_length, layout.sparing_tables, kSector)
                                  : Type1Map(number),
                MetadataMap(number, layout.metadata_file - o_.partition_start,
                            layout.metadata_mirror - o_.partition_start, layout.metadata_bitmap - o_.partition_start)};
            break;
    }
    layout.lvd = layout.main_vds + 3;
    auto sequence = [&](uint32_t at) {
        WritePvd(image_.At(at), at, o_.label, o_.recorded);
        WriteIuvd(image_.At(at + 1), at + 1);
        WritePd(image_.At(at + 2), at + 2, o_.partition_number, o_.partition_start, plength, use_ad, bitmap_ad);
        WriteLvdMaps(image_.At(at + 3), at + 3, {static_cast<uint32_t>(sets + 1) * kSector, 0, IcbRef()},
                     {2 * kSector, layout.integrity}, maps);
        WriteUsd(image_.At(at + 4), at + 4, o_.free_extents);
        WriteTd(image_.At(at + 5), at + 5);
    };
    sequence(layout.main_vds);
    if (o_.reserve) sequence(layout.reserve_vds);
    DescribeForPeers();

    // Anchors.
    image_.At(total - 1);
    layout.anchor_last = total - 1;
    layout.anchor_last256 = total - 257;
    const std::array<uint32_t, 2> main{16 * kSector, layout.main_vds};
    const std::array<uint32_t, 2> reserve = o_.reserve_same ? main
                                            : o_.reserve    ? std::array<uint32_t, 2>{16 * kSector, layout.reserve_vds}
                                                            : std::array<uint32_t, 2>{0, 0};
    if (o_.anchor_first) WriteAvdp(image_.At(256), 256, main, reserve);
    // A virtual partition ends with its VAT: the closing anchor is not written (as on a disc left open).
    if (o_.anchor_last && o_.mapping != UdfMapping::Virtual) WriteAvdp(image_.At(total - 1), total - 1, main, reserve);
    if (o_.anchor_last256 && o_.mapping != UdfMapping::Virtual)
        WriteAvdp(image_.At(total - 257), total - 257, main, reserve);
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

std::map<std::string, std::string> UdfFileContents(const UdfNode &folder, const std::string &path) {
    std::map<std::string, std::string> out;
    for (const UdfNode &c : folder.children) {
        if (c.directory) {
            out.merge(UdfFileContents(c, path + Utf8(c.name) + "\\"));
        } else if (!c.data.empty()) {
            out[path + Utf8(c.name)] = c.newer_data.empty() ? c.data : c.newer_data;
        }
    }
    return out;
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

std::string PatternText(size_t n, uint32_t seed) {
    const std::vector<uint8_t> bytes = Pattern(n, seed);
    return std::string(bytes.begin(), bytes.end());
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

std::vector<uint8_t> Type1Map(uint16_t number) {
    std::vector<uint8_t> m(6, 0);
    m[0] = 1;
    m[1] = 6;
    Put16(m.data() + 2, 1);
    Put16(m.data() + 4, number);
    return m;
}

std::vector<uint8_t> Type2Map(const char *identifier, uint16_t number) {
    std::vector<uint8_t> m(64, 0);
    m[0] = 2;
    m[1] = 64;
    std::memcpy(m.data() + 5, identifier, std::min<size_t>(std::strlen(identifier), 23));
    Put16(m.data() + 28, 0x0250);  // identifier suffix: UDF revision
    Put16(m.data() + 36, 1);
    Put16(m.data() + 38, number);
    return m;
}

std::vector<uint8_t> SparableMap(uint16_t number, uint16_t packet, const std::vector<uint32_t> &tables, uint32_t size) {
    std::vector<uint8_t> m = Type2Map("*UDF Sparable Partition", number);
    Put16(m.data() + 40, packet);
    m[42] = static_cast<uint8_t>(std::min<size_t>(tables.size(), 4));
    Put32(m.data() + 44, size);
    for (size_t i = 0; i < tables.size() && i < 4; ++i) Put32(m.data() + 48 + 4 * i, tables[i]);
    return m;
}

std::vector<uint8_t> MetadataMap(uint16_t number, uint32_t file, uint32_t mirror, uint32_t bitmap) {
    std::vector<uint8_t> m = Type2Map("*UDF Metadata Partition", number);
    Put32(m.data() + 40, file);
    Put32(m.data() + 44, mirror);
    Put32(m.data() + 48, bitmap);
    Put32(m.data() + 52, 32);  // allocation unit size
    Put16(m.data() + 56, 1);   // alignment unit size
    return m;
}

void WriteLvdMaps(uint8_t *d, uint32_t location, std::array<uint32_t, 3> fsd_ad, std::array<uint32_t, 2> integrity,
                  const std::vector<std::vector<uint8_t>> &maps) {
    Put32(d + 212, kSector);
    std::memcpy(d + 216 + 1, "*OSTA UDF Compliant", 19);
    PutLongAd(d + 248, fsd_ad);
    uint32_t at = 440;
    for (const auto &map : maps) {
        std::memcpy(d + at, map.data(), map.size());
        at += static_cast<uint32_t>(map.size());
    }
    Put32(d + 264, at - 440);
    Put32(d + 268, static_cast<uint32_t>(maps.size()));
    Put32(d + 432, integrity[0]);
    Put32(d + 436, integrity[1]);
    FinishTag(d, 6, location, at);
}

void WriteLvd(uint8_t *d, uint32_t location, std::array<uint32_t, 3> fsd_ad, std::array<uint32_t, 2> integrity,
              const std::vector<int> &maps) {
    std::vector<std::vector<uint8_t>> recorded;
    for (int map : maps)
        recorded.push_back(map >= 0 ? Type1Map(static_cast<uint16_t>(map)) : std::vector<uint8_t>(64, 0));
    for (auto &map : recorded)
        if (map.size() == 64) map[0] = 2, map[1] = 64;
    WriteLvdMaps(d, location, fsd_ad, integrity, recorded);
}

void WriteSparingTable(uint8_t *d, uint32_t location, uint32_t sequence,
                       const std::vector<std::array<uint32_t, 2>> &entries) {
    std::memset(d, 0, kSector);
    std::memcpy(d + 17, "*UDF Sparing Table", 18);
    Put16(d + 48, static_cast<uint32_t>(entries.size()));
    Put32(d + 52, sequence);
    for (size_t i = 0; i < entries.size(); ++i) {
        Put32(d + 56 + 8 * i, entries[i][0]);
        Put32(d + 60 + 8 * i, entries[i][1]);
    }
    FinishTag(d, 0, location, static_cast<uint32_t>(56 + 8 * entries.size()));
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
