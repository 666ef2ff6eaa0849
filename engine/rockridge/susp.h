// The System Use Sharing Protocol (SUSP 1.12) entries of a directory record and the Rock Ridge entries
// (RRIP 1.09, 1.10 and 1.12) carried in them, parsed once into what one record says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/byte_view.h"
#include "model/instant.h"

namespace qorvex::rockridge {

// Bounds that keep a hostile system use area small.
constexpr size_t kMaxNameBytes = 1024;     // NM: POSIX allows 255; past this the ISO identifier is used
constexpr size_t kMaxLinkBytes = 4095;     // SL: PATH_MAX less its NUL; past this the link has no target
constexpr int32_t kMaxContinuations = 64;  // CE areas followed for one record

// SUSP 4.1: the head every entry starts with.
struct SuspEntry {
    uint16_t signature = 0;  // BP 1-2, as 'N' << 8 | 'M'
    uint8_t length = 0;      // BP 3
    uint8_t version = 0;     // BP 4
    ByteView data;           // BP 5 to the entry's end

    // The entry at the start of `bytes`; nullopt when no whole entry is held there.
    static std::optional<SuspEntry> Parse(ByteView bytes);
};

constexpr uint16_t Signature(char a, char b) {
    return static_cast<uint16_t>((static_cast<uint8_t>(a) << 8) | static_cast<uint8_t>(b));
}

// SUSP 5.1: where a system use field goes on.
struct ContinuationArea {
    uint32_t block = 0;   // BP 5-12
    uint32_t offset = 0;  // BP 13-20
    uint32_t length = 0;  // BP 21-28
    bool operator==(const ContinuationArea &) const = default;
};

// RRIP 4.1.4 time stamp order of the TF flags.
enum TfStamp { kTfCreation, kTfModify, kTfAccess, kTfAttributes, kTfBackup, kTfExpiration, kTfEffective };

// What the entries of one record (its field and the continuation areas read so far) say.
struct RecordInfo {
    // SUSP
    bool sp = false;       // SP with its check bytes (only valid first in the root's "." record)
    uint8_t skip = 0;      // SP's LEN_SKP
    bool rrip_er = false;  // an ER naming RRIP
    bool rrip = false;     // any Rock Ridge entry
    std::optional<ContinuationArea> continuation;  // the CE met last, not yet followed
    // RRIP
    bool has_px = false;
    uint32_t mode = 0, links = 0, uid = 0, gid = 0;
    bool has_serial = false;  // PX of 44 bytes (1.12)
    uint64_t serial = 0;
    bool has_pn = false;
    uint64_t device = 0;
    bool has_name = false, name_cut = false, name_special = false;  // special: NM CURRENT / PARENT / HOST
    std::string name;
    bool has_link = false, link_cut = false;
    std::string link;
    bool relocated = false;                                                               // RE
    std::optional<uint32_t> child;                                                        // CL
    std::optional<uint32_t> parent;                                                       // PL
    int64_t stamps[7] = {kNoDate, kNoDate, kNoDate, kNoDate, kNoDate, kNoDate, kNoDate};  // by TfStamp
    bool zisofs = false;                                                                  // ZF "pz"
    uint64_t real_size = 0;

    // Parser state carried from one entry to the next (a name or link continued in the next NM / SL).
    bool link_separate = false;
};

// Reads the entries of one system use area (after any skip) into `info`; stops at ST or at the first byte that
// is not a whole entry. `root_self` allows SP (SUSP 5.3: first in the root's "." record only).
void ParseSystemUse(ByteView area, bool root_self, RecordInfo &info);

}  // namespace qorvex::rockridge
