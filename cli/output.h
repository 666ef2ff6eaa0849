// Text the host prints: result codes, sector positions, dates, names, JSON and the progress line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// "0x8123 (the file is not a disc image that can be read, ...)"
std::string DescribeResult(int32_t code);

// Prints "qorvex: <what>: <DescribeResult(code)>" on stderr.
void ReportEngineError(const std::string &what, int32_t code);

// Seconds since 1970 (UTC) as ISO 8601 "YYYY-MM-DDTHH:MM:SSZ"; "-" for 0, which means no date.
std::string FormatDate(int32_t time);
// The same for a 64-bit date of any year; "-" without one.
std::string FormatInstant(bool has_date, int64_t seconds);

// With -v, results are shown with their code names ("0x8123 ENGINE_UNKNOWN_FORMAT: ...").
void SetVerbose(bool verbose);

// Position of the last "\" of an image path that is a character of its own (on Windows the second byte of a
// double-byte character of the ANSI code page may be 0x5C); npos when there is none.
size_t LastBackslash(std::string_view path);
// The length of the character at path[i]: 2 for a double-byte character of the ANSI code page on Windows, else 1.
size_t CharacterLength(std::string_view path, size_t i);

// A name from an image made safe for a terminal: control characters (C0, DEL, C1) and bytes that are not
// UTF-8 shown as "?".
std::string DisplayName(std::string_view name);
void AppendDisplayName(std::string &out, std::string_view name);

// A JSON string literal (with quotes). Bytes that are not valid UTF-8 become U+FFFD; *lossy tells whether any did.
std::string JsonString(std::string_view text, bool *lossy = nullptr);

std::string HexBytes(std::string_view bytes);

// Percentage and speed on stderr, only when stderr is a terminal and the run is not quiet (-q); drawn once an
// operation has run for a moment, so short ones print nothing.
class Progress {
public:
    static void SetQuiet(bool quiet);
    explicit Progress(uint64_t total);
    ~Progress();
    void Advance(uint64_t bytes);
    void Finish();
    // Whether the line is drawn at all (a terminal, not quiet).
    bool Shown() const { return enabled_; }

private:
    void Draw(bool force);
    bool enabled_;
    bool drawn_ = false;
    uint64_t total_;
    uint64_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace cli
