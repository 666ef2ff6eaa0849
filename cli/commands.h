// The sub-commands of the qorvex host.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "qorvex.h"

namespace cli {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A parsed command line.
struct Args {
    std::vector<std::string> positional;
    std::set<std::string> flags;                // "--raw", ...
    std::map<std::string, std::string> values;  // "-o" -> "out", ...
    uint32_t open_options = 0;                  // OPEN_CHECK_EDC / OPEN_CHECK_POSITION / extension bits

    bool Has(const std::string &flag) const { return flags.count(flag) != 0; }
    std::string Value(const std::string &option, const std::string &fallback = "") const {
        auto it = values.find(option);
        return it == values.end() ? fallback : it->second;
    }
};

int RunTracks(const Args &args);
int RunExtractTrack(const Args &args);
int RunInfo(const Args &args);
int RunList(const Args &args);
int RunExtract(const Args &args);
int RunExtractPart(const Args &args);
int RunVerify(const Args &args);
int RunRepair(const Args &args);
int RunHash(const Args &args);
int RunMount(const Args &args);
int RunUmount(const Args &args);
int RunIndex(const Args &args);

// Parses a "--fs" value into a kind (KIND_AUTO for "auto"); -1 when unknown.
int32_t ParseKind(const std::string &text);
// Parses a 1-based track number; -1 when not a number.
int32_t ParseTrackNumber(const std::string &text);

}  // namespace cli
