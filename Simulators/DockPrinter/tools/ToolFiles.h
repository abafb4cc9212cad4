// Files of the machine folder as the dock tools read and write them.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace Simulators::Tools {

// nullopt when the file does not exist; throws when it cannot be read.
inline std::optional<std::string> ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!std::filesystem::exists(path)) return std::nullopt;
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces the file at once, so a reader sees the old text or the new.
inline void WriteTextFile(const std::string& path, const std::string& text) {
    const std::filesystem::path target(path);
    std::filesystem::create_directories(target.parent_path());
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
    }
    std::filesystem::rename(temporary, target);
}

}  // namespace Simulators::Tools
