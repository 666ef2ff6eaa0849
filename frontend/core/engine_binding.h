// Run-time binding of the engine library by file name and export name.
#pragma once

#include <string>
#include <vector>

#include "engine_api.h"
#include "qorvex_ext.h"

namespace lumast {

// The engine's exports, bound by name (the table both hosts share).
using EngineTable = host::EngineApi;

inline constexpr int32_t kMinimumEngineVersion = 40;

// Where the engine is looked for, in order, for a program in `program_folder` ("" when unknown): that folder,
// the library folder it was installed with (relative to it, then absolute), then the loader's search by soname.
std::vector<std::string> EngineCandidates(const std::string &program_folder);

class EngineBinding {
public:
    EngineBinding() = default;
    ~EngineBinding() { Unload(); }
    EngineBinding(const EngineBinding &) = delete;
    EngineBinding &operator=(const EngineBinding &) = delete;

    // Loads the library: `path` when given, else the first of EngineCandidates that loads. A library that is
    // too old or lacks an export is released again. True when bound.
    bool Load(const std::string &path = {});
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    const EngineTable &Table() const { return table_; }

private:
    bool Bind(void *module);

    void *module_ = nullptr;
    EngineTable table_;
};

}  // namespace lumast
