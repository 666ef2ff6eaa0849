#include "sheets/cd_text.h"

#include <map>
#include <string>

#include "platform/file.h"

namespace qorvex::sheets {

namespace {
// Red Book CD-TEXT pack: type, track (bit 7: extension), sequence, block and character position (bit 7:
// double-byte characters, bits 4-6: block), 12 text bytes, CRC.
constexpr size_t kPackSize = 18;
constexpr size_t kHeaderSize = 4;
constexpr size_t kText = 4;
constexpr size_t kTextSize = 12;
constexpr uint8_t kTitle = 0x80;
constexpr uint8_t kPerformer = 0x81;
constexpr size_t kMaxText = 160;  // a real title is far shorter; a longer run is not text
constexpr char kSameAsBefore = '\t';
// 8 blocks of at most 256 packs each.
constexpr int64_t kMaxFileBytes = kHeaderSize + 8 * 256 * kPackSize;

// ISO 8859-1 to UTF-8.
std::string Utf8(const std::string &latin1) {
    std::string out;
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The texts of one pack type by track (0: the disc). Each text ends with a NUL; the pack's track field names
// the track of the first text that starts in it.
std::map<int, std::string> Texts(const ByteView &packs, uint8_t type) {
    std::map<int, std::string> texts;
    std::string pending, before;
    int track = -1;
    for (size_t at = 0; at + kPackSize <= packs.Size(); at += kPackSize) {
        const uint8_t position = packs.U8(at + 3);
        if (packs.U8(at) != type || (position & 0x80) || (position & 0x70)) continue;
        if (pending.empty()) track = packs.U8(at + 1) & 0x7F;
        for (size_t i = 0; i < kTextSize; ++i) {
            const char c = static_cast<char>(packs.U8(at + kText + i));
            if (c != 0) {
                if (pending.size() < kMaxText) pending += c;
                continue;
            }
            if (track >= 0 && track <= 99) {
                if (pending == std::string(1, kSameAsBefore)) pending = before;
                if (!pending.empty()) texts[track] = Utf8(pending);
                before = pending;
            }
            pending.clear();
            ++track;
        }
    }
    return texts;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}
}  // namespace

void ApplyCdText(ByteView packs, SheetDisc *disc) {
    if (packs.Size() >= kHeaderSize && (packs.Size() - kHeaderSize) % kPackSize == 0 &&
        packs.U16be(0) == packs.Size() - 2)
        packs = packs.From(kHeaderSize);
    for (uint8_t type : {kTitle, kPerformer}) {
        for (const auto &[track, text] : Texts(packs, type)) {
            std::string *field = nullptr;
            if (track == 0) {
                field = type == kTitle ? &disc->details.title : &disc->details.performer;
            } else {
                for (SheetTrack &t : disc->tracks)
                    if (t.number == track) field = type == kTitle ? &t.title : &t.performer;
            }
            if (field && field->empty()) *field = text;  // what the sheet says itself comes first
        }
    }
}

std::vector<uint8_t> ReadCdTextFile(const std::string &path) {
    const int64_t length = platform::FindFileLength(path);
    std::vector<uint8_t> bytes;
    platform::File file;
    if (length <= 0 || length > kMaxFileBytes || !file.OpenRead(path)) return bytes;
    bytes.resize(static_cast<size_t>(length));
    if (file.Read(bytes.data(), length) != length) bytes.clear();
    return bytes;
}

std::vector<uint8_t> PacksFromHexEntries(const std::vector<std::string> &entries) {
    std::vector<uint8_t> packs;
    for (const std::string &entry : entries) {
        std::vector<uint8_t> pack;
        for (size_t i = 0; i + 1 < entry.size() && pack.size() < kPackSize;) {
            const int high = Hex(entry[i]), low = Hex(entry[i + 1]);
            if (high < 0 || low < 0) {
                ++i;
                continue;
            }
            pack.push_back(static_cast<uint8_t>(high << 4 | low));
            i += 2;
        }
        if (pack.size() < kPackSize - 2) continue;  // not a pack
        pack.resize(kPackSize, 0);
        packs.insert(packs.end(), pack.begin(), pack.end());
    }
    return packs;
}

}  // namespace qorvex::sheets
