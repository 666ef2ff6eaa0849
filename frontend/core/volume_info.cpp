// The rows of the volume information dialog, read from the volume descriptors of the image.
#include <algorithm>
#include <cstring>

#include "document.h"
#include "string_table.h"
#include "text_format.h"
#include "utf8.h"

namespace lumast {
namespace {

uint32_t Le32(const uint8_t *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// A text ends at its first NUL (tools pad with NUL as well as with blanks), then trailing blanks are cut.
std::string UpToNul(std::string text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return TrimTrailingBlanks(text);
}

// An ISO 9660 text field as bytes.
std::string IsoText(const uint8_t *p, size_t length) {
    return UpToNul(std::string(reinterpret_cast<const char *>(p), length));
}

// A Joliet text field as big-endian two-byte characters. A field of single-byte blanks and zeros (what
// mastering tools leave in the application-use area) is empty, not a row of U+2020 daggers.
std::string JolietText(const uint8_t *p, size_t length) {
    if (std::all_of(p, p + length, [](uint8_t c) { return c == 0x20 || c == 0; })) return {};
    return UpToNul(Utf16BeToUtf8(p, length));
}

// ECMA-119 8.4.26.1 date: 16 digits and an offset from GMT in 15-minute units.
std::string IsoDate(const uint8_t *p) {
    auto digits = [p](size_t at, size_t n) { return std::string(reinterpret_cast<const char *>(p + at), n); };
    const int offset = static_cast<int8_t>(p[16]);
    const int magnitude = offset < 0 ? -offset : offset;
    return digits(0, 4) + "/" + digits(4, 2) + "/" + digits(6, 2) + " " + digits(8, 2) + ":" + digits(10, 2) + ":" +
           digits(12, 2) + "." + digits(14, 2) + (offset < 0 ? " -" : " +") +
           Format("%02d:%02d", magnitude / 4, magnitude * 15 % 60);
}

// ECMA-167 1/7.2.12 dstring: compression id 8 or 16, characters, trailing blanks cut.
std::string Dstring(const uint8_t *p, size_t field) {
    // The last byte of a dstring holds the used length.
    size_t used = p[field - 1];
    if (used == 0 || used > field - 1) used = field - 1;
    if (p[0] == 8) {
        std::string out;
        for (size_t i = 1; i < used; ++i) {
            if (p[i] == 0) break;
            host::AppendUtf8(out, p[i]);
        }
        return TrimTrailingBlanks(out);
    }
    if (p[0] == 16) return UpToNul(Utf16BeToUtf8(p + 1, used - 1));
    return {};
}

// ECMA-167 1/7.3 timestamp.
std::string UdfTimestamp(const uint8_t *p) {
    const uint16_t type_zone = Le16(p);
    int zone = type_zone & 0x0FFF;
    if (zone & 0x800) zone -= 0x1000;
    const int magnitude = zone < 0 ? -zone : zone;
    return Format("%04d/%02d/%02d %02d:%02d:%02d.%02d %c%02d:%02d", Le16(p + 2), p[4], p[5], p[6], p[7], p[8], p[9],
                  zone < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

std::string Version(uint16_t v) {
    return Format("%d.%02d", v >> 8, v & 0xFF);
}

}  // namespace

std::vector<VolumeInfoRow> CLumastDoc::FillVolumeInfo(int kind) {
    std::vector<VolumeInfoRow> rows;
    std::vector<uint8_t> block;
    auto add = [&rows](int label, std::string data) { rows.push_back({LoadString(label), std::move(data)}); };
    if (kind == KIND_ISO9660 || kind == KIND_JOLIET) {
        if (!ReadSystemPart(kind, kind == KIND_ISO9660 ? 5 : 15, &block)) return rows;
        const uint8_t *d = block.data();
        auto text = [&](size_t from, size_t to) {
            return kind == KIND_ISO9660 ? IsoText(d + from, to - from + 1) : JolietText(d + from, to - from + 1);
        };
        add(3450, text(8, 39));
        add(3451, text(40, 71));
        add(3452, GroupedNumber(Le32(d + 80)));
        add(3453, GroupedNumber(uint32_t(Le16(d + 120))));
        add(3454, GroupedNumber(uint32_t(Le16(d + 124))));
        add(3455, GroupedNumber(uint32_t(Le16(d + 128))));
        add(3456, text(190, 317));
        add(3457, text(318, 445));
        add(3458, text(446, 573));
        add(3459, text(574, 701));
        add(3460, text(702, 738));
        add(3461, text(739, 775));
        add(3462, text(776, 812));
        add(3463, IsoDate(d + 813));
        add(3464, IsoDate(d + 830));
        add(3465, IsoDate(d + 847));
        add(3466, IsoDate(d + 864));
        if (kind == KIND_ISO9660) {
            add(3467, UpToNul(std::string(reinterpret_cast<const char *>(d + 883), 512)));
        } else {
            add(3467, text(883, 1394));
        }
        return rows;
    }
    if (kind != KIND_UDF) return rows;
    if (!ReadSystemPart(KIND_UDF, 37, &block)) return rows;
    const uint8_t *d = block.data();
    add(3451, Dstring(d + 24, 32));
    add(3456, Dstring(d + 72, 128));
    add(3468, UdfTimestamp(d + 376));
    add(3469, UpToNul(std::string(reinterpret_cast<const char *>(d + 389), 23)));
    if (!ReadSystemPart(KIND_UDF, 44, &block)) return rows;
    d = block.data();
    add(3471, GroupedNumber(Le32(d + 84)));
    add(3472, GroupedNumber(Le32(d + 120)));
    add(3473, GroupedNumber(Le32(d + 124)));
    add(3474, Version(Le16(d + 128)));
    add(3475, Version(Le16(d + 130)));
    add(3476, Version(Le16(d + 132)));
    return rows;
}

bool CLumastDoc::ReadSystemPart(int kind, int32_t entry_kind, std::vector<uint8_t> *block) {
    if (!binding_.Loaded() || OpenOnDemand() != 0) return false;
    const EngineTable &e = binding_.Table();
    if (e.GetModuleStart(handle_, current_track_, kind) == 0) return false;
    EntryInfo entry{};
    bool found = false;
    int32_t more;
    do {
        more = e.GetNextModule(handle_, &entry);
        if (entry.kind == entry_kind) {
            found = true;
            break;
        }
    } while (more != 0);
    if (!found) return false;
    const uint64_t size = (uint64_t(entry.size_high) << 32) | entry.size_low;
    // Every offset read lies inside a zeroed block of at least 2048 bytes; a larger part is cut to 64 KiB.
    const size_t capacity = kind == KIND_UDF ? 2048 : static_cast<size_t>(std::clamp<uint64_t>(size, 2048, 65536));
    block->assign(capacity, 0);
    collect_buffer_ = block->data();
    byte_total_ = std::min<uint64_t>(size, capacity);
    delivered_ = 0;
    e.SetCallback(handle_, &CLumastDoc::CollectCallback, this);
    const int32_t result = e.ExtractCurrentModule(handle_, nullptr);
    collect_buffer_ = nullptr;
    return result == 0;
}

int32_t QORVEX_CALL CLumastDoc::CollectCallback(int32_t, void *user, const void *data, int32_t length) {
    if (!user) return 1;
    CLumastDoc *doc = static_cast<CLumastDoc *>(user);
    if (length < 0 || !doc->collect_buffer_ || uint64_t(doc->delivered_) + uint64_t(length) > doc->byte_total_)
        return 0;
    if (length > 0) std::memcpy(doc->collect_buffer_ + doc->delivered_, data, static_cast<size_t>(length));
    doc->delivered_ += static_cast<uint32_t>(length);
    return 1;
}

}  // namespace lumast
