#include "iso9660/iso_structures.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace qorvex::iso9660 {

namespace {
template <size_t N>
void CopyField(const ByteView &bytes, size_t offset, std::array<uint8_t, N> &field) {
    const ByteView part = bytes.Sub(offset, N);
    field.fill(0);
    std::copy(part.Data(), part.Data() + part.Size(), field.begin());
}
}  // namespace

DirectoryRecord DirectoryRecord::Parse(ByteView bytes) {
    DirectoryRecord r;
    r.length = bytes.U8(0);
    r.extended_length = bytes.U8(1);
    r.extent = bytes.U32le(2);
    r.data_length = bytes.U32le(10);
    CopyField(bytes, 18, r.date);
    r.flags = bytes.U8(25);
    r.identifier_length = bytes.U8(32);
    r.identifier = bytes.Sub(kDirectoryRecordFixed, r.identifier_length);
    // 9.1.12: a padding byte follows an identifier of even length.
    const size_t used = kDirectoryRecordFixed + r.identifier_length + ((r.identifier_length & 1) == 0 ? 1 : 0);
    if (r.length > used) r.system_use = bytes.Sub(used, r.length - used);
    return r;
}

PathTableRecord PathTableRecord::Parse(ByteView bytes) {
    PathTableRecord r;
    r.identifier_length = bytes.U8(0);
    r.extent = bytes.U32le(2);
    r.parent = bytes.U16le(6);
    r.identifier = bytes.Sub(kPathTableRecordFixed, r.identifier_length);
    return r;
}

VolumeDescriptor VolumeDescriptor::Parse(ByteView bytes, uint32_t sector) {
    VolumeDescriptor d;
    d.type = bytes.U8(0);
    CopyField(bytes, 40, d.volume_id);
    d.volume_space_size = bytes.U32le(80);
    CopyField(bytes, 88, d.escapes);
    d.block_size = bytes.U16le(128);
    d.path_table_size = bytes.U32le(132);
    d.path_table_size_m = bytes.U32be(136);
    d.path_table_l = bytes.U32le(140);
    d.path_table_m = bytes.U32be(148);
    CopyField(bytes, 156, d.root_record);
    CopyField(bytes, 813, d.created);
    d.sector = sector;
    return d;
}

int32_t VolumeDescriptor::UsableBlockSize(int32_t max_user_size) const {
    const int32_t b = block_size;
    if (b < 512 || (b & (b - 1)) != 0 || b > max_user_size || b > 2048) return 0;
    return b;
}

bool IsVolumeDescriptor(ByteView bytes) {
    return bytes.Matches(1, "CD001");
}

int64_t RecordingInstant(const uint8_t d[7]) {
    const bool zeros = std::all_of(d, d + 7, [](uint8_t c) { return c == 0; });
    const bool spaces = std::all_of(d, d + 7, [](uint8_t c) { return c == ' '; });
    if (zeros || spaces) return kNoDate;
    // Years since 1900, month, day, hour, minute, second, zone in 15-minute steps.
    return platform::RecordedDateToInstant(1900 + d[0], d[1], d[2], d[3], d[4], d[5], int8_t(d[6]) * 15);
}

int32_t RecordingDate(const uint8_t d[7]) {
    return Time32(RecordingInstant(d));
}

int32_t VolumeDate(const uint8_t d[17]) {
    return Time32(VolumeInstant(d));
}

int64_t VolumeInstant(const uint8_t d[17]) {
    if (std::all_of(d, d + 16, [](uint8_t c) { return c == 0; })) return kNoDate;
    if (d[0] < '0' || d[0] > '9' || std::memcmp(d, "0000", 4) == 0) return kNoDate;
    auto field = [&](size_t at, size_t width) {
        int value = 0;
        for (size_t i = at; i < at + width && d[i] >= '0' && d[i] <= '9'; ++i) value = value * 10 + (d[i] - '0');
        return value;
    };
    // YYYYMMDDHHMMSS, hundredths, zone in 15-minute steps.
    return platform::RecordedDateToInstant(field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2),
                                           field(12, 2), int8_t(d[16]) * 15);
}

}  // namespace qorvex::iso9660
