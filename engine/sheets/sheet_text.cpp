#include "sheets/sheet_text.h"

namespace qorvex::sheets {

namespace {
bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (eol == std::string_view::npos) break;
        text.remove_prefix(eol + 1);
    }
    return lines;
}

std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (Blank(line[i])) {
            ++i;
        } else if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? line.size() : close;
            words.emplace_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = i;
            while (end < line.size() && !Blank(line[end])) ++end;
            words.emplace_back(line.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

std::string Upper(std::string_view word) {
    std::string out(word);
    for (char &c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

int64_t ParseNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) return -1;
    int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

int64_t ParseMsf(std::string_view text) {
    const size_t a = text.find(':');
    const size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    if (b == std::string_view::npos) return -1;
    const int64_t m = ParseNumber(text.substr(0, a));
    const int64_t s = ParseNumber(text.substr(a + 1, b - a - 1));
    const int64_t f = ParseNumber(text.substr(b + 1));
    if (m < 0 || m > 9999 || s < 0 || s >= 60 || f < 0 || f >= 75) return -1;
    return (m * 60 + s) * 75 + f;
}

}  // namespace qorvex::sheets
