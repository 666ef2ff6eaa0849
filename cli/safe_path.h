// Turning untrusted image paths into files inside a destination folder, never outside it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The components of an image path ("\" separated) as a relative target: empty, "." and ".." components are
// dropped and "/" is replaced by "_"; with cut_version the ISO 9660 version suffix (";1") of the last component
// is cut. An empty result means the path names nothing that can be created.
std::vector<std::string> TargetComponents(std::string_view image_path, bool cut_version);

// "a/b/c" for messages.
std::string JoinComponents(const std::vector<std::string> &components);

// An output file created below a destination folder.
struct Target {
    int fd = -1;
    int folder = -1;  // the folder that holds it, for removal of an incomplete file
    std::string name;
};

enum class CreateResult { kCreated, kExists, kFailed };

// The destination folder: made when missing, then every target is created relative to it without following
// symbolic links, so nothing planted inside it can lead elsewhere.
class Destination {
public:
    Destination() = default;
    ~Destination();
    Destination(const Destination &) = delete;
    Destination &operator=(const Destination &) = delete;

    bool Open(const std::string &path, std::string *error);

    // Creates the folders and the file of the target. kExists when the file exists and overwrite is off.
    CreateResult Create(const std::vector<std::string> &components, bool overwrite, Target *target,
                        std::string *error) const;

private:
    int fd_ = -1;
};

// Sets the modification time (seconds since 1970, UTC; 0 leaves it) and closes the file.
bool FinishTarget(Target *target, int32_t time, std::string *error);
// Closes and removes an incomplete file.
void DiscardTarget(Target *target);

}  // namespace cli
