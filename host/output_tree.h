// The safe output tree: untrusted image paths become files inside a destination folder and never anything
// outside it, whatever the image holds and whatever the destination already holds.
//
// The destination is opened once as a folder descriptor; every folder below it is made or entered relative to
// its parent without following links, and files are created exclusively. A link, or anything but a folder,
// where a folder is needed is "in the way" and refused; an existing file is replaced only by removing its name
// and creating a new file, so no data goes through a planted link or into a hard-linked inode.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The components of an image path ("\" separated) as a relative target: empty, "." and ".." components are
// dropped and "/" and NUL are replaced by "_"; with cut_version the ISO 9660 version suffix (";1") of the last
// component is cut. An empty result means the path names nothing that can be created.
std::vector<std::string> TargetComponents(std::string_view image_path, bool cut_version);

// An ISO 9660 / Joliet file name without its version suffix (";1"), and then without the dot of an empty
// extension ("B.;1" -> "B"), as other readers give it. A name without a suffix is left as it is.
std::string WithoutVersion(std::string_view name);

// One component made safe as a single name ("/" and NUL replaced); empty for "", "." and "..".
std::string SafeComponent(std::string_view name);

// "a/b/c" for messages.
std::string JoinComponents(const std::vector<std::string> &components);

// A modification time that leaves the one the system gives (every other value, 0 included, is a date).
constexpr int64_t kKeepTime = INT64_MIN;
// Permission bits that leave those a folder was made with.
constexpr mode_t kKeepMode = static_cast<mode_t>(-1);

// Why a target could not be made.
enum class Refusal {
    kNone,
    kNothingLeft,  // the image path leaves no name to create
    kExists,       // the file exists and replacing was not asked for
    kInTheWay,     // a link or a non-folder where a folder is needed, or a folder, FIFO or device at the name
    kSystem,       // the system refused (errno)
    kWriteFailed,  // writing, setting the date or closing failed (errno)
};

struct OutputProblem {
    Refusal refusal = Refusal::kNone;
    int error = 0;      // errno for kSystem and kWriteFailed
    std::string where;  // the components up to the one in the way ("a/b"), for kInTheWay

    // An English sentence for the command-line host ("\"a/b\" is in the way (...)").
    std::string Describe() const;
};

// An output file created by OutputTree::Create. Data is gathered into large blocks (the engine delivers 2 KiB
// at a time), so a file takes about one write per MiB or one write in all when small. A file that is not
// finished is removed: an incomplete file must not stay looking whole.
class OutputFile {
public:
    static constexpr size_t kBlock = size_t{1} << 20;

    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Appends bytes. False once a write has failed (the data is then dropped; see WriteError).
    bool Append(const void *data, size_t length);
    // Writes what is left, sets the modification time (seconds since 1970, UTC; kKeepTime leaves the time of writing)
    // and closes. On failure the file is removed and false returned.
    bool Finish(int64_t modified, OutputProblem *problem);
    // Closes and removes an unfinished file; nothing when none is open.
    void Discard();
    // The permission bits Finish gives the file (not limited by the umask); by default it keeps those it was
    // made with.
    void SetFinalMode(mode_t mode) { final_mode_ = static_cast<int>(mode); }

    // The open file as the engine's copy export takes it: the descriptor (a HANDLE on Windows); -1 when closed.
    intptr_t Native() const;
    // A write that failed elsewhere (errno), so that Finish reports it and removes the file.
    void SetWriteError(int error) { write_error_ = error; }

    int WriteError() const { return write_error_; }
    // write(2) calls made since the file was created; the buffering is worth this much.
    size_t WriteCalls() const { return write_calls_; }

private:
    friend class OutputTree;
#ifdef _WIN32
    void Adopt(int fd, std::wstring path);
    std::wstring path_;  // the whole path, for removal (there are no folder descriptors)
#endif
    struct Folder;  // a folder descriptor shared with the tree's cache
    void Adopt(int fd, std::shared_ptr<const Folder> folder, std::string name);
    bool Flush();
    bool WriteAll(const char *data, size_t length);
    void Close();

    int fd_ = -1;
    std::shared_ptr<const Folder> folder_;  // the folder that holds it, for removal
    std::string name_;
    std::vector<char> buffer_;  // kept between files: one allocation serves a whole extraction
    int write_error_ = 0;
    size_t write_calls_ = 0;
    int final_mode_ = -1;
};

// Whether a symbolic link with `target`, made in the folder `link_folder` (components below the destination),
// keeps every path through it inside the destination: a relative target of leading ".." steps that do not climb
// above the destination, followed by names only. A ".." after a name is refused too, since the name could be
// another link and the ".." then climbs from wherever that one leads.
bool LinkStaysInside(const std::vector<std::string> &link_folder, std::string_view target);

class OutputTree {
public:
    OutputTree() = default;
    ~OutputTree();
    OutputTree(const OutputTree &) = delete;
    OutputTree &operator=(const OutputTree &) = delete;

    // Opens the destination folder, making it and its missing parents first (like "mkdir -p"). The destination
    // is the user's choice: links in its own path are followed, as any program follows a path it is given.
    bool Open(const std::string &path, OutputProblem *problem);
    bool IsOpen() const { return fd_ >= 0; }
    // One tree is used by one thread at a time (it remembers the folder it last entered); this opens `other` on
    // the same destination for another thread.
    bool Fork(OutputTree *other, OutputProblem *problem) const;

    enum class Presence { kNothing, kSomething, kBlocked };
    // What is at the target now, without making or following anything: kBlocked (with the problem) when a
    // folder on the way is in the way; kSomething when any name exists at the target.
    Presence Probe(const std::vector<std::string> &components, OutputProblem *problem) const;

    // Makes the folders of the target and a new file there (mode before the umask). With `replace` an existing
    // regular file or link at the name is removed first; without it an existing name gives kExists.
    bool Create(const std::vector<std::string> &components, bool replace, OutputFile *file, OutputProblem *problem,
                mode_t mode = 0666) const;

    // Makes the folders of the target, the last one included (an existing folder is fine).
    bool MakeFolder(const std::vector<std::string> &components, OutputProblem *problem) const;
    // Gives an existing folder below the destination its permission bits and modification time (kKeepTime keeps it),
    // without following a link at any component.
    bool SetFolderAttributes(const std::vector<std::string> &components, mode_t mode, int64_t modified,
                             OutputProblem *problem) const;
    // Makes a symbolic link (never followed) with its modification time (kKeepTime leaves it). With `replace` an
    // existing file or link at the name is removed first. The caller checks the target with LinkStaysInside.
    bool CreateSymlink(const std::vector<std::string> &components, const std::string &target, int64_t modified,
                       bool replace, OutputProblem *problem) const;
    // Makes `components` a second name of the regular file already made at `existing` (a hard link).
    bool CreateHardLink(const std::vector<std::string> &existing, const std::vector<std::string> &components,
                        bool replace, OutputProblem *problem) const;

private:
#ifdef _WIN32
    // The full path of the destination ("\\?\" form) and of the folders and files below it.
    std::wstring root_;
    std::wstring PathOf(const std::vector<std::string> &components, size_t count) const;
    bool EnterFolders(const std::vector<std::string> &components, size_t count, bool make, OutputProblem *problem,
                      std::wstring *path) const;
    bool FreeName(const std::wstring &path, const std::vector<std::string> &components, bool replace,
                  OutputProblem *problem) const;
#endif
    // Removes a file or link at the name in `folder` when asked to replace it; false (problem set) when the name
    // is taken and may not or cannot be freed.
    bool FreeName(int folder, const std::vector<std::string> &components, bool replace, OutputProblem *problem) const;
    // Enters the folders of components[0 .. count) below the destination; -1 with the problem set on failure.
    int EnterFolders(const std::vector<std::string> &components, size_t count, bool make, OutputProblem *problem) const;
    // The folder that holds the target (components but the last), entered or made once and remembered: files of
    // one folder come one after another. Null with the problem set on failure.
    std::shared_ptr<const OutputFile::Folder> Parent(const std::vector<std::string> &components, bool make,
                                                     OutputProblem *problem) const;

    int fd_ = -1;
    mutable std::vector<std::string> cached_path_;
    mutable std::shared_ptr<const OutputFile::Folder> cached_;
};

}  // namespace host
