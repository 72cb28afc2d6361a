// What the cross-built tests need of the machine they run on: Wine here, Windows elsewhere.
#pragma once

#include "common/text.hpp"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool running_on_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The directory of the running test binary, where the test programs sit.
inline std::string module_directory() {
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const std::string path = to_utf8(WideStringView(buffer, length));
    return path.substr(0, path.find_last_of('\\'));
}

// A fresh directory under the real temporary folder, removed with its contents afterwards.
class TempDirectory {
public:
    TempDirectory() {
        // The long form: a run names its directories by their final paths, and on Windows the
        // temporary folder may be given in 8.3 form (C:\Users\RUNNER~1\...).
        WCHAR buffer[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, buffer) == 0
                                 ? 0
                                 : GetLongPathNameW(buffer, buffer, MAX_PATH + 1);
        if (length == 0 || length > MAX_PATH) {
            throw std::runtime_error("no temporary folder");
        }
        for (unsigned attempt = GetCurrentProcessId();; ++attempt) {
            path_ =
                to_utf8(WideStringView(buffer, length)) + "norix-test-" + std::to_string(attempt);
            if (CreateDirectoryW(to_wide(path_).c_str(), nullptr) != FALSE) {
                return;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                throw std::runtime_error("cannot create " + path_);
            }
        }
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(to_wide(path_)), ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // The directory's full path, without a trailing backslash.
    const std::string& path() const { return path_; }
    std::string make_directory(const std::string& relative) const {
        std::filesystem::create_directories(
            std::filesystem::path(to_wide("\\\\?\\" + path_ + "\\" + relative)));
        return path_ + "\\" + relative;
    }
    void make_file(const std::string& relative, const std::string& content) const {
        std::ofstream(std::filesystem::path(to_wide(path_ + "\\" + relative)), std::ios::binary)
            << content;
    }

private:
    std::string path_;
};
