#include "support/peers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"

namespace qorvex::test {

bool MissingAny(std::initializer_list<const char *> programs) {
    for (const char *program : programs)
        if (!HaveProgram(program)) return true;
    return false;
}

std::string Quote(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Replace(std::string text, const std::string &key, const std::string &value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

std::string PortablePath(std::string name) {
    const size_t semicolon = name.rfind(';');
    if (semicolon != std::string::npos && semicolon + 1 < name.size() &&
        name.find_first_not_of("0123456789", semicolon + 1) == std::string::npos)
        name.resize(semicolon);
    if (!name.empty() && name[0] == '\\') name.erase(0, 1);
    if (!name.empty() && name.back() == '\\') name.pop_back();
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

ScopedZone::ScopedZone(const char *zone) {
    const char *saved = std::getenv("TZ");
    had_ = saved != nullptr;
    if (saved) old_ = saved;
    ::setenv("TZ", zone, 1);
    ::tzset();
}

ScopedZone::~ScopedZone() {
    if (had_)
        ::setenv("TZ", old_.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

std::map<std::string, SevenZipItem> SevenZipList(const std::string &image, int *status) {
    std::map<std::string, SevenZipItem> items;
    std::istringstream out(CaptureCommand("TZ=UTC 7z l -slt " + Quote(image) + " 2>/dev/null", status));
    std::string line, path;
    bool body = false;
    SevenZipItem item;
    auto flush = [&] {
        if (!path.empty()) items[path] = item;
        path.clear();
        item = SevenZipItem{};
    };
    while (std::getline(out, line)) {
        if (line.rfind("----------", 0) == 0) {
            body = true;
            continue;
        }
        if (!body) continue;
        if (line.empty()) {
            flush();
        } else if (line.rfind("Path = ", 0) == 0) {
            path = line.substr(7);
        } else if (line.rfind("Folder = ", 0) == 0) {
            item.folder = line.substr(9) == "+";
        } else if (line.rfind("Size = ", 0) == 0 && line.size() > 7) {
            item.size = std::stoull(line.substr(7));
        } else if (line.rfind("Modified = ", 0) == 0 && line.size() >= 30) {
            std::tm tm{};
            if (strptime(line.c_str() + 11, "%Y-%m-%d %H:%M:%S", &tm)) item.time = timegm(&tm);
        }
    }
    flush();
    return items;
}

std::vector<uint64_t> SevenZipBootSizes(const std::string &image) {
    std::vector<uint64_t> sizes;
    std::istringstream out(CaptureCommand("7z l -slt " + Quote(image) + " 2>/dev/null"));
    bool boot = false;
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("Path = ", 0) == 0) boot = line.rfind("Path = [BOOT]/", 0) == 0;
        if (boot && line.rfind("Size = ", 0) == 0) sizes.push_back(std::stoull(line.substr(7)));
    }
    return sizes;
}

std::string Differences(const std::map<std::string, PeerFile> &a, const std::map<std::string, PeerFile> &b) {
    std::string out;
    for (const auto &[path, file] : a)
        if (!b.count(path) || !(b.at(path) == file)) out += " " + path;
    for (const auto &[path, file] : b)
        if (!a.count(path)) out += " +" + path;
    return out;
}

PeerFile Extracted(const std::string &path) {
    PeerFile f;
    f.bytes = ReadFile(path);
    f.size = f.bytes.size();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) f.modified = st.st_mtime;
    return f;
}

std::map<std::string, PeerFile> SevenZipFiles(const std::string &image, const std::string &scratch) {
    std::map<std::string, PeerFile> files;
    const std::string out = scratch + "/7z";
    if (RunCommand("7z x -y -o" + Quote(out) + " " + Quote(image) + " > /dev/null 2>&1") != 0) return files;
    std::istringstream in(CaptureCommand("cd " + Quote(out) + " && find . -type f -printf '%P\\n'"));
    for (std::string line; std::getline(in, line);)
        if (PeerFile f = Extracted(out + "/" + line); f.size != 0) files[line] = f;
    return files;
}

std::map<std::string, PeerFile> UdfClientFiles(const std::string &image, const std::string &scratch) {
    auto run = [&](const std::string &commands) {
        return CaptureCommand("printf '" + commands + "quit\\n' | timeout 60 udfclient -b 2048 " + Quote(image) +
                              " 2>&1");
    };
    std::string volume;
    {
        std::istringstream in(run("ls\\n"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("drwx", 0) == 0) volume = line.substr(line.rfind(' ') + 1);
    }
    // One run lists every folder of a depth (the output of each follows its "working directory" line), one
    // run fetches every file; udfclient takes about a second per run.
    std::map<std::string, std::vector<std::string>> names;  // folder -> its files
    std::vector<std::string> level{""};
    for (int depth = 0; !level.empty() && depth < 16; ++depth) {
        std::string commands;
        for (const std::string &folder : level) commands += "cd /" + volume + "/" + folder + "\\nls\\n";
        std::istringstream in(run(commands));
        std::vector<std::string> next;
        std::string folder;
        const std::string marker = "UDF working directory is     /" + volume + "/";
        for (std::string line; std::getline(in, line);) {
            if (const size_t at = line.find(marker); at != std::string::npos) {
                folder = line.substr(at + marker.size());
                if (!folder.empty() && folder.back() != '/') folder += "/";
                continue;
            }
            if (line.size() < 2 || (line[0] != '-' && line[0] != 'd') || line[1] != 'r') continue;
            // "mode  uid  gid  size  name": the name is what follows the fourth field.
            std::istringstream fields(line);
            std::string mode, uid, gid, size, name;
            fields >> mode >> uid >> gid >> size;
            std::getline(fields >> std::ws, name);
            if (name == "." || name == ".." || name.find(':') != std::string::npos) continue;
            if (mode[0] == 'd')
                next.push_back(folder + name + "/");
            else
                names[folder].push_back(name);
        }
        level = next;
    }
    std::string gets;
    size_t k = 0;
    std::map<std::string, std::string> local;  // folder -> scratch folder
    for (const auto &[folder, files] : names) {
        local[folder] = scratch + "/uc" + std::to_string(k++);
        RunCommand("mkdir -p " + Quote(local[folder]));
        gets += "cd /" + volume + "/" + folder + "\\nlcd " + local[folder] + "\\n";
        for (const std::string &name : files) gets += "get " + name + "\\n";
    }
    run(gets);
    std::map<std::string, PeerFile> files;
    for (const auto &[folder, list] : names)
        for (const std::string &name : list)
            if (PeerFile f = Extracted(local[folder] + "/" + name); f.size != 0) files[folder + name] = f;
    return files;
}

UdfInfo RunUdfInfo(const std::string &image) {
    UdfInfo info;
    std::istringstream in(CaptureCommand("udfinfo " + Quote(image) + " 2>/dev/null"));
    for (std::string line; std::getline(in, line);) {
        int32_t start = 0, blocks = 0;
        char type[32] = {};
        if (std::sscanf(line.c_str(), "start=%d, blocks=%d, type=%31s", &start, &blocks, type) == 3)
            info.areas.emplace(type, start);
        else if (const size_t eq = line.find('='); eq != std::string::npos)
            info.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return info;
}

std::vector<int32_t> Starts(const std::multimap<std::string, int32_t> &m, const std::string &key, bool prefix) {
    std::vector<int32_t> out;
    for (const auto &[name, start] : m)
        if (prefix ? name.rfind(key, 0) == 0 : name == key) out.push_back(start);
    std::sort(out.begin(), out.end());
    return out;
}

std::string ModeText(uint32_t mode) {
    static const char kTypes[] = "?pc?d?b?-?l?s???";
    std::string text(1, kTypes[(mode >> 12) & 0xF]);
    const char *bits = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) text += (mode & (0400u >> i)) ? bits[i] : '-';
    return text;
}

namespace {
// The mode and size of an "ls -l" line, and the name part: what follows the eighth field.
std::string ParseLs(const std::string &line, LsItem *item) {
    std::istringstream fields(line);
    std::string links, uid, gid;
    fields >> item->mode >> links >> uid >> gid >> item->size;
    size_t at = 0;
    for (int i = 0; i < 8; ++i) {
        at = line.find_first_not_of(' ', at);
        at = line.find(' ', at);
        if (at == std::string::npos) return {};
    }
    return line.substr(line.find_first_not_of(' ', at));
}
}  // namespace

std::map<std::string, LsItem> BsdtarList(const std::string &image) {
    std::map<std::string, LsItem> items;
    std::istringstream out(CaptureCommand("bsdtar tvf " + Quote(image) + " 2>/dev/null"));
    for (std::string line; std::getline(out, line);) {
        LsItem item;
        std::string name = ParseLs(line, &item);
        if (const size_t arrow = name.find(" -> "); arrow != std::string::npos) {
            item.target = name.substr(arrow + 4);
            name.resize(arrow);
        } else if (const size_t hard = name.find(" link to "); hard != std::string::npos) {
            item.hard_link = true;
            name.resize(hard);
        }
        if (name != ".") items[name] = item;
    }
    return items;
}

std::map<std::string, LsItem> XorrisoList(const std::string &image) {
    std::map<std::string, LsItem> items;
    std::istringstream out(CaptureCommand("xorriso -indev " + Quote(image) + " -find / -exec lsdl -- 2>/dev/null"));
    auto unquote = [](std::string s) {
        if (s.size() >= 2 && s.front() == '\'' && s.back() == '\'') s = s.substr(1, s.size() - 2);
        return s;
    };
    for (std::string line; std::getline(out, line);) {
        LsItem item;
        std::string name = ParseLs(line, &item);
        if (const size_t arrow = name.find("' -> '"); arrow != std::string::npos) {
            item.target = unquote(name.substr(arrow + 5));
            name.resize(arrow + 1);
        }
        name = unquote(name);
        if (name == "/" || name == "/rr_moved" || name == "/.rr_moved") continue;
        items[name.substr(1)] = item;
    }
    return items;
}

XorrisoBootReport XorrisoElTorito(const std::string &image) {
    XorrisoBootReport report;
    std::istringstream out(CaptureCommand("xorriso -indev " + Quote(image) + " -report_el_torito plain 2>/dev/null"));
    for (std::string line; std::getline(out, line);) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::istringstream fields(line.substr(colon + 1));
        if (line.rfind("El Torito catalog  ", 0) == 0) {
            fields >> report.catalogue;
        } else if (line.rfind("El Torito boot img ", 0) == 0) {
            XorrisoBootImage r;
            std::string n, bootable, segment, heads;
            fields >> n >> r.platform >> bootable >> r.emulation >> segment >> heads >> r.load_size >> r.lba;
            r.bootable = bootable == "y";
            report.images.push_back(r);
        } else if (line.rfind("El Torito hdsiz/512", 0) == 0) {
            size_t n = 0;
            fields >> n;
            if (n >= 1 && n <= report.images.size()) fields >> report.images[n - 1].disk_sectors;
        }
    }
    return report;
}

std::map<int, int> CdInfoStarts(const std::string &image, std::string *output) {
    std::map<int, int> lsn;
    int status = 0;
    const bool nrg = image.size() > 4 && image.compare(image.size() - 4, 4, ".nrg") == 0;
    *output = CaptureCommand("cd-info --no-device-info --no-cddb --no-analyze " +
                                 std::string(nrg ? "--nrg-file " : "--cue-file ") + Quote(image) + " 2>&1",
                             &status);
    if (status != 0) return lsn;
    const std::regex row(R"(^\s*(\d+): \d\d:\d\d:\d\d\s+(\d+) )");
    std::istringstream lines(*output);
    for (std::string line; std::getline(lines, line);)
        if (std::smatch m; std::regex_search(line, m, row)) lsn[std::stoi(m[1])] = std::stoi(m[2]);
    return lsn;
}

std::vector<int> XorrisoSessionStarts(const std::string &image) {
    std::vector<int> starts;
    std::istringstream toc(CaptureCommand("xorriso -indev " + Quote(image) + " -toc 2>/dev/null"));
    const std::regex row(R"(^ISO session\s*:\s*\d+\s*,\s*(\d+)\s*,)");
    for (std::string line; std::getline(toc, line);)
        if (std::smatch m; std::regex_search(line, m, row)) starts.push_back(std::stoi(m[1]));
    return starts;
}

std::vector<uint8_t> GenisoimageVolume(const std::string &source, const std::string &options, const std::string &out) {
    if (RunCommand("genisoimage -quiet " + options + " -o " + Quote(out) + " " + Quote(source)) != 0) {
        ADD_FAILURE() << "genisoimage " << options << " failed on " << source;
        return {};
    }
    return ReadFile(out);
}

}  // namespace qorvex::test
