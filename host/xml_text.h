// Text written into XML (DFXML, DAT files): the four characters that would end an element or an attribute.
#pragma once

#include <string>
#include <string_view>

namespace host {

inline std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace host
