#include "support/harness/damage_harness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace damaged {

void RunDamageCases(std::vector<uint8_t> &image, const std::vector<DamageCase> &cases, const std::string &path,
                    const std::function<std::string()> &observe) {
    const std::vector<uint8_t> pristine = image;
    for (const DamageCase &c : cases) {
        SCOPED_TRACE(c.name);
        image = pristine;
        c.damage();
        qorvex::test::WriteFile(path, image);
        EXPECT_EQ(RunWatched(observe), c.expected);
    }
    image = pristine;
}

int32_t Collect(int32_t kind, void *user, const void *data, int32_t length) {
    auto *bytes = static_cast<std::vector<uint8_t> *>(user);
    const auto *p = static_cast<const uint8_t *>(data);
    if (kind == CALLBACK_DATA && length > 0) bytes->insert(bytes->end(), p, p + length);
    return 1;
}

namespace {

std::vector<Entry> Walk(QorvexHandle h, int32_t kind, bool parts) {
    std::vector<Entry> out;
    int32_t left = parts ? QorvexGetModuleStart(h, 0, kind) : QorvexGetFileStart(h, 0, kind);
    while (left != 0 && out.size() < 100000) {
        EntryInfo info{};
        left = parts ? QorvexGetNextModule(h, &info) : QorvexGetNextFile(h, &info);
        out.push_back({info.name, info.kind, uint64_t(info.size_low) | (uint64_t(info.size_high) << 32), info.start,
                       info.sectors});
    }
    return out;
}

const int32_t kKinds[] = {KIND_ISO9660, KIND_JOLIET, KIND_UDF};

long PeakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

const Entry &Listing::Part(int32_t kind, const std::string &name) const {
    for (const Entry &e : parts.at(kind))
        if (e.name == name) return e;
    throw std::out_of_range("no system part " + name);
}

const Entry &Listing::File(int32_t kind, const std::string &name) const {
    for (const Entry &e : files.at(kind))
        if (e.name == name) return e;
    throw std::out_of_range("no file " + name);
}

Listing ListImage(const std::string &path, uint32_t options) {
    Listing listing;
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    if (!h) return listing;
    std::vector<uint8_t> bytes;
    QorvexSetCallback(h, Collect, &bytes);
    for (int32_t kind : kKinds) {
        listing.parts[kind] = Walk(h, kind, true);
        listing.files[kind] = Walk(h, kind, false);
        QorvexGetFileStart(h, 0, kind);
        for (const Entry &e : listing.files[kind]) {
            QorvexGetNextFile(h, nullptr);
            bytes.clear();
            if (QorvexExtractCurrentFile2(h, nullptr, 1) == 0)
                listing.contents[std::to_string(kind) + ":" + e.name] = bytes;
        }
    }
    QorvexClose(h);
    return listing;
}

std::string Code(int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
    return text;
}

std::string Observe(const std::string &path, uint32_t options, const Listing *intact) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    if (!h) return "open " + Code(error) + "\n";
    std::string out;
    std::vector<uint8_t> bytes;
    QorvexSetCallback(h, Collect, &bytes);
    for (int32_t kind : kKinds)
        out += "kind " + std::to_string(kind) + ": " + std::to_string(Walk(h, kind, false).size()) + " files, " +
               std::to_string(Walk(h, kind, true).size()) + " parts\n";
    for (int32_t kind : kKinds) {
        const std::vector<Entry> files = Walk(h, kind, false);
        QorvexGetFileStart(h, 0, kind);
        for (const Entry &e : files) {
            QorvexGetNextFile(h, nullptr);
            bytes.clear();
            const int32_t result = QorvexExtractCurrentFile2(h, nullptr, 1);
            std::string outcome = Code(result);
            if (result == 0 && intact) {
                const auto it = intact->contents.find(std::to_string(kind) + ":" + e.name);
                if (it != intact->contents.end()) outcome = it->second == bytes ? "ok" : "wrong data";
            }
            out += "  " + std::to_string(kind) + " " + e.name + " " + outcome + "\n";
        }
    }
    QorvexClose(h);
    return out;
}

Outcome &Outcome::Without(int32_t kind) {
    files_[kind].clear();
    parts_[kind].clear();
    return *this;
}

Outcome &Outcome::Below(int32_t kind, const std::string &folder) {
    auto below = [&](const Entry &e) {
        const size_t at = e.name.find('\\');
        const std::string path = at == std::string::npos ? e.name : e.name.substr(at);
        return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
    };
    std::erase_if(files_[kind], below);
    std::erase_if(parts_[kind], below);
    return *this;
}

Outcome &Outcome::WithoutFile(int32_t kind, const std::string &name) {
    std::erase_if(files_[kind], [&](const Entry &e) { return e.name == name; });
    return *this;
}

Outcome &Outcome::WithMoreExtents(int32_t kind, const std::string &name, size_t count, const std::string &outcome) {
    auto &files = files_[kind];
    auto it = std::find_if(files.begin(), files.end(), [&](const Entry &e) { return e.name == name; });
    files.insert(it + 1, count, Entry{name + "\x01"});
    outcomes_[std::to_string(kind) + name + "\x01"] = outcome;
    return *this;
}

Outcome &Outcome::Extracting(int32_t kind, const std::string &name, const std::string &outcome) {
    outcomes_[std::to_string(kind) + name] = outcome;
    return *this;
}

Outcome &Outcome::PartCount(int32_t kind, size_t count) {
    parts_[kind].resize(count);
    return *this;
}

std::string Outcome::Text() const {
    std::string out;
    for (int32_t kind : kKinds) {
        const auto files = files_.find(kind), parts = parts_.find(kind);
        out += "kind " + std::to_string(kind) + ": " +
               std::to_string(files == files_.end() ? 0 : files->second.size()) + " files, " +
               std::to_string(parts == parts_.end() ? 0 : parts->second.size()) + " parts\n";
    }
    for (int32_t kind : kKinds) {
        const auto files = files_.find(kind);
        if (files == files_.end()) continue;
        for (const Entry &f : files->second) {
            const auto it = outcomes_.find(std::to_string(kind) + f.name);
            out += "  " + std::to_string(kind) + " " + f.name.substr(0, f.name.find('\x01')) + " " +
                   (it == outcomes_.end() ? "ok" : it->second) + "\n";
        }
    }
    return out;
}

Bounded RunBounded(const std::function<std::string()> &work) {
    Bounded result;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        result.what = "no pipe";
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_fds[0]);
        alarm(kWatchdogSeconds);
        const long before = PeakKib();
        std::string report = work();
        const long peak = PeakKib() - before;
        report = std::to_string(peak) + "\n" + report;
        size_t done = 0;
        while (done < report.size()) {
            const ssize_t n = write(pipe_fds[1], report.data() + done, report.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string report;
    char chunk[4096];
    for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof chunk)) > 0;) report.append(chunk, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        result.what = WTERMSIG(status) == SIGALRM ? "did not finish (watchdog)"
                                                  : std::string("killed by signal ") + strsignal(WTERMSIG(status));
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.what = "exited with status " + std::to_string(WEXITSTATUS(status));
        return result;
    }
    const size_t line = report.find('\n');
    result.finished = line != std::string::npos;
    if (result.finished) {
        result.peak_kib = std::stol(report.substr(0, line));
        result.what = report.substr(line + 1);
    }
    return result;
}

std::string RunWatched(const std::function<std::string()> &work) {
    const Bounded run = RunBounded(work);
    if (!run.finished) return "(" + run.what + ")";
    if (run.peak_kib >= kPeakBoundKib)
        return "(peak grew by " + std::to_string(run.peak_kib) + " KiB, past the bound)\n" + run.what;
    return run.what;
}

std::string WithOpen(const std::string &path, uint32_t options,
                     const std::function<std::string(QorvexHandle)> &report) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    if (!h) return "open " + Code(error);
    std::string text = report(h);
    QorvexClose(h);
    return text;
}

std::string OpenResult(const std::string &path, uint32_t options) {
    return WithOpen(path, options, [](QorvexHandle) { return "open " + Code(0); });
}

void ForEach(QorvexHandle h, int32_t kind, bool parts, const std::function<void(const EntryInfo &)> &visit) {
    for (int32_t left = parts ? QorvexGetModuleStart(h, 0, kind) : QorvexGetFileStart(h, 0, kind); left > 0;) {
        EntryInfo info{};
        left = parts ? QorvexGetNextModule(h, &info) : QorvexGetNextFile(h, &info);
        visit(info);
    }
}

int64_t BytesRead() {
    const std::vector<uint8_t> io = qorvex::test::ReadFile("/proc/self/io");
    const std::string text(io.begin(), io.end());
    const size_t at = text.find("rchar: ");
    return at == std::string::npos ? -1 : std::stoll(text.substr(at + 7));
}

std::vector<uint8_t> MakeWithTool(const std::string &dir, const std::string &command_template) {
    std::string command = command_template;
    for (size_t at; (at = command.find("{out}")) != std::string::npos;) command.replace(at, 5, "'" + dir + "/out.img'");
    for (size_t at; (at = command.find("{src}")) != std::string::npos;) command.replace(at, 5, "'" + dir + "/src'");
    const std::string tool = command.substr(0, command.find(' '));
    if (!qorvex::test::HaveProgram(tool)) return {};
    qorvex::test::RemoveTree(dir + "/out.img");
    if (qorvex::test::RunCommand(command + " >/dev/null 2>&1") != 0) return {};
    std::vector<uint8_t> image = qorvex::test::ReadFile(dir + "/out.img");
    qorvex::test::RemoveTree(dir + "/out.img");
    return image;
}

void MakeSourceTree(const std::string &dir) {
    using qorvex::test::WriteFile;
    qorvex::test::RunCommand("mkdir -p '" + dir + "/src/D/E'");
    auto pattern = [](size_t n, uint32_t seed) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes[i] = static_cast<uint8_t>(seed >> 16);
        }
        return bytes;
    };
    WriteFile(dir + "/src/A.BIN", pattern(5000, 1));
    WriteFile(dir + "/src/C.TXT", std::string("one sector\n"));
    WriteFile(dir + "/src/D/B.BIN", pattern(9000, 2));
    WriteFile(dir + "/src/D/E/F.BIN", pattern(20000, 3));
    WriteFile(dir + "/src/D/G.TXT", std::string("g\n"));
}

uint8_t *SectorAt(std::vector<uint8_t> &image, int64_t sector) {
    return image.data() + sector * 2048;
}

void Put32Both(uint8_t *p, uint32_t v) {
    Put32Le(p, v);
    for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int64_t FindRecord(const std::vector<uint8_t> &image, int64_t sector, const std::string &name) {
    const size_t base = static_cast<size_t>(sector) * 2048;
    for (size_t at = base; at < base + 2048 && at < image.size();) {
        const uint8_t length = image[at];
        if (length == 0) {
            ++at;
            continue;
        }
        const uint8_t id_length = image[at + 32];
        if (std::string(reinterpret_cast<const char *>(&image[at + 33]), id_length) == name)
            return static_cast<int64_t>(at);
        at += length;
    }
    return -1;
}

}  // namespace damaged
