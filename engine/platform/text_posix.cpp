#include "platform/text.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <limits>
#include <vector>

namespace qorvex::platform {

namespace {
// Code page names ever set, each kept for the life of the process (a handful at most), so that a conversion
// on another thread never reads a name freed under it.
const std::string *Interned(const std::string &name) {
    static std::mutex lock;
    static std::deque<std::string> names{"UTF-8"};
    std::lock_guard<std::mutex> guard(lock);
    for (const std::string &known : names)
        if (known == name) return &known;
    names.push_back(name);
    return &names.back();
}

// Read by every conversion on any thread; replaced only by SetCodePage.
std::atomic<const std::string *> g_code_page{Interned("UTF-8")};

bool IsUtf8(const std::string &name) {
    return name == "UTF-8" || name == "utf-8" || name == "UTF8";
}

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Splits UTF-16 into code points; an unpaired surrogate yields 0xFFFFFFFF.
template <typename F>
void ForEachCodePoint(std::u16string_view text, F &&emit) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            emit(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            emit(char32_t(0xFFFFFFFF));
        } else {
            emit(char32_t(u));
        }
    }
}

std::string Utf16ToOther(std::u16string_view text) {
    std::string out;
    iconv_t cd = iconv_open(g_code_page.load()->c_str(), "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    ForEachCodePoint(text, [&](char32_t c) {
        char16_t units[2];
        size_t count = 0;
        if (c == 0xFFFFFFFF) {
            out += '?';
            return;
        }
        if (c >= 0x10000) {
            units[0] = char16_t(0xD800 + ((c - 0x10000) >> 10));
            units[1] = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            count = 2;
        } else {
            units[0] = char16_t(c);
            count = 1;
        }
        unsigned char in[4];
        for (size_t k = 0; k < count; ++k) {
            in[2 * k] = static_cast<unsigned char>(units[k] & 0xFF);
            in[2 * k + 1] = static_cast<unsigned char>(units[k] >> 8);
        }
        char buffer[16];
        char *inp = reinterpret_cast<char *>(in);
        size_t inleft = count * 2;
        char *outp = buffer;
        size_t outleft = sizeof(buffer);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1))
            out += '?';
        else
            out.append(buffer, static_cast<size_t>(outp - buffer));
    });
    iconv_close(cd);
    return out;
}

std::u16string OtherToUtf16(std::string_view text) {
    std::u16string out;
    iconv_t cd = iconv_open("UTF-16LE", g_code_page.load()->c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    std::vector<char> input(text.begin(), text.end());
    char *inp = input.data();
    size_t inleft = input.size();
    std::vector<char> buffer(input.size() * 4 + 8);
    while (inleft > 0) {
        char *outp = buffer.data();
        size_t outleft = buffer.size();
        size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
        size_t produced = static_cast<size_t>(outp - buffer.data());
        for (size_t k = 0; k + 1 < produced; k += 2)
            out += char16_t(static_cast<unsigned char>(buffer[k]) | (static_cast<unsigned char>(buffer[k + 1]) << 8));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            out += u'\uFFFD';  // invalid or incomplete sequence: skip one byte
            ++inp;
            --inleft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}
}  // namespace

bool SetCodePage(const std::string &name) {
    iconv_t cd = iconv_open(name.c_str(), "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    g_code_page.store(Interned(name));
    return true;
}

const std::string &CodePage() {
    return *g_code_page.load();
}

std::string Utf16ToMultiByte(std::u16string_view text) {
    if (!IsUtf8(CodePage())) return Utf16ToOther(text);
    std::string out;
    out.reserve(text.size() * 3);
    ForEachCodePoint(text, [&](char32_t c) {
        if (c == 0xFFFFFFFF)
            out += '?';
        else
            AppendUtf8(out, c);
    });
    return out;
}

std::u16string MultiByteToUtf16(std::string_view text) {
    if (!IsUtf8(CodePage())) return OtherToUtf16(text);
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c = 0;
        size_t len = 0;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        }
        bool ok = len > 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (t & 0x3F);
        }
        if (ok && ((len == 2 && c < 0x80) || (len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                   (c >= 0xD800 && c <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += len;
    }
    return out;
}

int32_t RecordedDateToUnix(int year, int month, int day, int hour, int minute, int second, int offset_minutes) {
    // Days from civil (proleptic Gregorian), with month and day normalised like mktime does.
    int64_t y = year;
    int64_t m = month - 1;
    y += m / 12;
    m %= 12;
    if (m < 0) {
        m += 12;
        --y;
    }
    ++m;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (m + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + 1 - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468 + (static_cast<int64_t>(day) - 1);
    const int64_t seconds =
        days * 86400 + int64_t(hour) * 3600 + int64_t(minute) * 60 + second - int64_t(offset_minutes) * 60;
    if (seconds < std::numeric_limits<int32_t>::min() || seconds > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(seconds);
}

}  // namespace qorvex::platform
