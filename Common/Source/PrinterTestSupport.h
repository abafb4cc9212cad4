// Test helpers of the printer description tests: a scratch folder, and the
// shipped documents.
#pragma once

#include <stdlib.h>

#include <clocale>
#include <cstdio>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "Tessary/i8n/I8NString.h"

namespace PrinterTest {

// A fresh folder under the temporary directory, removed with everything in
// it when the object dies.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmo-desc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes the file (folders made as needed) and returns its native path.
    std::filesystem::path Write(const std::string& name, const std::string& content) const {
        const std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::filesystem::path path_;
};

inline Tessary::I8NString PathText(const std::filesystem::path& path) {
    return Tessary::I8NString(path.string());
}

// The repository's data folder, found from this file's place in the tree.
inline std::filesystem::path DataFolder() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data";
}

// Switches the C locale of the process to one whose decimal separator is a
// comma, for the life of the object: what scanf and strtod follow. No such
// locale is installed on the build machine, so one is compiled into a
// scratch folder with localedef the first time (about a second). Active()
// is false when that cannot be done.
class CommaDecimalLocale {
public:
    CommaDecimalLocale() {
        static const std::string folder = Compile();
        if (folder.empty()) return;
        ::setenv("LOCPATH", folder.c_str(), 1);
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    ~CommaDecimalLocale() {
        std::setlocale(LC_ALL, "C");
        ::unsetenv("LOCPATH");
    }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool Active() const { return active_; }

private:
    static std::string Compile() {
        static ScratchFolder folder;  // lives until the program ends
        const std::string target = (folder.Path() / "de_DE.UTF-8").string();
        const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 || !std::filesystem::exists(target)) return {};
        return folder.Path().string();
    }

    bool active_ = false;
};

}  // namespace PrinterTest
