// What the peer programs read from an image (7-Zip, bsdtar, xorriso, udfinfo, udfclient, cd-info), parsed from
// their output into maps the interop tests compare with the engine's own listing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace qorvex::test {

// True when any of these programs is not installed: the comparisons with them are skipped.
bool MissingAny(std::initializer_list<const char *> programs);

// Single-quoted for the shell, quotes inside escaped.
std::string Quote(const std::string &s);
// Every occurrence of `key` replaced by `value`.
std::string Replace(std::string text, const std::string &key, const std::string &value);
// An engine name as a peer writes it: "\DIR\FILE.TXT;1" -> "DIR/FILE.TXT", "\a\b\" -> "a/b".
std::string PortablePath(std::string name);

// The TZ variable set for the life of the object (and put back after), for the engine and the peers it runs.
class ScopedZone {
public:
    explicit ScopedZone(const char *zone);
    ~ScopedZone();
    ScopedZone(const ScopedZone &) = delete;
    ScopedZone &operator=(const ScopedZone &) = delete;

private:
    bool had_ = false;
    std::string old_;
};

// 7-Zip's technical listing ("7z l -slt"), read with its clock at UTC so that times compare as instants.
struct SevenZipItem {
    uint64_t size = 0;
    int64_t time = 0;
    bool folder = false;
    bool operator==(const SevenZipItem &o) const = default;
};
inline void PrintTo(const SevenZipItem &item, std::ostream *os) {
    *os << item.size << " bytes, time " << item.time << (item.folder ? ", folder" : "");
}
std::map<std::string, SevenZipItem> SevenZipList(const std::string &image, int *status = nullptr);
// The sizes of 7-Zip's [BOOT] entries, in its order (the boot catalogue's).
std::vector<uint64_t> SevenZipBootSizes(const std::string &image);

// A non-empty file as a peer extracts it.
struct PeerFile {
    uint64_t size = 0;
    int64_t modified = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const PeerFile &o) const = default;
};
// A file on the disk as a PeerFile: its bytes and modification time.
PeerFile Extracted(const std::string &path);
// The paths whose files differ ("+path": only in `b`), for a short failure message.
std::string Differences(const std::map<std::string, PeerFile> &a, const std::map<std::string, PeerFile> &b);
// 7-Zip's extraction into `scratch`/7z, and udfclient's (every folder listed, every file fetched with `get`).
std::map<std::string, PeerFile> SevenZipFiles(const std::string &image, const std::string &scratch);
std::map<std::string, PeerFile> UdfClientFiles(const std::string &image, const std::string &scratch);

// udfinfo's key=value lines, and its "start=N, blocks=M, type=T" lines as type -> starts.
struct UdfInfo {
    std::map<std::string, std::string> values;
    std::multimap<std::string, int32_t> areas;
};
UdfInfo RunUdfInfo(const std::string &image);
// The sorted values of `key`, or of every key starting with `key` when `prefix`.
std::vector<int32_t> Starts(const std::multimap<std::string, int32_t> &m, const std::string &key, bool prefix = false);

// An "ls -l" style entry of bsdtar's "tvf" or xorriso's "lsdl" listing.
struct LsItem {
    std::string mode;  // "drwxr-xr-x"
    uint64_t size = 0;
    std::string target;
    bool hard_link = false;  // bsdtar: "link to" another name, shown without its size
};
std::string ModeText(uint32_t mode);  // st_mode -> "-rw-r--r--"
std::map<std::string, LsItem> BsdtarList(const std::string &image);
// Without the relocation folder that xorriso shows left empty once its folders are back in place.
std::map<std::string, LsItem> XorrisoList(const std::string &image);

// `xorriso -report_el_torito plain`: the catalogue's block and one line per boot image.
struct XorrisoBootImage {
    std::string platform, emulation;
    bool bootable = false;
    uint64_t load_size = 0;  // 512-byte sectors
    uint32_t lba = 0;
    uint64_t disk_sectors = 0;  // "hdsiz/512" for hard-disk emulation
};
struct XorrisoBootReport {
    uint32_t catalogue = 0;
    std::vector<XorrisoBootImage> images;
};
XorrisoBootReport XorrisoElTorito(const std::string &image);

// cd-info's reading of a CUE sheet (or a Nero image, by its .nrg): track (170 for the lead-out) -> LSN; empty
// when cd-info fails. `output` receives what it wrote, for a failure message.
std::map<int, int> CdInfoStarts(const std::string &image, std::string *output);
// The start of each session xorriso reads from an image ("-toc").
std::vector<int> XorrisoSessionStarts(const std::string &image);
// genisoimage's volume of the folder `source` with `options`, written to `out` and read back (empty on failure,
// which the call also reports as a test failure).
std::vector<uint8_t> GenisoimageVolume(const std::string &source, const std::string &options, const std::string &out);

}  // namespace qorvex::test
