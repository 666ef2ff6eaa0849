#include "platform/text.h"
#include "platform/text_utf8.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <vector>

namespace qorvex::platform {

using detail::ForEachCodePoint;

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
    return detail::Utf16ToUtf8(text);
}

std::u16string MultiByteToUtf16(std::string_view text) {
    if (!IsUtf8(CodePage())) return OtherToUtf16(text);
    return detail::Utf8ToUtf16(text);
}

size_t FindLastOf(std::string_view text, std::string_view bytes) {
    if (IsUtf8(CodePage())) return text.find_last_of(bytes);  // no byte below 0x80 inside a UTF-8 sequence
    iconv_t cd = iconv_open("UTF-16LE", CodePage().c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return text.find_last_of(bytes);
    // A byte that the code page cannot convert alone because more must follow begins a double-byte character.
    auto lead = [&](char byte) {
        char in[1] = {byte}, out[8];
        char *inp = in, *outp = out;
        size_t inleft = 1, outleft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1) && errno == EINVAL;
    };
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size() && lead(text[i])) {
            ++i;
            continue;
        }
        if (bytes.find(text[i]) != std::string_view::npos) found = i;
    }
    iconv_close(cd);
    return found;
}

void AppendMultiByte(std::u16string_view text, std::string &out) {
    if (!IsUtf8(CodePage())) {
        out += Utf16ToOther(text);
        return;
    }
    detail::AppendUtf16AsUtf8(text, out);
}

size_t MultiByteToUtf16(std::string_view text, char16_t *out, size_t capacity) {
    if (IsUtf8(CodePage())) return detail::Utf8ToUtf16(text, out, capacity);
    const std::u16string wide = OtherToUtf16(text);
    const size_t n = std::min(wide.size(), capacity);
    std::copy_n(wide.begin(), n, out);
    return n;
}

}  // namespace qorvex::platform
