// Line and word splitting shared by the text sheet formats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qorvex::sheets {

// The lines of a sheet without their CR LF / LF ends; a UTF-8 byte order mark in front is dropped.
std::vector<std::string_view> SplitLines(std::string_view text);
// The words of a line: runs of non-blanks, or "quoted text" without its quotes. A quote left open runs to the
// line's end.
std::vector<std::string> SplitWords(std::string_view line);
// The word in upper case (ASCII only).
std::string Upper(std::string_view word);
// "mm:ss:ff" as a count of frames (75 a second); -1 when malformed.
int64_t ParseMsf(std::string_view text);
// A decimal number of at most 9 digits; -1 when malformed.
int64_t ParseNumber(std::string_view text);

}  // namespace qorvex::sheets
