#include "support/iso_builder.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>

#include "utf8.h"

namespace qorvex::test {

namespace {

constexpr size_t kSector = 2048;

void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutBe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[3 - i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBoth16(uint8_t *p, uint16_t v) {
    PutLe16(p, v);
    PutBe16(p + 2, v);
}
void PutBoth32(uint8_t *p, uint32_t v) {
    PutLe32(p, v);
    PutBe32(p + 4, v);
}
uint32_t SectorsFor(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + kSector - 1) / kSector);
}

std::string Utf8(const std::u16string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[++i]) - 0xDC00);
        }
        host::AppendUtf8(out, static_cast<uint32_t>(c));
    }
    return out;
}

std::u16string JolietName(const IsoNode &node) {
    if (!node.joliet.empty()) return node.joliet;
    return std::u16string(node.name.begin(), node.name.end());
}

std::vector<uint8_t> Ucs2Be(const std::u16string &text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

struct Piece {
    uint32_t extent = 0;
    uint32_t length = 0;
    size_t offset = 0;  // into the node's data
};

// One record of a directory, before placement.
struct Entry {
    const IsoNode *node = nullptr;  // null for "." and ".."
    int self = 0;                   // 0 ".", 1 "..", 2 a child
    int dir = -1;                   // index into dirs for folders (and "." / "..")
    size_t piece = 0;               // which extent of a multi-extent file
};

struct Folder {
    const IsoNode *node = nullptr;  // null for the root
    int parent = 0;                 // index of the parent folder (the root is its own parent)
    std::string iso_path, joliet_path;
    std::vector<Entry> entries;
    std::vector<size_t> iso_offsets, joliet_offsets;  // record positions inside the folder's data
    uint32_t iso_extent = 0, iso_length = 0, joliet_extent = 0, joliet_length = 0;
};

std::vector<uint8_t> Identifier(const Entry &e, bool joliet) {
    if (e.self == 0) return {0};
    if (e.self == 1) return {1};
    if (joliet) return Ucs2Be(JolietName(*e.node));
    return std::vector<uint8_t>(e.node->name.begin(), e.node->name.end());
}

size_t RecordLength(size_t id_length, size_t system_use = 0) {
    return 33 + id_length + ((id_length & 1) ? 0 : 1) + system_use + (system_use & 1);
}

// The system use bytes of a record (ISO 9660 side only): a child's own, a folder's "." record's, the root's.
const std::vector<uint8_t> &SystemUse(const Entry &e, const IsoNode *folder, bool joliet,
                                      const std::vector<uint8_t> &root) {
    static const std::vector<uint8_t> none;
    if (joliet) return none;
    if (e.self == 2) return e.node->system_use;
    if (e.self == 0) return folder ? folder->self_system_use : root;
    return none;
}

// Places records so that none crosses a sector boundary; returns the data length (whole sectors).
uint32_t PlaceRecords(const std::vector<Entry> &entries, bool joliet, uint32_t padding, std::vector<size_t> &at,
                      const IsoNode *folder, const std::vector<uint8_t> &root_su) {
    size_t position = 0;
    at.clear();
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t length =
            RecordLength(Identifier(entries[i], joliet).size(), SystemUse(entries[i], folder, joliet, root_su).size());
        const size_t pad = i == 0 ? 0 : padding;
        if (position % kSector + pad + length > kSector) position += kSector - position % kSector;
        position += pad;
        at.push_back(position);
        position += length;
    }
    return SectorsFor(position) * static_cast<uint32_t>(kSector);
}

void WriteRecord(uint8_t *p, uint32_t extent, uint32_t length, const RecordingDate &date, uint8_t flags,
                 const std::vector<uint8_t> &id, const std::vector<uint8_t> &system_use = {}) {
    p[0] = static_cast<uint8_t>(RecordLength(id.size(), system_use.size()));
    if (!system_use.empty())
        std::memcpy(p + 33 + id.size() + ((id.size() & 1) ? 0 : 1), system_use.data(), system_use.size());
    PutBoth32(p + 2, extent);
    PutBoth32(p + 10, length);
    std::memcpy(p + 18, date.data(), 7);
    p[25] = flags;
    PutBoth16(p + 28, 1);
    p[32] = static_cast<uint8_t>(id.size());
    std::memcpy(p + 33, id.data(), id.size());
}

void PutPadded(uint8_t *p, size_t width, const std::string &text) {
    std::memset(p, ' ', width);
    std::memcpy(p, text.data(), std::min(width, text.size()));
}

}  // namespace

RecordingDate MakeDate(int year, int month, int day, int hour, int minute, int second, int offset15) {
    return {static_cast<uint8_t>(year - 1900),
            static_cast<uint8_t>(month),
            static_cast<uint8_t>(day),
            static_cast<uint8_t>(hour),
            static_cast<uint8_t>(minute),
            static_cast<uint8_t>(second),
            static_cast<uint8_t>(static_cast<int8_t>(offset15))};
}

IsoNode File(std::string name, std::vector<uint8_t> data) {
    IsoNode n;
    n.name = std::move(name);
    n.data = std::move(data);
    return n;
}

IsoNode File(std::string name, const std::string &text) {
    return File(std::move(name), std::vector<uint8_t>(text.begin(), text.end()));
}

IsoNode Dir(std::string name, std::vector<IsoNode> children) {
    IsoNode n;
    n.name = std::move(name);
    n.directory = true;
    n.children = std::move(children);
    return n;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

void IsoImage::Put16Both(size_t offset, uint16_t value) {
    PutBoth16(bytes.data() + offset, value);
}

void IsoImage::Put32Both(size_t offset, uint32_t value) {
    PutBoth32(bytes.data() + offset, value);
}

IsoImage BuildIso(const std::vector<IsoNode> &root_children, const IsoOptions &options) {
    std::vector<VolumeDescriptor> set = options.descriptors;
    if (set.empty()) {
        VolumeDescriptor d;
        set.push_back(d);
        d.type = 2;
        if (options.joliet) set.push_back(d);
        d.type = 255;
        set.push_back(d);
    }
    const bool any_joliet = std::any_of(set.begin(), set.end(), [](const VolumeDescriptor &d) { return d.type == 2; });

    // Folders breadth first (the path-table order), each with its records.
    IsoNode root_node;
    root_node.directory = true;
    root_node.children = root_children;
    std::vector<Folder> folders(1);
    folders[0].iso_path = folders[0].joliet_path = "\\";
    std::map<const IsoNode *, std::vector<Piece>> pieces;
    for (size_t f = 0; f < folders.size(); ++f) {
        const IsoNode &node = f == 0 ? root_node : *folders[f].node;
        folders[f].entries.push_back({nullptr, 0, static_cast<int>(f), 0});
        folders[f].entries.push_back({nullptr, 1, folders[f].parent, 0});
        for (const IsoNode &child : node.children) {
            if (child.directory) {
                Folder sub;
                sub.node = &child;
                sub.parent = static_cast<int>(f);
                sub.iso_path = folders[f].iso_path + child.name + "\\";
                sub.joliet_path = folders[f].joliet_path + Utf8(JolietName(child)) + "\\";
                folders[f].entries.push_back({&child, 2, static_cast<int>(folders.size()), 0});
                folders.push_back(std::move(sub));
            } else {
                std::vector<Piece> &list = pieces[&child];
                const size_t size = child.data.size();
                const size_t step = child.extent_size > 0 ? child.extent_size : std::max<size_t>(size, 1);
                for (size_t offset = 0; offset == 0 || offset < size; offset += step) {
                    Piece p;
                    p.offset = offset;
                    p.length = static_cast<uint32_t>(std::min(step, size - offset));
                    list.push_back(p);
                }
                for (size_t i = 0; i < list.size(); ++i) folders[f].entries.push_back({&child, 2, -1, i});
            }
        }
    }

    // Sector allocation.
    IsoImage image;
    uint32_t next = 16;
    for (size_t i = 0; i < set.size(); ++i) image.descriptor_sectors.push_back(next++);
    auto path_table = [&](bool joliet) {
        std::vector<uint8_t> table;
        std::vector<size_t> offsets;
        for (size_t f = 0; f < folders.size(); ++f) {
            std::vector<uint8_t> id = {0};
            if (f > 0)
                id = joliet ? Ucs2Be(JolietName(*folders[f].node))
                            : std::vector<uint8_t>(folders[f].node->name.begin(), folders[f].node->name.end());
            offsets.push_back(table.size());
            table.push_back(static_cast<uint8_t>(id.size()));
            table.push_back(0);
            table.resize(table.size() + 6);  // extent and parent are written once known
            table.insert(table.end(), id.begin(), id.end());
            if (id.size() & 1) table.push_back(0);
        }
        return std::make_pair(table, offsets);
    };
    auto [iso_table, iso_table_offsets] = path_table(false);
    auto [joliet_table, joliet_table_offsets] = path_table(true);
    image.iso_path_size = static_cast<uint32_t>(iso_table.size());
    image.iso_path_l = next, next += SectorsFor(iso_table.size());
    image.iso_path_m = next, next += SectorsFor(iso_table.size());
    if (any_joliet) {
        image.joliet_path_size = static_cast<uint32_t>(joliet_table.size());
        image.joliet_path_l = next, next += SectorsFor(joliet_table.size());
        image.joliet_path_m = next, next += SectorsFor(joliet_table.size());
    }
    for (Folder &f : folders) {
        f.iso_length =
            PlaceRecords(f.entries, false, options.record_padding, f.iso_offsets, f.node, options.root_system_use);
        f.iso_extent = next;
        next += f.iso_length / kSector;
    }
    if (any_joliet)
        for (Folder &f : folders) {
            f.joliet_length = PlaceRecords(f.entries, true, options.record_padding, f.joliet_offsets, f.node,
                                           options.root_system_use);
            f.joliet_extent = next;
            next += f.joliet_length / kSector;
        }
    // File data in tree order (depth first).
    std::vector<const IsoNode *> order;
    auto collect = [&](auto &&self, const IsoNode &node) -> void {
        for (const IsoNode &child : node.children) {
            if (child.directory)
                self(self, child);
            else
                order.push_back(&child);
        }
    };
    collect(collect, root_node);
    for (const IsoNode *file : order)
        for (Piece &p : pieces[file]) {
            p.extent = next;
            next += SectorsFor(p.length);
        }
    const uint32_t total = next + options.trailing_sectors;
    image.bytes.assign(static_cast<size_t>(total) * kSector, 0);
    uint8_t *bytes = image.bytes.data();

    // Directories.
    auto write_folder = [&](size_t index, bool joliet) {
        Folder &f = folders[index];
        const uint32_t base = joliet ? f.joliet_extent : f.iso_extent;
        const std::vector<size_t> &at = joliet ? f.joliet_offsets : f.iso_offsets;
        const RecordingDate own_date = f.node ? f.node->date : MakeDate(2020, 5, 6, 7, 8, 9);
        for (size_t i = 0; i < f.entries.size(); ++i) {
            const Entry &e = f.entries[i];
            uint8_t *p = bytes + static_cast<size_t>(base) * kSector + at[i];
            const std::vector<uint8_t> id = Identifier(e, joliet);
            if (e.self < 2 || e.node->directory) {
                const Folder &target = folders[static_cast<size_t>(e.dir)];
                const uint32_t extent = joliet ? target.joliet_extent : target.iso_extent;
                const uint32_t length = joliet ? target.joliet_length : target.iso_length;
                const RecordingDate date = e.self == 2 ? e.node->date : (target.node ? target.node->date : own_date);
                uint8_t flags = 0x02;
                if (e.self == 2 && e.node->hidden) flags |= 0x01;
                WriteRecord(p, extent, length, date, flags, id, SystemUse(e, f.node, joliet, options.root_system_use));
                if (e.self == 2) {
                    const std::string &path = joliet ? target.joliet_path : target.iso_path;
                    (joliet ? image.joliet : image.iso)[path] = {extent, length, static_cast<size_t>(p - bytes)};
                }
            } else {
                const std::vector<Piece> &list = pieces[e.node];
                const Piece &piece = list[e.piece];
                uint8_t flags = e.node->hidden ? 0x01 : 0x00;
                if (e.piece + 1 < list.size()) flags |= 0x80;
                WriteRecord(p, piece.extent, piece.length, e.node->date, flags, id,
                            SystemUse(e, f.node, joliet, options.root_system_use));
                if (e.piece == 0) {
                    const std::string path =
                        (joliet ? f.joliet_path + Utf8(JolietName(*e.node)) : f.iso_path + e.node->name);
                    (joliet ? image.joliet : image.iso)[path] = {piece.extent, piece.length,
                                                                 static_cast<size_t>(p - bytes)};
                }
            }
        }
    };
    for (size_t i = 0; i < folders.size(); ++i) {
        write_folder(i, false);
        if (any_joliet) write_folder(i, true);
    }

    // Path tables.
    auto finish_table = [&](std::vector<uint8_t> &table, const std::vector<size_t> &offsets, bool joliet, uint32_t l,
                            uint32_t m, std::vector<size_t> &record_offsets) {
        std::vector<uint8_t> big = table;
        for (size_t f = 0; f < folders.size(); ++f) {
            const uint32_t extent = joliet ? folders[f].joliet_extent : folders[f].iso_extent;
            const uint16_t parent = static_cast<uint16_t>(folders[f].parent + 1);
            PutLe32(table.data() + offsets[f] + 2, extent);
            PutLe16(table.data() + offsets[f] + 6, parent);
            PutBe32(big.data() + offsets[f] + 2, extent);
            PutBe16(big.data() + offsets[f] + 6, parent);
            record_offsets.push_back(static_cast<size_t>(l) * kSector + offsets[f]);
        }
        std::memcpy(bytes + static_cast<size_t>(l) * kSector, table.data(), table.size());
        std::memcpy(bytes + static_cast<size_t>(m) * kSector, big.data(), big.size());
    };
    finish_table(iso_table, iso_table_offsets, false, image.iso_path_l, image.iso_path_m, image.iso_path_records);
    if (any_joliet)
        finish_table(joliet_table, joliet_table_offsets, true, image.joliet_path_l, image.joliet_path_m,
                     image.joliet_path_records);

    // File data.
    for (const IsoNode *file : order)
        for (const Piece &p : pieces[file])
            if (p.length > 0)
                std::memcpy(bytes + static_cast<size_t>(p.extent) * kSector, file->data.data() + p.offset, p.length);

    // Descriptors.
    bool have_primary = false, have_joliet = false;
    for (size_t i = 0; i < set.size(); ++i) {
        const VolumeDescriptor &d = set[i];
        const uint32_t sector = image.descriptor_sectors[i];
        uint8_t *p = bytes + static_cast<size_t>(sector) * kSector;
        p[0] = d.type;
        std::memcpy(p + 1, "CD001", 5);
        p[6] = 1;
        if (d.type != 1 && d.type != 2) continue;
        const bool joliet = d.type == 2;
        PutPadded(p + 8, 32, "");
        if (joliet) {
            std::vector<uint8_t> id = Ucs2Be(options.joliet_volume_id);
            id.resize(32, 0);
            for (size_t k = options.joliet_volume_id.size() * 2; k + 1 < 32; k += 2) id[k + 1] = 0x20;
            std::memcpy(p + 40, id.data(), 32);
            std::memcpy(p + 88, d.escape.data(), 3);
            if (d.escape[3] != 0) p[91] = d.escape[3];
        } else {
            PutPadded(p + 40, 32, d.volume_id.empty() ? options.volume_id : d.volume_id);
        }
        PutBoth32(p + 80, total);
        PutBoth16(p + 120, 1);
        PutBoth16(p + 124, 1);
        PutBoth16(p + 128, d.block_size);
        const Folder &root = folders[0];
        if (joliet) {
            PutBoth32(p + 132, image.joliet_path_size);
            PutLe32(p + 140, image.joliet_path_l);
            PutBe32(p + 148, image.joliet_path_m);
            WriteRecord(p + 156, root.joliet_extent, root.joliet_length, MakeDate(2020, 5, 6, 7, 8, 9), 0x02, {0});
        } else {
            PutBoth32(p + 132, image.iso_path_size);
            PutLe32(p + 140, image.iso_path_l);
            PutBe32(p + 148, image.iso_path_m);
            WriteRecord(p + 156, root.iso_extent, root.iso_length, MakeDate(2020, 5, 6, 7, 8, 9), 0x02, {0});
        }
        PutPadded(p + 190, 128, "");
        PutPadded(p + 318, 128, "");
        PutPadded(p + 446, 128, "");
        PutPadded(p + 574, 128, "");
        PutPadded(p + 702, 37, "");
        PutPadded(p + 739, 37, "");
        PutPadded(p + 776, 37, "");
        std::string created = options.creation_date;
        created.resize(16, '0');
        std::memcpy(p + 813, created.data(), 16);
        p[829] = static_cast<uint8_t>(options.creation_offset);
        std::memcpy(p + 830, created.data(), 16);
        std::memset(p + 847, '0', 16);
        std::memset(p + 864, '0', 16);
        p[881] = 1;
        if (joliet && !have_joliet) {
            have_joliet = true;
            image.joliet["\\"] = {root.joliet_extent, root.joliet_length, static_cast<size_t>(sector) * kSector + 156};
        }
        if (!joliet && !have_primary) {
            have_primary = true;
            image.iso["\\"] = {root.iso_extent, root.iso_length, static_cast<size_t>(sector) * kSector + 156};
        }
    }
    return image;
}

}  // namespace qorvex::test
