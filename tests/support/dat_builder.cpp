#include "support/dat_builder.h"

#include "xml_text.h"

namespace qorvex::test {

using host::XmlEscape;

std::string DatXml(const std::string &name, const std::vector<DatGameEntry> &games) {
    std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
        "\"http://www.logiqx.com/dats/datafile.dtd\">\n"
        "<datafile>\n\t<header>\n\t\t<name>" +
        XmlEscape(name) + "</name>\n\t\t<description>" + XmlEscape(name) + "</description>\n\t</header>\n";
    for (const DatGameEntry &game : games) {
        xml += "\t<game name=\"" + XmlEscape(game.name) + "\">\n\t\t<category>Games</category>\n\t\t<description>" +
               XmlEscape(game.name) + "</description>\n";
        for (const DatRomEntry &rom : game.roms) {
            xml += "\t\t<rom name=\"" + XmlEscape(rom.name) + "\" size=\"" + std::to_string(rom.size) + "\"";
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
