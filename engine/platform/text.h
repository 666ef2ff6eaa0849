// Text conversion between the system code page (UTF-8 on POSIX, the ANSI code page on Windows) and UTF-16, and the
// calendar conversion used for recorded dates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qorvex::platform {

// Selects the multibyte code page by its iconv name ("UTF-8" by default; "CP932" in tests). On Windows the
// default is the system ANSI code page (CP_ACP) and the names are "CP<number>", "<number>" or "UTF-8".
// Returns false and keeps the current one when the name is unknown.
bool SetCodePage(const std::string &name);
const std::string &CodePage();

// UTF-16 to the code page; characters the code page lacks become its default character "?".
// Unpaired surrogates count as such characters.
std::string Utf16ToMultiByte(std::u16string_view text);
// The same, appended to `out`.
void AppendMultiByte(std::u16string_view text, std::string &out);
// The code page to UTF-16; invalid byte sequences become U+FFFD.
std::u16string MultiByteToUtf16(std::string_view text);
// The same into `out`, cut after `capacity` units; the units written.
size_t MultiByteToUtf16(std::string_view text, char16_t *out, size_t capacity);

// Position of the last byte of `text` that is one of `bytes` and a character of its own in the code page, never
// the second byte of a double-byte character (in Shift_JIS "表" is 0x95 0x5C); npos when there is none.
size_t FindLastOf(std::string_view text, std::string_view bytes);

// Seconds since 1970 of a recorded calendar date whose fields are in the recorded zone, given as an
// offset in minutes east of UTC. Calendar fields are normalised as mktime would. Returns 0 (no date)
// when the instant cannot be held in a signed 32-bit count of seconds.
int32_t RecordedDateToUnix(int year, int month, int day, int hour, int minute, int second, int offset_minutes);
// The same instant as a 64-bit count, whatever its year.
int64_t RecordedDateToInstant(int year, int month, int day, int hour, int minute, int second, int offset_minutes);

}  // namespace qorvex::platform
