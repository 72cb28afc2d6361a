#include "temp_directory.hpp"

#include <filesystem>
#include <fstream>
#include <stdexcept>

TempDirectory::TempDirectory() {
    WCHAR buffer[MAX_PATH + 1];
    // The long form: a run names its directories by their final paths, and on Windows the
    // temporary folder may be given in 8.3 form (C:\Users\RUNNER~1\...).
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer) == 0
                             ? 0
                             : GetLongPathNameW(buffer, buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("no temporary folder");
    }
    const std::string base = to_utf8(WideStringView(buffer, length));
    for (unsigned attempt = GetCurrentProcessId();; ++attempt) {
        path_ = base + "norix-test-" + std::to_string(attempt);
        if (CreateDirectoryW(to_wide(path_).c_str(), nullptr) != FALSE) {
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create " + path_);
        }
    }
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(to_wide(path_)), ignored);
}

std::string TempDirectory::make_directory(const std::string& relative) const {
    const std::string full = path_ + "\\" + relative;
    std::filesystem::create_directories(std::filesystem::path(to_wide("\\\\?\\" + full)));
    return full;
}

std::string TempDirectory::make_file(const std::string& relative,
                                     const std::string& content) const {
    const std::string full = path_ + "\\" + relative;
    std::ofstream(std::filesystem::path(to_wide(full)), std::ios::binary) << content;
    return full;
}
