// CD-TEXT packs (the text a disc's lead-in carries, as rippers store it beside a sheet): the titles and
// performers of the disc and its tracks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/byte_view.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Fills the titles and performers the sheet left empty from CD-TEXT packs of 18 bytes (16 are enough: the
// CRC is not checked), with or without the 4-byte header a drive returns in front of them. Only the first
// block in single-byte characters (ISO 8859-1) is read; packs that do not fit are passed over.
void ApplyCdText(ByteView packs, SheetDisc *disc);

// The packs of a CD-TEXT file (.cdt) found beside a sheet: empty when it cannot be read or is larger than a
// disc's text can be.
std::vector<uint8_t> ReadCdTextFile(const std::string &path);

// The bytes of CloneCD's [CDText] "Entry n" values (16 hexadecimal bytes each) as 18-byte packs.
std::vector<uint8_t> PacksFromHexEntries(const std::vector<std::string> &entries);

}  // namespace qorvex::sheets
