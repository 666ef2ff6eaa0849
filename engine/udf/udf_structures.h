// ECMA-167 / OSTA UDF structures as this reader uses them, each parsed once from the bytes read. Clause
// numbers are ECMA-167's (part/clause).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/byte_view.h"
#include "model/instant.h"

namespace qorvex::udf {

// 3/7.2.1 tag identifiers.
enum TagId : uint16_t {
    kTagEmpty = 0,
    kTagPvd = 1,
    kTagAvdp = 2,
    kTagVdp = 3,
    kTagIuvd = 4,
    kTagPd = 5,
    kTagLvd = 6,
    kTagUsd = 7,
    kTagTd = 8,
    kTagLvid = 9,
    kTagFsd = 256,
    kTagFid = 257,
    kTagIe = 259,
    kTagFe = 261,
    kTagUse = 263,
    kTagSbd = 264,
    kTagEfe = 266,
};

constexpr size_t kTagSize = 16;
constexpr size_t kDescriptorBlock = 512;  // the size listed for a one-block descriptor

// CRC-CCITT as ECMA-167 uses it (3/7.2.6): polynomial 0x1021, initial value 0, no final XOR, MSB first.
uint16_t Crc16(const uint8_t *data, size_t n, uint16_t crc = 0);

// 3/7.2: the descriptor tag.
struct Tag {
    uint16_t identifier = 0;  // RBP 0
    uint16_t crc = 0;         // RBP 8
    uint16_t crc_length = 0;  // RBP 10
    uint32_t location = 0;    // RBP 12

    static Tag Parse(ByteView bytes);
};

// The descriptor test: the CRC over the CRC-length bytes after the tag equals the stored one; a tag or CRC
// range running past the bytes really read fails it.
bool DescriptorCrcOk(ByteView bytes);

// The CRCs of many windows of one buffer, as a walk that tests a descriptor at every few bytes needs: a window
// of n bytes costs n bytes of CRC work when short, and at most 510 bytes and a few multiplications when long,
// once one pass as far as the windows reach has kept the CRC of every 256th prefix. Then CRC(a..b) = CRC(0..b) xor
// CRC(0..a) x^(8(b-a)) mod the polynomial, since the CRC starts at 0 and has no final XOR.
class WindowCrc {
public:
    explicit WindowCrc(ByteView data) : data_(data) {}
    ByteView Data() const { return data_; }
    // Crc16 of the n bytes from `from`, which are held.
    uint16_t Of(size_t from, size_t n);

private:
    uint16_t Prefix(size_t end) const;

    ByteView data_;
    std::vector<uint16_t> marks_;  // [k]: the CRC of the first 256 k bytes
};

// DescriptorCrcOk for the descriptor at `at` of the buffer.
bool DescriptorCrcOk(WindowCrc &crcs, size_t at);

inline uint16_t TagIdentifier(ByteView bytes) {
    return bytes.U16le(0);
}

// Low 30 bits of an allocation descriptor length are bytes; the top 2 bits are the extent type (4/14.14.1.1).
constexpr uint32_t kAdLengthMask = 0x3FFFFFFF;
constexpr uint32_t kAdTypeContinuation = 3;

// 3/7.1 extent_ad: a run of sectors of the volume.
struct ExtentAd {
    uint32_t length = 0;    // RBP 0
    uint32_t location = 0;  // RBP 4
    static ExtentAd Parse(ByteView bytes, size_t at) { return {bytes.U32le(at), bytes.U32le(at + 4)}; }
};

// 4/7.1 lb_addr and the allocation descriptors 4/14.14.1 short_ad, 4/14.14.2 long_ad, 4/14.14.3 ext_ad, all
// read into one form: length (with its type bits), block, partition reference.
struct LongAd {
    uint32_t length = 0;
    uint32_t block = 0;
    uint16_t partition = 0;
    uint32_t Bytes() const { return length & kAdLengthMask; }
    uint32_t Type() const { return length >> 30; }

    static LongAd ParseShort(ByteView bytes, size_t at, uint16_t partition) {
        return {bytes.U32le(at), bytes.U32le(at + 4), partition};
    }
    static LongAd ParseLong(ByteView bytes, size_t at) {
        return {bytes.U32le(at), bytes.U32le(at + 4), bytes.U16le(at + 8)};
    }
    // ext_ad: extent length, recorded length, information length, extent location (lb_addr).
    static LongAd ParseExtended(ByteView bytes, size_t at) {
        return {bytes.U32le(at), bytes.U32le(at + 12), bytes.U16le(at + 16)};
    }
};

// Seconds since 1970 (UTC) of a 1/7.3 timestamp (12 bytes); 0 when the year is 0 or a field is out of range.
// The zone value -2047 ("no zone recorded") is taken as UTC.
int32_t TimestampToUnix(ByteView timestamp);
// The same as an instant (kNoDate for none), whatever its year.
int64_t TimestampInstant(ByteView timestamp);

// Decodes n bytes of CS0 (OSTA UDF 2.1.1; compression identifier included) into at most `capacity` units;
// returns the units written, or -1 when the identifier is neither 8 nor 16. Writes no terminator.
int32_t Cs0Decode(size_t n, const uint8_t *cs0, char16_t *out, size_t capacity);
// Multibyte text of decoded units, ending at the first zero unit.
std::string UnitsToText(const char16_t *units, size_t count);

// 3/10.2 Anchor Volume Descriptor Pointer.
struct AnchorPointer {
    Tag tag;
    ExtentAd main;     // RBP 16
    ExtentAd reserve;  // RBP 24
    static AnchorPointer Parse(ByteView bytes);
};

// 3/10.1 Primary Volume Descriptor.
struct PrimaryVolumeDescriptor {
    Tag tag;
    std::array<uint8_t, 32> volume_identifier{};  // RBP 24, dstring
    int64_t recorded = kNoDate;                   // RBP 376, recording date and time
    static PrimaryVolumeDescriptor Parse(ByteView bytes);
    // The label: the dstring decoded over its used length (its last byte), trailing blanks cut.
    std::string Label() const;
};

// 3/10.5 Partition Descriptor, with the 4/14.3 Partition Header Descriptor of its contents use.
struct PartitionDescriptor {
    Tag tag;
    uint16_t number = 0;        // RBP 22
    LongAd unallocated_table;   // RBP 56 (header 0), short_ad
    LongAd unallocated_bitmap;  // RBP 64 (header 8), short_ad
    uint32_t start = 0;         // RBP 188, partition starting location
    uint32_t length = 0;        // RBP 192
    static PartitionDescriptor Parse(ByteView bytes);
};

// 3/10.7.2 Type 1 Partition Map.
struct PartitionMap {
    uint8_t type = 0;               // RBP 0
    uint8_t length = 0;             // RBP 1
    uint16_t partition_number = 0;  // RBP 4
    static PartitionMap Parse(ByteView bytes, size_t at);
};

// 3/10.7 partition maps of every type, with the type 2 forms of UDF 2.2.8 (virtual), 2.2.9 (sparable) and
// 2.2.10 (metadata). A type 2 map of another identifier is kUnknown: a reference to it cannot be resolved.
enum class MapKind : uint8_t { kPhysical, kVirtual, kSparable, kMetadata, kUnknown };

struct AnyPartitionMap {
    static constexpr uint32_t kNoLocation = 0xFFFFFFFF;
    MapKind kind = MapKind::kUnknown;
    uint8_t type = 0;               // RBP 0
    uint8_t length = 0;             // RBP 1
    uint16_t partition_number = 0;  // type 1 RBP 4, type 2 RBP 38
    // Sparable
    uint16_t packet_length = 0;        // RBP 40
    uint8_t table_count = 0;           // RBP 42
    uint32_t table_size = 0;           // RBP 44
    std::array<uint32_t, 4> tables{};  // RBP 48
    // Metadata
    uint32_t metadata_file = kNoLocation;  // RBP 40
    uint32_t mirror_file = kNoLocation;    // RBP 44
    uint32_t bitmap_file = kNoLocation;    // RBP 48
    static AnyPartitionMap Parse(ByteView map);
};

// 3/10.6 Logical Volume Descriptor.
struct LogicalVolumeDescriptor {
    static constexpr size_t kMapsOffset = 440;
    Tag tag;
    LongAd file_set;                        // RBP 248, logical volume contents use
    uint32_t map_table_length = 0;          // RBP 264
    uint32_t map_count = 0;                 // RBP 268
    ExtentAd integrity;                     // RBP 432
    std::vector<PartitionMap> maps;         // RBP 440: the type 1 maps up to the first other one
    std::vector<AnyPartitionMap> all_maps;  // RBP 440: every map the table holds, by its own length
    static LogicalVolumeDescriptor Parse(ByteView bytes);
};

// 3/10.8 Unallocated Space Descriptor.
struct UnallocatedSpaceDescriptor {
    Tag tag;
    uint32_t count = 0;             // RBP 20
    std::vector<ExtentAd> extents;  // RBP 24: those held by the bytes read
    static UnallocatedSpaceDescriptor Parse(ByteView bytes);
};

// 3/10.3 Volume Descriptor Pointer.
struct VolumeDescriptorPointer {
    Tag tag;
    ExtentAd next;  // RBP 20
    static VolumeDescriptorPointer Parse(ByteView bytes) { return {Tag::Parse(bytes), ExtentAd::Parse(bytes, 20)}; }
};

// 3/10.10 Logical Volume Integrity Descriptor.
struct IntegrityDescriptor {
    Tag tag;
    int64_t recorded = kNoDate;          // RBP 16
    ExtentAd next;                       // RBP 32
    uint32_t partition_count = 0;        // RBP 72
    uint32_t implementation_length = 0;  // RBP 76
    static IntegrityDescriptor Parse(ByteView bytes);
    uint64_t Size() const { return 80ull + 8ull * partition_count + implementation_length; }
};

// 4/14.1 File Set Descriptor.
struct FileSetDescriptor {
    Tag tag;
    int64_t recorded = kNoDate;  // RBP 16
    LongAd root;                 // RBP 400, root directory ICB
    LongAd next;                 // RBP 448, next extent
    static FileSetDescriptor Parse(ByteView bytes);
};

// 4/14.6 ICB tag file types used here, with UDF 2.3.5.2's.
constexpr uint8_t kFileTypeUnspecified = 0;
constexpr uint8_t kFileTypeDirectory = 4;
constexpr uint8_t kFileTypeStreamDirectory = 13;
constexpr uint8_t kFileTypeVat = 248;
constexpr uint8_t kFileTypeMetadata = 250;
constexpr uint8_t kFileTypeMetadataMirror = 251;
constexpr uint8_t kFileTypeMetadataBitmap = 252;
// 4/14.6.2 strategy 4096 (UDF 2.3.5.1): the entry, then at the next block a newer entry or an indirect entry.
constexpr uint16_t kStrategyTwoEntries = 4096;

// 4/14.9 File Entry and 4/14.17 Extended File Entry (the fields this reader uses; RBP of the FE, then the
// EFE's where it differs).
struct FileEntry {
    static constexpr size_t kFixedSize = 176;
    static constexpr size_t kExtendedFixedSize = 216;
    Tag tag;
    bool extended = false;            // tag 266
    uint16_t strategy = 0;            // RBP 20 (ICB tag RBP 4)
    uint8_t file_type = 0;            // RBP 27 (ICB tag RBP 11)
    uint8_t ad_type = 0;              // RBP 34 (ICB tag flags, low 3 bits)
    uint64_t information_length = 0;  // RBP 56
    int64_t modified = kNoDate;       // RBP 84 / 92
    uint64_t unique_id = 0;           // RBP 160 / 200
    uint32_t ea_length = 0;           // RBP 168 / 208
    uint32_t ad_length = 0;           // RBP 172 / 212
    static FileEntry Parse(ByteView bytes);
    size_t FixedSize() const { return extended ? kExtendedFixedSize : kFixedSize; }
    uint64_t AdStart() const { return FixedSize() + uint64_t(ea_length); }
};

// 4/14.7 Indirect Entry: the ICB it names continues the strategy 4096 chain.
struct IndirectEntry {
    Tag tag;
    LongAd next;  // RBP 36
    static IndirectEntry Parse(ByteView bytes) { return {Tag::Parse(bytes), LongAd::ParseLong(bytes, 36)}; }
};

// UDF 2.2.11 Virtual Allocation Table: the entries that map virtual blocks to blocks of the physical
// partition, from the 2.00 header form or the 1.50 form (entries, then the identifier and the previous VAT).
constexpr uint32_t kVatUnused = 0xFFFFFFFF;
constexpr size_t kVat150Trailer = 36;
// True, with the byte range of the entries, when `data` (the VAT file's bytes) is a VAT of that form.
bool VatEntries(ByteView data, bool form150, size_t &first, size_t &count);

// UDF 2.2.12 Sparing Table.
struct SparingTable {
    Tag tag;
    uint16_t entry_count = 0;                               // RBP 48, reallocation table length
    uint32_t sequence = 0;                                  // RBP 52
    std::vector<std::array<uint32_t, 2>> entries;           // RBP 56: (original, mapped), those held by the bytes read
    static constexpr uint32_t kFirstUnmapped = 0xFFFFFFF0;  // from here on an original location is not spared
    // Parses and checks the identifier "*UDF Sparing Table"; false when it is not one.
    static bool Parse(ByteView bytes, SparingTable &out);
    uint64_t Size() const { return 56ull + 8ull * entry_count; }
};

// 4/14.4 File Identifier Descriptor.
struct FileIdentifier {
    static constexpr size_t kFixedSize = 38;
    Tag tag;
    uint8_t characteristics = 0;         // RBP 18
    uint8_t identifier_length = 0;       // RBP 19
    LongAd icb;                          // RBP 20
    uint16_t implementation_length = 0;  // RBP 36
    static FileIdentifier Parse(ByteView bytes);
    size_t IdentifierAt() const { return kFixedSize + implementation_length; }
    // The descriptor's whole length, padded to four bytes (4/14.4.9).
    size_t RecordedLength() const { return (IdentifierAt() + identifier_length + 3) & ~size_t(3); }
};

// 4/14.4.3 file characteristics.
constexpr uint8_t kFidHidden = 0x01;
constexpr uint8_t kFidDirectory = 0x02;
constexpr uint8_t kFidDeleted = 0x04;

// 4/14.11 Unallocated Space Entry and 4/14.12 Space Bitmap Descriptor.
struct SpaceEntry {
    Tag tag;
    uint32_t ad_length = 0;  // RBP 36
    static SpaceEntry Parse(ByteView bytes) { return {Tag::Parse(bytes), bytes.U32le(36)}; }
    uint64_t Size() const { return 40ull + ad_length; }
};
struct SpaceBitmap {
    Tag tag;
    uint32_t bytes = 0;  // RBP 20, number of bytes
    static SpaceBitmap Parse(ByteView bytes) { return {Tag::Parse(bytes), bytes.U32le(20)}; }
    uint64_t Size() const { return 24ull + bytes; }
};

}  // namespace qorvex::udf
