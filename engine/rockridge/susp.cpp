#include "rockridge/susp.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "iso9660/iso_structures.h"

namespace qorvex::rockridge {

namespace {

// The entry offsets below count from BP 5 (the entry's data), as data offset = BP - 5.

// RRIP 4.1.3 SL component flags.
constexpr uint8_t kSlContinue = 0x01, kSlCurrent = 0x02, kSlParent = 0x04, kSlRoot = 0x08;
// RRIP 4.1.4 NM flags.
constexpr uint8_t kNmContinue = 0x01, kNmCurrent = 0x02, kNmParent = 0x04, kNmHost = 0x20;
constexpr uint8_t kTfLongForm = 0x80;

bool IsRripSignature(uint16_t s) {
    switch (s) {
        case Signature('P', 'X'):
        case Signature('P', 'N'):
        case Signature('S', 'L'):
        case Signature('N', 'M'):
        case Signature('C', 'L'):
        case Signature('P', 'L'):
        case Signature('R', 'E'):
        case Signature('T', 'F'):
        case Signature('R', 'R'):
        case Signature('S', 'F'):
        case Signature('Z', 'F'): return true;
        default: return false;
    }
}

void AppendBounded(std::string &text, std::string_view more, size_t bound, bool &cut) {
    if (cut) return;
    if (more.size() > bound - std::min(bound, text.size())) {
        cut = true;
        text.clear();
        return;
    }
    text.append(more);
}

// RRIP 4.1.1 PX: mode, links, uid, gid (and 1.12's serial), each both-endian.
void ParsePx(const SuspEntry &e, RecordInfo &info) {
    if (e.data.Size() < 32) return;
    info.has_px = true;
    info.mode = e.data.U32le(0);
    info.links = e.data.U32le(8);
    info.uid = e.data.U32le(16);
    info.gid = e.data.U32le(24);
    if (e.data.Size() >= 40) {
        info.has_serial = true;
        info.serial = e.data.U32le(32);
    }
}

// RRIP 4.1.2 PN: the device number's high and low halves.
void ParsePn(const SuspEntry &e, RecordInfo &info) {
    if (e.data.Size() < 16) return;
    info.has_pn = true;
    info.device = (uint64_t(e.data.U32le(0)) << 32) | e.data.U32le(8);
}

// RRIP 4.1.3 SL: component records, possibly continued across SL entries and inside a component.
void ParseSl(const SuspEntry &e, RecordInfo &info) {
    if (e.data.Size() < 1) return;
    if (!info.has_link) info.link_separate = false;
    info.has_link = true;
    const ByteView area = e.data.From(1);
    for (size_t i = 0; i + 2 <= area.Size() && !info.link_cut;) {
        const uint8_t flags = area.U8(i);
        const uint8_t length = area.U8(i + 1);
        const std::string_view content = area.Text(i + 2, length);
        if (content.size() < length) break;
        if (flags & kSlRoot) {
            // Only a first component names the root; a later one would make an absolute path of a part.
            if (info.link.empty()) {
                AppendBounded(info.link, "/", kMaxLinkBytes, info.link_cut);
                info.link_separate = false;
            }
        } else {
            if (info.link_separate) AppendBounded(info.link, "/", kMaxLinkBytes, info.link_cut);
            const std::string_view part = (flags & kSlCurrent) ? "." : (flags & kSlParent) ? ".." : content;
            AppendBounded(info.link, part, kMaxLinkBytes, info.link_cut);
            info.link_separate = (flags & kSlContinue) == 0;
        }
        i += 2 + length;
    }
}

// RRIP 4.1.4 NM: the name, possibly continued in the next NM.
void ParseNm(const SuspEntry &e, RecordInfo &info) {
    if (e.data.Size() < 1) return;
    const uint8_t flags = e.data.U8(0);
    info.has_name = true;
    if (flags & (kNmCurrent | kNmParent | kNmHost)) info.name_special = true;
    AppendBounded(info.name, e.data.Text(1, e.data.Size() - 1), kMaxNameBytes, info.name_cut);
    (void)kNmContinue;  // continued names are joined whether or not the flag says so, as readers do
}

// RRIP 4.1.6 TF: the stamps of the flags set, in TfStamp order, 7 bytes each or 17 in the long form.
void ParseTf(const SuspEntry &e, RecordInfo &info) {
    if (e.data.Size() < 1) return;
    const uint8_t flags = e.data.U8(0);
    const size_t width = (flags & kTfLongForm) ? 17 : 7;
    size_t at = 1;
    for (int bit = 0; bit < 7; ++bit) {
        if ((flags & (1u << bit)) == 0) continue;
        const ByteView stamp = e.data.Sub(at, width);
        if (stamp.Size() < width) return;
        at += width;
        if (width == 7) {
            std::array<uint8_t, 7> d{};
            std::copy_n(stamp.Data(), 7, d.begin());
            info.stamps[bit] = iso9660::RecordingInstant(d.data());
        } else {
            std::array<uint8_t, 17> d{};
            std::copy_n(stamp.Data(), 17, d.begin());
            info.stamps[bit] = iso9660::VolumeInstant(d.data());
        }
    }
}

// ZF (zisofs): algorithm "pz", header size, block size, and the real size.
void ParseZf(const SuspEntry &e, RecordInfo &info) {
    if (e.data.Size() < 12 || !e.data.Matches(0, "pz")) return;
    info.zisofs = true;
    info.real_size = e.data.U32le(4);
}

// SUSP 5.5 ER: an extension reference; the identifiers RRIP's versions use.
void ParseEr(const SuspEntry &e, RecordInfo &info) {
    const uint8_t id_length = e.data.U8(0);
    const std::string_view id = e.data.Text(4, id_length);
    if (id == "RRIP_1991A" || id == "IEEE_P1282" || id == "IEEE_1282") info.rrip_er = true;
}

}  // namespace

std::optional<SuspEntry> SuspEntry::Parse(ByteView bytes) {
    if (bytes.Size() < 4) return std::nullopt;
    SuspEntry e;
    e.signature = static_cast<uint16_t>((bytes.U8(0) << 8) | bytes.U8(1));
    e.length = bytes.U8(2);
    e.version = bytes.U8(3);
    if (e.length < 4 || e.length > bytes.Size()) return std::nullopt;
    e.data = bytes.Sub(4, e.length - 4u);
    return e;
}

void ParseSystemUse(ByteView area, bool root_self, RecordInfo &info) {
    for (size_t i = 0; i < area.Size();) {
        const std::optional<SuspEntry> entry = SuspEntry::Parse(area.From(i));
        if (!entry) return;
        const SuspEntry &e = *entry;
        if (IsRripSignature(e.signature)) info.rrip = true;
        switch (e.signature) {
            case Signature('S', 'P'):
                // SUSP 5.3: check bytes BE EF, then the skip length; only first in the root's "." record.
                if (root_self && i == 0 && e.data.Size() >= 3 && e.data.U8(0) == 0xBE && e.data.U8(1) == 0xEF) {
                    info.sp = true;
                    info.skip = e.data.U8(2);
                }
                break;
            case Signature('C', 'E'):
                if (e.data.Size() >= 24) info.continuation = {e.data.U32le(0), e.data.U32le(8), e.data.U32le(16)};
                break;
            case Signature('S', 'T'): return;  // SUSP 5.4: nothing after it is read
            case Signature('E', 'R'): ParseEr(e, info); break;
            case Signature('P', 'X'): ParsePx(e, info); break;
            case Signature('P', 'N'): ParsePn(e, info); break;
            case Signature('S', 'L'): ParseSl(e, info); break;
            case Signature('N', 'M'): ParseNm(e, info); break;
            case Signature('C', 'L'):
                if (e.data.Size() >= 8) info.child = e.data.U32le(0);
                break;
            case Signature('P', 'L'):
                if (e.data.Size() >= 8) info.parent = e.data.U32le(0);
                break;
            case Signature('R', 'E'): info.relocated = true; break;
            case Signature('T', 'F'): ParseTf(e, info); break;
            case Signature('Z', 'F'): ParseZf(e, info); break;
            default: break;  // PD padding, ES, RR's old flags, SF and unknown entries say nothing kept here
        }
        i += e.length;
    }
}

}  // namespace qorvex::rockridge
