#include "udf/udf_structures.h"

#include <algorithm>
#include <string_view>

#include "platform/text.h"

namespace qorvex::udf {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 8;
        for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        table[i] = static_cast<uint16_t>(c);
    }
    return table;
}

// Sixteen tables: entry [k][b] is the CRC of byte b followed by k zero bytes, so that 16 bytes fold in per step.
struct CrcTables {
    std::array<std::array<uint16_t, 256>, 16> t{};
    constexpr CrcTables() {
        t[0] = MakeCrcTable();
        for (size_t k = 1; k < 16; ++k)
            for (size_t i = 0; i < 256; ++i)
                t[k][i] = static_cast<uint16_t>((t[k - 1][i] << 8) ^ t[0][(t[k - 1][i] >> 8) & 0xFF]);
    }
};
constexpr CrcTables kCrc;

// a b mod the polynomial x^16 + x^12 + x^5 + 1, over GF(2).
constexpr uint16_t MulMod(uint16_t a, uint16_t b) {
    uint32_t p = 0;
    for (int bit = 0; bit < 16; ++bit)
        if ((b >> bit) & 1) p ^= uint32_t(a) << bit;
    for (int bit = 30; bit >= 16; --bit)
        if ((p >> bit) & 1) p ^= 0x11021u << (bit - 16);
    return static_cast<uint16_t>(p);
}

// [j]: x^(8 2^j) mod the polynomial, what a CRC is multiplied by when 2^j zero bytes follow.
struct ZeroPowers {
    std::array<uint16_t, 48> p{};
    constexpr ZeroPowers() {
        p[0] = 0x100;
        for (size_t j = 1; j < p.size(); ++j) p[j] = MulMod(p[j - 1], p[j - 1]);
    }
};
constexpr ZeroPowers kZeroPowers;

// The CRC `crc` carried on over n zero bytes.
uint16_t OverZeros(uint16_t crc, uint64_t n) {
    for (size_t j = 0; n != 0; ++j, n >>= 1)
        if (n & 1) crc = MulMod(crc, kZeroPowers.p[j]);
    return crc;
}

constexpr size_t kMarkStep = 256;
constexpr size_t kLongWindow = 1024;

}  // namespace

uint16_t Crc16(const uint8_t *data, size_t n, uint16_t crc) {
    const auto &t = kCrc.t;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const uint8_t *p = data + i;
        crc = static_cast<uint16_t>(t[15][((crc >> 8) ^ p[0]) & 0xFF] ^ t[14][(crc ^ p[1]) & 0xFF] ^ t[13][p[2]] ^
                                    t[12][p[3]] ^ t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^
                                    t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^
                                    t[0][p[15]]);
    }
    for (; i < n; ++i) crc = static_cast<uint16_t>(kCrc.t[0][((crc >> 8) ^ data[i]) & 0xFF] ^ (crc << 8));
    return crc;
}

Tag Tag::Parse(ByteView bytes) {
    Tag tag;
    tag.identifier = bytes.U16le(0);
    tag.crc = bytes.U16le(8);
    tag.crc_length = bytes.U16le(10);
    tag.location = bytes.U32le(12);
    return tag;
}

bool DescriptorCrcOk(ByteView bytes) {
    if (bytes.Size() < kTagSize) return false;
    const Tag tag = Tag::Parse(bytes);
    if (tag.crc_length > bytes.Size() - kTagSize) return false;
    return Crc16(bytes.Data() + kTagSize, tag.crc_length) == tag.crc;
}

uint16_t WindowCrc::Prefix(size_t end) const {
    const size_t k = end / kMarkStep;
    return Crc16(data_.Data() + k * kMarkStep, end - k * kMarkStep, marks_[k]);
}

uint16_t WindowCrc::Of(size_t from, size_t n) {
    if (n < kLongWindow) return Crc16(data_.Data() + from, n);
    // The marks are made as far as the windows reach, so a walk pays for the part of the buffer it tests.
    if (marks_.empty()) marks_.push_back(0);
    for (size_t end = (from + n) / kMarkStep; marks_.size() <= end;)
        marks_.push_back(Crc16(data_.Data() + (marks_.size() - 1) * kMarkStep, kMarkStep, marks_.back()));
    return static_cast<uint16_t>(Prefix(from + n) ^ OverZeros(Prefix(from), n));
}

bool DescriptorCrcOk(WindowCrc &crcs, size_t at) {
    const ByteView bytes = crcs.Data().From(at);
    if (bytes.Size() < kTagSize) return false;
    const Tag tag = Tag::Parse(bytes);
    if (tag.crc_length > bytes.Size() - kTagSize) return false;
    return crcs.Of(at + kTagSize, tag.crc_length) == tag.crc;
}

int32_t TimestampToUnix(ByteView t) {
    return Time32(TimestampInstant(t));
}

int64_t TimestampInstant(ByteView t) {
    if (!t.Has(0, 12)) return kNoDate;
    const int year = t.U16le(2);
    if (year == 0) return kNoDate;
    const int month = t.U8(4), day = t.U8(5), hour = t.U8(6), minute = t.U8(7), second = t.U8(8);
    // Fields a calendar cannot hold give no date rather than a normalised, wrong one.
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return kNoDate;
    int zone = t.U16le(0) & 0x0FFF;  // type and time zone: a signed 12-bit offset in minutes
    if (zone & 0x0800) zone -= 0x1000;
    if (zone == -2047) zone = 0;
    return platform::RecordedDateToInstant(year, month, day, hour, minute, second, zone);
}

int32_t Cs0Decode(size_t n, const uint8_t *cs0, char16_t *out, size_t capacity) {
    if (n == 0) return -1;
    const uint8_t id = cs0[0];
    if (id != 8 && id != 16) return -1;
    size_t count = 0;
    for (size_t i = 1; i < n && count < capacity;) {
        char16_t unit;
        if (id == 16) {
            unit = static_cast<char16_t>(cs0[i++] << 8);
            if (i < n) unit = static_cast<char16_t>(unit | cs0[i++]);
        } else {
            unit = cs0[i++];
        }
        out[count++] = unit;
    }
    return static_cast<int32_t>(count);
}

std::string UnitsToText(const char16_t *units, size_t count) {
    size_t end = 0;
    while (end < count && units[end] != 0) ++end;
    return platform::Utf16ToMultiByte(std::u16string_view(units, end));
}

AnchorPointer AnchorPointer::Parse(ByteView bytes) {
    return {Tag::Parse(bytes), ExtentAd::Parse(bytes, 16), ExtentAd::Parse(bytes, 24)};
}

PrimaryVolumeDescriptor PrimaryVolumeDescriptor::Parse(ByteView bytes) {
    PrimaryVolumeDescriptor d;
    d.tag = Tag::Parse(bytes);
    const ByteView id = bytes.Sub(24, 32);
    std::copy(id.Data(), id.Data() + id.Size(), d.volume_identifier.begin());
    d.recorded = TimestampInstant(bytes.Sub(376, 12));
    return d;
}

std::string PrimaryVolumeDescriptor::Label() const {
    // The dstring's last byte is its used length; a length that does not fit the field is ignored and the
    // text ends at the first zero unit instead.
    size_t used = volume_identifier[31];
    if (used == 0 || used > 31) used = 31;
    std::array<char16_t, 256> units{};
    const int32_t count = Cs0Decode(used, volume_identifier.data(), units.data(), units.size());
    if (count <= 0) return {};
    std::string label = UnitsToText(units.data(), static_cast<size_t>(count));
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

PartitionDescriptor PartitionDescriptor::Parse(ByteView bytes) {
    PartitionDescriptor d;
    d.tag = Tag::Parse(bytes);
    d.number = bytes.U16le(22);
    d.unallocated_table = LongAd::ParseShort(bytes, 56, 0);
    d.unallocated_bitmap = LongAd::ParseShort(bytes, 64, 0);
    d.start = bytes.U32le(188);
    d.length = bytes.U32le(192);
    return d;
}

PartitionMap PartitionMap::Parse(ByteView bytes, size_t at) {
    return {bytes.U8(at), bytes.U8(at + 1), bytes.U16le(at + 4)};
}

LogicalVolumeDescriptor LogicalVolumeDescriptor::Parse(ByteView bytes) {
    LogicalVolumeDescriptor d;
    d.tag = Tag::Parse(bytes);
    d.file_set = LongAd::ParseLong(bytes, 248);
    d.map_table_length = bytes.U32le(264);
    d.map_count = bytes.U32le(268);
    d.integrity = ExtentAd::Parse(bytes, 432);
    // Maps are taken six bytes apart; the walk stops at the first map of another type or at the end of the
    // bytes read.
    constexpr size_t kMapSize = 6;
    for (uint64_t i = 0; i < d.map_count && i < 0x10000; ++i) {
        const size_t at = kMapsOffset + kMapSize * static_cast<size_t>(i);
        if (!bytes.Has(at, kMapSize) || bytes.U8(at) != 1) break;
        d.maps.push_back(PartitionMap::Parse(bytes, at));
    }
    // Every map, within the bytes read: a type 1 map is six bytes whatever its length field says (as above),
    // any other takes its recorded length.
    const ByteView table = bytes.From(kMapsOffset);
    size_t at = 0;
    for (uint64_t i = 0; i < d.map_count && i < 0x10000 && table.Has(at, kMapSize); ++i) {
        const size_t length = table.U8(at) == 1 ? kMapSize : table.U8(at + 1);
        if (length < kMapSize || !table.Has(at, length)) break;
        d.all_maps.push_back(AnyPartitionMap::Parse(table.Sub(at, length)));
        at += length;
    }
    return d;
}

AnyPartitionMap AnyPartitionMap::Parse(ByteView map) {
    AnyPartitionMap m;
    m.type = map.U8(0);
    m.length = map.U8(1);
    if (m.type == 1) {
        m.kind = MapKind::kPhysical;
        m.partition_number = map.U16le(4);
        return m;
    }
    if (m.type != 2 || !map.Has(0, 64)) return m;
    // RBP 4: the partition type identifier (an entity identifier: flags, then 23 bytes of name).
    const std::string_view id = map.Text(5, 23);
    auto is = [&](std::string_view name) { return id.substr(0, name.size()) == name; };
    m.partition_number = map.U16le(38);
    if (is("*UDF Virtual Partition")) {
        m.kind = MapKind::kVirtual;
    } else if (is("*UDF Sparable Partition")) {
        m.kind = MapKind::kSparable;
        m.packet_length = map.U16le(40);
        m.table_count = map.U8(42);
        m.table_size = map.U32le(44);
        for (size_t i = 0; i < m.tables.size(); ++i) m.tables[i] = map.U32le(48 + 4 * i);
    } else if (is("*UDF Metadata Partition")) {
        m.kind = MapKind::kMetadata;
        m.metadata_file = map.U32le(40);
        m.mirror_file = map.U32le(44);
        m.bitmap_file = map.U32le(48);
    }
    return m;
}

UnallocatedSpaceDescriptor UnallocatedSpaceDescriptor::Parse(ByteView bytes) {
    UnallocatedSpaceDescriptor d;
    d.tag = Tag::Parse(bytes);
    d.count = bytes.Has(0, 24) ? bytes.U32le(20) : 0;
    // The count is bounded by the descriptors actually read.
    d.extents.reserve(std::min<uint64_t>(d.count, bytes.Size() > 24 ? (bytes.Size() - 24) / 8 : 0));
    for (uint64_t i = 0; i < d.count && bytes.Has(24 + 8 * i, 8); ++i)
        d.extents.push_back(ExtentAd::Parse(bytes, 24 + 8 * static_cast<size_t>(i)));
    return d;
}

IntegrityDescriptor IntegrityDescriptor::Parse(ByteView bytes) {
    IntegrityDescriptor d;
    d.tag = Tag::Parse(bytes);
    d.recorded = TimestampInstant(bytes.Sub(16, 12));
    d.next = ExtentAd::Parse(bytes, 32);
    d.partition_count = bytes.U32le(72);
    d.implementation_length = bytes.U32le(76);
    return d;
}

FileSetDescriptor FileSetDescriptor::Parse(ByteView bytes) {
    FileSetDescriptor d;
    d.tag = Tag::Parse(bytes);
    d.recorded = TimestampInstant(bytes.Sub(16, 12));
    d.root = LongAd::ParseLong(bytes, 400);
    d.next = LongAd::ParseLong(bytes, 448);
    return d;
}

FileEntry FileEntry::Parse(ByteView bytes) {
    FileEntry e;
    e.tag = Tag::Parse(bytes);
    e.extended = e.tag.identifier == kTagEfe;
    e.strategy = bytes.U16le(20);
    e.file_type = bytes.U8(27);
    e.ad_type = bytes.U8(34) & 7;
    e.information_length = bytes.U64le(56);
    e.modified = TimestampInstant(bytes.Sub(e.extended ? 92 : 84, 12));
    e.unique_id = bytes.U64le(e.extended ? 200 : 160);
    e.ea_length = bytes.U32le(e.extended ? 208 : 168);
    e.ad_length = bytes.U32le(e.extended ? 212 : 172);
    return e;
}

bool VatEntries(ByteView data, bool form150, size_t &first, size_t &count) {
    if (form150) {
        // Entries, then an entity identifier "*UDF Virtual Alloc Tbl" and the previous VAT's location.
        if (data.Size() < kVat150Trailer) return false;
        const size_t trailer = data.Size() - kVat150Trailer;
        if (!data.Matches(trailer + 1, "*UDF Virtual Alloc Tbl")) return false;
        first = 0;
        count = trailer / 4;
        return true;
    }
    // RBP 0 header length, RBP 2 implementation use length; entries after the header.
    constexpr size_t kHeaderFixed = 152;
    const size_t header = data.U16le(0);
    if (data.Overrun() || header < kHeaderFixed || header > data.Size() || header < kHeaderFixed + data.U16le(2))
        return false;
    first = header;
    count = (data.Size() - header) / 4;
    return true;
}

bool SparingTable::Parse(ByteView bytes, SparingTable &out) {
    if (!bytes.Has(0, 56) || !bytes.Matches(17, "*UDF Sparing Table")) return false;
    out.tag = Tag::Parse(bytes);
    out.entry_count = bytes.U16le(48);
    out.sequence = bytes.U32le(52);
    out.entries.clear();
    for (size_t i = 0; i < out.entry_count && bytes.Has(56 + 8 * i, 8); ++i)
        out.entries.push_back({bytes.U32le(56 + 8 * i), bytes.U32le(60 + 8 * i)});
    return true;
}

FileIdentifier FileIdentifier::Parse(ByteView bytes) {
    FileIdentifier f;
    f.tag = Tag::Parse(bytes);
    f.characteristics = bytes.U8(18);
    f.identifier_length = bytes.U8(19);
    f.icb = LongAd::ParseLong(bytes, 20);
    f.implementation_length = bytes.U16le(36);
    return f;
}

}  // namespace qorvex::udf
