#pragma once
// Whole-file helpers for test fixtures.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace testsupport {

// Writes `bytes` to `file`, replacing what was there; its folder is created
// first when missing.
inline void WriteFile(const std::filesystem::path& file, const std::string& bytes = "x") {
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace testsupport
