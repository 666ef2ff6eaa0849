#include "output.h"

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "qorvex.h"
#include "qorvex_ext.h"

namespace cli {

namespace {

struct ResultText {
    int32_t code;
    const char *name;
    const char *meaning;
};

constexpr ResultText kResults[] = {
    {ENGINE_ABORTED, "ENGINE_ABORTED", "the operation was stopped"},
    {ENGINE_IMAGE_OPEN_FAILED, "ENGINE_IMAGE_OPEN_FAILED", "an image file could not be found or opened for reading"},
    {ENGINE_IMAGE_CLOSE_FAILED, "ENGINE_IMAGE_CLOSE_FAILED", "an image file could not be closed"},
    {ENGINE_SEEK_FAILED, "ENGINE_SEEK_FAILED",
     "positioning on a sector failed (outside the image, or no sector with the wanted address)"},
    {ENGINE_READ_FAILED, "ENGINE_READ_FAILED", "reading a sector failed"},
    {ENGINE_OUTPUT_OPEN_FAILED, "ENGINE_OUTPUT_OPEN_FAILED", "the output file could not be created"},
    {ENGINE_OUTPUT_CLOSE_FAILED, "ENGINE_OUTPUT_CLOSE_FAILED", "the output file could not be closed"},
    {ENGINE_WRITE_FAILED, "ENGINE_WRITE_FAILED", "writing the output file failed"},
    {ENGINE_NO_CURRENT_ENTRY, "ENGINE_NO_CURRENT_ENTRY", "there is no current entry"},
    {ENGINE_BAD_KIND, "ENGINE_BAD_KIND", "the selected file system is not ISO 9660, Joliet or UDF"},
    {ENGINE_UNKNOWN_FORMAT, "ENGINE_UNKNOWN_FORMAT",
     "the file is not a disc image that can be read, or a data track carries no readable file system"},
    {ENGINE_EDC_MISMATCH, "ENGINE_EDC_MISMATCH", "a sector failed its error detection code (EDC) check"},
    {ENGINE_NO_DATA_TRACK, "ENGINE_NO_DATA_TRACK", "the image has no data track"},
    {ENGINE_BAD_TRACK, "ENGINE_BAD_TRACK", "there is no track with that number"},
    {ENGINE_NEEDS_PARENT, "ENGINE_NEEDS_PARENT",
     "the CHD holds only its differences from a parent CHD, which is not read (make it whole with chdman copy)"},
};

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Sequence(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// True for a control character: C0, DEL, or C1 (two-byte UTF-8 U+0080..U+009F).
bool IsControl(std::string_view text, size_t i, size_t n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (n == 1) return c < 0x20 || c == 0x7F;
    return n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
}

bool verbose_results = false;

}  // namespace

void SetVerbose(bool verbose) {
    verbose_results = verbose;
}

std::string DescribeResult(int32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04" PRIX32, static_cast<uint32_t>(code));
    for (const auto &r : kResults)
        if (r.code == code)
            return verbose_results ? std::string(hex) + " " + r.name + ": " + r.meaning
                                   : std::string(r.meaning) + " (" + hex + ")";
    return std::string("unknown result code ") + hex;
}

void ReportEngineError(const std::string &what, int32_t code) {
    std::fprintf(stderr, "qorvex: %s: %s\n", what.c_str(), DescribeResult(code).c_str());
}

std::string FormatDate(int32_t time) {
    return FormatInstant(time != 0, time);
}

std::string FormatInstant(bool has_date, int64_t seconds) {
    if (!has_date) return "-";
    time_t t = static_cast<time_t>(seconds);
    struct tm fields {};
    if (!gmtime_r(&t, &fields)) return "-";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
    return text;
}

size_t CharacterLength(std::string_view path, size_t i) {
#ifdef _WIN32
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) return 2;
#else
    (void)path, (void)i;
#endif
    return 1;
}

size_t LastBackslash(std::string_view path) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < path.size(); i += CharacterLength(path, i))
        if (path[i] == '\\') found = i;
    return found;
}

#ifdef _WIN32
// Names are in the ANSI code page here: control characters become "?", double-byte characters stay whole.
void AppendDisplayName(std::string &out, std::string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (IsDBCSLeadByte(c) && i + 1 < name.size()) {
            out.append(name.substr(i, 2));
            ++i;
        } else {
            out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
}
#else
void AppendDisplayName(std::string &out, std::string_view name) {
    // Only printable UTF-8 reaches the terminal: C0, DEL, C1 (U+0080..U+009F, CSI among them) and bytes that
    // are not UTF-8 (a raw 0x9B is CSI to an 8-bit terminal) become "?".
    for (size_t i = 0; i < name.size();) {
        // A run of printable ASCII goes over as it is.
        size_t plain = i;
        while (plain < name.size() && static_cast<unsigned char>(name[plain]) >= 0x20 &&
               static_cast<unsigned char>(name[plain]) < 0x7F)
            ++plain;
        out.append(name.substr(i, plain - i));
        if ((i = plain) == name.size()) break;
        const size_t n = Utf8Sequence(name, i);
        if (n == 0 || IsControl(name, i, n)) {
            out += '?';
            i += n ? n : 1;
            continue;
        }
        out.append(name.substr(i, n));
        i += n;
    }
}
#endif

#ifdef _WIN32
// JSON is UTF-8; names come in the ANSI code page here. Text that is not valid in it is left as it is (and
// then reported as not UTF-8 with its bytes).
namespace {
std::string FromCodePage(std::string_view text) {
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (units <= 0) return std::string(text);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string(text);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}
}  // namespace
#endif

std::string DisplayName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    AppendDisplayName(out, name);
    return out;
}

std::string JsonString(std::string_view text, bool *lossy) {
#ifdef _WIN32
    const std::string converted = FromCodePage(text);
    text = converted;
#endif
    std::string out = "\"";
    if (lossy) *lossy = false;
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        size_t n = Utf8Sequence(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            if (lossy) *lossy = true;
            ++i;
            continue;
        }
        if (n == 1) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        char esc[8];
                        std::snprintf(esc, sizeof esc, "\\u%04x", c);
                        out += esc;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
        } else if (IsControl(text, i, n)) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
            out += esc;
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
    return out;
}

std::string HexBytes(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        out += digits[u >> 4];
        out += digits[u & 15];
    }
    return out;
}

namespace {
bool quiet_run = false;
}  // namespace

void Progress::SetQuiet(bool quiet) {
    quiet_run = quiet;
}

Progress::Progress(uint64_t total)
    : enabled_(!quiet_run && isatty(STDERR_FILENO) == 1),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

Progress::~Progress() {
    Finish();
}

void Progress::Advance(uint64_t bytes) {
    done_ += bytes;
    Draw(false);
}

void Progress::Finish() {
    if (!enabled_) return;
    if (drawn_) {
        Draw(true);
        std::fputc('\n', stderr);
    }
    enabled_ = false;
}

void Progress::Draw(bool force) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double speed = seconds > 0 ? static_cast<double>(done_) / seconds / (1024.0 * 1024.0) : 0.0;
    double percent = total_ ? 100.0 * static_cast<double>(done_) / static_cast<double>(total_) : 100.0;
    if (percent > 100.0) percent = 100.0;
    std::fprintf(stderr, "\r%5.1f%%  %8.1f MiB/s", percent, speed);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace cli
