// A fresh directory under the real temporary folder, removed with its contents afterwards.
#pragma once

#include "common/text.hpp"

#include <windows.h>

#include <string>

class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // The directory's full path, without a trailing backslash.
    const std::string& path() const { return path_; }
    std::string make_directory(const std::string& relative) const;
    std::string make_file(const std::string& relative, const std::string& content = {}) const;

private:
    std::string path_;
};
