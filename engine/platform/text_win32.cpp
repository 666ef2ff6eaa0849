#include "platform/text.h"
#include "platform/text_utf8.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
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
    static std::deque<std::string> names;
    std::lock_guard<std::mutex> guard(lock);
    for (const std::string &known : names)
        if (known == name) return &known;
    names.push_back(name);
    return &names.back();
}

// The name CodePage() reports: "UTF-8" for 65001 (so callers can test for it as on POSIX), else "CP<n>".
std::string NameOf(UINT code_page) {
    return code_page == CP_UTF8 ? "UTF-8" : "CP" + std::to_string(code_page);
}

struct Selected {
    UINT code_page;  // a real number, never CP_ACP, so that the name and the conversion agree
    const std::string *name;
};

// The system ANSI code page until a test selects another one.
std::atomic<const Selected *> g_selected{nullptr};

const Selected *Current() {
    const Selected *selected = g_selected.load();
    if (selected) return selected;
    static const Selected system{GetACP(), Interned(NameOf(GetACP()))};
    return &system;
}

// "UTF-8", "CP932", "932", "SHIFT_JIS": the number of the code page, 0 when the name is not one of these forms.
UINT ParseName(std::string name) {
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "UTF-8" || name == "UTF8") return CP_UTF8;
    if (name == "SHIFT_JIS" || name == "SJIS" || name == "SHIFT-JIS") return 932;
    if (name.rfind("CP", 0) == 0) name.erase(0, 2);
    if (name.empty() || name.size() > 5) return 0;
    for (char c : name)
        if (c < '0' || c > '9') return 0;
    return static_cast<UINT>(std::strtoul(name.c_str(), nullptr, 10));
}

std::string Utf16ToOther(UINT code_page, std::u16string_view text) {
    std::string out;
    if (text.empty()) return out;
    // The whole text at once when every character exists in the code page (the usual case); best-fit mappings
    // ("é" to "e") are refused so that a lossy name shows as "?", as on POSIX.
    const auto *wide = reinterpret_cast<const wchar_t *>(text.data());
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(text.size()), nullptr, 0,
                                nullptr, &lossy);
    if (n > 0 && !lossy) {
        out.resize(static_cast<size_t>(n));
        WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
        bool surrogate = false;
        for (char16_t u : text) surrogate |= u >= 0xD800 && u <= 0xDFFF;
        if (!surrogate) return out;
        out.clear();
    }
    // Otherwise one character at a time: each one the code page lacks becomes one "?".
    ForEachCodePoint(text, [&](char32_t c) {
        if (c == 0xFFFFFFFF) {
            out += '?';
            return;
        }
        wchar_t units[2];
        int count = 1;
        if (c >= 0x10000) {
            units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            count = 2;
        } else {
            units[0] = static_cast<wchar_t>(c);
        }
        char buffer[16];
        BOOL missing = FALSE;
        const int got = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, units, count, buffer, sizeof buffer,
                                            nullptr, &missing);
        if (got <= 0 || missing)
            out += '?';
        else
            out.append(buffer, static_cast<size_t>(got));
    });
    return out;
}

std::u16string OtherToUtf16(UINT code_page, std::string_view text) {
    std::u16string out;
    if (text.empty()) return out;
    int n =
        MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                            reinterpret_cast<wchar_t *>(out.data()), n);
        return out;
    }
    // An invalid sequence somewhere: one character at a time, each invalid byte becoming U+FFFD.
    size_t i = 0;
    while (i < text.size()) {
        const BYTE lead = static_cast<BYTE>(text[i]);
        const size_t length = IsDBCSLeadByteEx(code_page, lead) && i + 1 < text.size() ? 2 : 1;
        wchar_t units[4];
        const int got =
            MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data() + i, static_cast<int>(length), units, 4);
        if (got <= 0) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        out.append(reinterpret_cast<const char16_t *>(units), static_cast<size_t>(got));
        i += length;
    }
    return out;
}
}  // namespace

bool SetCodePage(const std::string &name) {
    const UINT code_page = ParseName(name);
    if (code_page == 0 || !IsValidCodePage(code_page)) return false;
    static std::mutex lock;
    static std::deque<Selected> selections;  // kept for the life of the process, like the names
    std::lock_guard<std::mutex> guard(lock);
    for (const Selected &known : selections)
        if (known.code_page == code_page) {
            g_selected.store(&known);
            return true;
        }
    selections.push_back(Selected{code_page, Interned(NameOf(code_page))});
    g_selected.store(&selections.back());
    return true;
}

const std::string &CodePage() {
    return *Current()->name;
}

std::string Utf16ToMultiByte(std::u16string_view text) {
    const UINT code_page = Current()->code_page;
    if (code_page == CP_UTF8) return detail::Utf16ToUtf8(text);
    return Utf16ToOther(code_page, text);
}

std::u16string MultiByteToUtf16(std::string_view text) {
    const UINT code_page = Current()->code_page;
    if (code_page == CP_UTF8) return detail::Utf8ToUtf16(text);
    return OtherToUtf16(code_page, text);
}

size_t FindLastOf(std::string_view text, std::string_view bytes) {
    const UINT code_page = Current()->code_page;
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (code_page != CP_UTF8 && IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[i])) && i + 1 < text.size()) {
            ++i;  // the pair is one character
            continue;
        }
        if (bytes.find(text[i]) != std::string_view::npos) found = i;
    }
    return found;
}

void AppendMultiByte(std::u16string_view text, std::string &out) {
    const UINT code_page = Current()->code_page;
    if (code_page == CP_UTF8) {
        detail::AppendUtf16AsUtf8(text, out);
        return;
    }
    out += Utf16ToOther(code_page, text);
}

size_t MultiByteToUtf16(std::string_view text, char16_t *out, size_t capacity) {
    const UINT code_page = Current()->code_page;
    if (code_page == CP_UTF8) return detail::Utf8ToUtf16(text, out, capacity);
    const std::u16string wide = OtherToUtf16(code_page, text);
    const size_t n = std::min(wide.size(), capacity);
    std::copy_n(wide.begin(), n, out);
    return n;
}

}  // namespace qorvex::platform
