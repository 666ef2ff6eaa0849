// Shared pieces of the damaged-image suite: real images made at test time, what the engine lists from an
// intact image, and a bounded run of the engine on a damaged copy in a child process whose peak memory is
// measured and which a watchdog stops if it hangs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "qorvex.h"
#include "support/bytes.h"

namespace damaged {

// Growth of the child's peak resident set that any damaged image may cause. The images are at most a few
// MiB, so anything near this bound means a length or count from the image sized an allocation.
constexpr long kPeakBoundKib = 64 * 1024;
// A case that has not ended after this long is stopped and reported as a hang.
constexpr unsigned kWatchdogSeconds = 60;

// One entry of a catalogue, as the exports report it.
struct Entry {
    std::string name;
    int32_t kind = 0;
    uint64_t size = 0;
    int64_t start = 0;
    int64_t sectors = 0;
};

// The three file lists and system-part lists of track 0 of an image that opens, with the bytes of every file.
struct Listing {
    std::map<int32_t, std::vector<Entry>> files, parts;    // by kind 1, 2, 4
    std::map<std::string, std::vector<uint8_t>> contents;  // "<kind>:<name>" -> whole file
    const Entry &Part(int32_t kind, const std::string &name) const;
    const Entry &File(int32_t kind, const std::string &name) const;
};
Listing ListImage(const std::string &path, uint32_t options = 0);

// What a damaged image gave: the open result, the counts of files and parts per kind, and for every file of
// each kind the extraction result ("ok", "wrong data" against `Listing::contents`, or the code).
std::string Observe(const std::string &path, uint32_t options, const Listing *intact);

// The text Observe gives for an image that opens, starting from the intact image: everything listed, every
// file extracts whole. Each call takes away or changes what a damage reaches.
class Outcome {
public:
    explicit Outcome(const Listing &intact) : files_(intact.files), parts_(intact.parts) {}
    // The file system is not found at all.
    Outcome &Without(int32_t kind);
    // Files and parts whose path lies below `folder` (a path ending in "\") are gone.
    Outcome &Below(int32_t kind, const std::string &folder);
    Outcome &WithoutFile(int32_t kind, const std::string &name);
    // `count` more entries of the file right after its first one, each extracting with `outcome`.
    Outcome &WithMoreExtents(int32_t kind, const std::string &name, size_t count, const std::string &outcome);
    Outcome &Extracting(int32_t kind, const std::string &name, const std::string &outcome);
    // The file system lists `count` parts.
    Outcome &PartCount(int32_t kind, size_t count);
    std::string Text() const;

private:
    std::map<int32_t, std::vector<Entry>> files_, parts_;
    std::map<std::string, std::string> outcomes_;
};
// The result code as Observe writes it.
std::string Code(int32_t code);

struct Bounded {
    bool finished = false;  // the child ended normally (no crash, no watchdog)
    std::string what;       // its report, or how it ended
    long peak_kib = 0;      // growth of its peak resident set
};
// Runs `work` in a child process and returns what it reported.
Bounded RunBounded(const std::function<std::string()> &work);
// The same, as one text to compare with the expected report: the report when the child ended normally
// within kPeakBoundKib, else how it ended or by how much it went past the bound, before the report.
std::string RunWatched(const std::function<std::string()> &work);

// One row of a damage table: what it does to the image (edited in place) and the report expected after it.
struct DamageCase {
    std::string name;
    std::function<void()> damage;
    std::string expected;
};
// Each case damages a fresh copy of the image in `image`, which is written to `path` and observed under
// RunWatched; `image` holds the undamaged bytes again afterwards.
void RunDamageCases(std::vector<uint8_t> &image, const std::vector<DamageCase> &cases, const std::string &path,
                    const std::function<std::string()> &observe);

// "open 0x0000" when the image opens with these options (it is closed again), else "open <code>".
std::string OpenResult(const std::string &path, uint32_t options);
// What `report` says of the image opened with these options (closed after), or "open <code>" when it does
// not open.
std::string WithOpen(const std::string &path, uint32_t options, const std::function<std::string(QorvexHandle)> &report);
// Calls `visit` with each file (or system part) of `kind` in track 0, made the current entry of `h` first.
void ForEach(QorvexHandle h, int32_t kind, bool parts, const std::function<void(const EntryInfo &)> &visit);
// Data callback that appends what it is given to the std::vector<uint8_t> at `user`.
int32_t Collect(int32_t kind, void *user, const void *data, int32_t length);

// Bytes this process has read from files so far (rchar of /proc/self/io); -1 when unknown.
int64_t BytesRead();

// Real images: genisoimage / xorriso / mkudffs run in `dir`; empty when the tool is missing.
std::vector<uint8_t> MakeWithTool(const std::string &dir, const std::string &command_template);
// A small source tree: files of one and of several sectors in three folder levels.
void MakeSourceTree(const std::string &dir);

// Sector helpers over an image of 2048-byte sectors.
uint8_t *SectorAt(std::vector<uint8_t> &image, int64_t sector);
using qorvex::test::Get32Le;
using qorvex::test::Put16Le;
using qorvex::test::Put32Le;
void Put32Both(uint8_t *p, uint32_t v);
// Byte offset of the directory record named `name` (ISO 9660 identifier, e.g. "D" or "A.BIN;1") in the
// directory at `sector`, or -1.
int64_t FindRecord(const std::vector<uint8_t> &image, int64_t sector, const std::string &name);

}  // namespace damaged
