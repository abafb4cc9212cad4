// Test support: the machine kept in a scratch folder for one test, with a
// runtime folder of its own for the user, so that the processes the test
// forks share its named objects and no other test sees them. A machine in
// memory keeps its named objects within its process.
#pragma once

#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Platform/ScopedEnv.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace Platform::Testing {

class ScopedMachineFolder {
public:
    ScopedMachineFolder() : scratch_(MakeScratch()) {
        runtime_ = std::make_unique<EnvOverride>("XDG_RUNTIME_DIR", (scratch_ / "run").c_str());
        GetMachine().Reset();
        LoadMachine((scratch_ / "machine").string());
    }
    ~ScopedMachineFolder() {
        GetMachine().Reset();
        runtime_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
    ScopedMachineFolder(const ScopedMachineFolder&) = delete;
    ScopedMachineFolder& operator=(const ScopedMachineFolder&) = delete;

    std::filesystem::path Scratch() const { return scratch_; }

private:
    static std::filesystem::path MakeScratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmo-objects-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
        const std::filesystem::path scratch = pattern;
        if (::mkdir((scratch / "run").c_str(), 0700) != 0) throw std::runtime_error("mkdir " + pattern + "/run");
        return scratch;
    }

    std::filesystem::path scratch_;
    std::unique_ptr<EnvOverride> runtime_;
};

}  // namespace Platform::Testing
