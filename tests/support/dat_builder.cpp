#include "support/dat_builder.h"

namespace qorvex::test {

namespace {
std::string Escape(const std::string &text) {
    std::string out;
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
}  // namespace

std::string DatXml(const std::string &name, const std::vector<DatGameEntry> &games) {
    std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
        "\"http://www.logiqx.com/dats/datafile.dtd\">\n"
        "<datafile>\n\t<header>\n\t\t<name>" +
        Escape(name) + "</name>\n\t\t<description>" + Escape(name) + "</description>\n\t</header>\n";
    for (const DatGameEntry &game : games) {
        xml += "\t<game name=\"" + Escape(game.name) + "\">\n\t\t<category>Games</category>\n\t\t<description>" +
               Escape(game.name) + "</description>\n";
        for (const DatRomEntry &rom : game.roms) {
            xml += "\t\t<rom name=\"" + Escape(rom.name) + "\" size=\"" + std::to_string(rom.size) + "\"";
            if (!rom.crc32.empty()) xml += " crc=\"" + rom.crc32 + "\"";
            if (!rom.md5.empty()) xml += " md5=\"" + rom.md5 + "\"";
            if (!rom.sha1.empty()) xml += " sha1=\"" + rom.sha1 + "\"";
            xml += "/>\n";
        }
        xml += "\t</game>\n";
    }
    return xml + "</datafile>\n";
}

}  // namespace qorvex::test
