// Where the files a disc sheet names are looked for: only in the sheet's own folder.
#pragma once

#include <string>

namespace qorvex::sheets {

class SheetFolder {
public:
    // `folder` ends with a separator, or is empty for the current folder.
    explicit SheetFolder(std::string folder) : folder_(std::move(folder)) {}

    // The path of the file a sheet names, or empty when the folder holds no such regular file. Only the
    // name's last component counts (either separator: rippers write absolute Windows paths); the exact name
    // is tried first, then the folder's names compared without ASCII case.
    std::string Find(const std::string &named) const;
    // The one regular file of the folder whose name ends in `.extension` (without ASCII case); empty when
    // there is none or more than one.
    std::string OnlyWithExtension(const std::string &extension) const;

private:
    std::string folder_;
};

// The last component of a name from a sheet, split at "/" and "\"; empty for "", "." and "..".
std::string LastComponent(const std::string &named);

}  // namespace qorvex::sheets
