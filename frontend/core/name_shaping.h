// Turning names from an image into target names. Names and labels from an image are untrusted: the safe output
// tree (host/output_tree.h) turns the shaped names into files inside the destination.
#pragma once

#include <cstdint>
#include <string>

namespace lumast {

// Cuts an ISO 9660 version suffix at the last ";".
std::string CutVersion(const std::string &name);
// The extension from the last "." of the last name component (with its dot), "" when none.
std::string ExtensionOf(const std::string &name);

// The image-relative name of a file as extracted: version cut; only the last component unless `include_path`;
// "_%d_%d" (extent index + 1, extent count) when `numbered` and the file has more than one extent.
std::string ShapeFileName(const std::string &name, bool include_path, uint16_t extent_count, uint16_t extent_index,
                          bool numbered);
// A system part's name as one file name: every "\" becomes the full-width yen sign.
std::string ShapePartName(const std::string &name);

// A destination with a separator appended unless it already ends in one (the root "/").
std::string WithSeparator(const std::string &destination);

// True for the extensions that are never opened by the plain open command: those of programs on Windows and
// what a Linux desktop would run rather than open.
bool IsExecutableName(const std::string &name);
// True when the default action should be "edit" (batch and shell scripts).
bool OpensForEdit(const std::string &name);

}  // namespace lumast
