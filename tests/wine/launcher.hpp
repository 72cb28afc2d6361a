// A launcher process that a test starts and waits for, and the files it writes.
#pragma once

#include "common/text.hpp"
#include "platform.hpp"
#include "run/child_command_line.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

inline std::string read_file(const std::string& path) {
    std::ifstream file(std::filesystem::path(to_wide(path)), std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "(missing)";
}

// An exe of the build, one level above the test binary; under Wine, the copy beside the double.
inline std::string build_exe(const std::string& name) {
    const std::string tests = module_directory();
    return tests.substr(0, tests.find_last_of('\\')) +
           (running_on_wine() ? "\\wine-double\\" : "\\") + name;
}

// One launcher process, or one of another `exe`. Its standard output and error go into files
// (`files` + ".out", ".err"), its standard input comes from a pipe that the test writes; or,
// `in_own_console`, all three are a hidden console of its own.
class Launcher {
public:
    Launcher(const std::string& files, const std::vector<std::string>& arguments,
             const std::string& exe = build_exe("norix-native-sandbox.exe"),
             bool in_own_console = false)
        : files_(files) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE input = nullptr;
        CreatePipe(&input, &input_, &inherit, 0);
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        const auto open = [&](const char* suffix) {
            return CreateFileW(to_wide(files + suffix).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                               nullptr);
        };
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        if (in_own_console) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = SW_HIDE;
        } else {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = input;
            startup.hStdOutput = open(".out");
            startup.hStdError = open(".err");
        }
        WideString line = to_wide(build_command_line(exe, arguments));
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                   in_own_console ? CREATE_NEW_CONSOLE : 0, nullptr, nullptr,
                                   &startup, &process))
            << GetLastError();
        process_ = process.hProcess;
        for (const HANDLE handle :
             {process.hThread, input, startup.hStdOutput, startup.hStdError}) {
            CloseHandle(handle);
        }
    }
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;
    ~Launcher() {
        send("");
        CloseHandle(process_);
    }

    // Writes `text` to the launcher's standard input, then closes it.
    void send(const std::string& text) {
        DWORD written = 0;
        if (input_ != nullptr) {
            WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(std::exchange(input_, nullptr));
        }
    }
    DWORD wait() {
        send("");
        if (WaitForSingleObject(process_, 60000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the launcher did not end";
            TerminateProcess(process_, 1);
        }
        DWORD status = 0;
        GetExitCodeProcess(process_, &status);
        return status;
    }
    // Waits until standard output holds `text`.
    bool wait_for_output(const std::string& text) const {
        for (int i = 0; i < 600 && output().find(text) == std::string::npos; ++i) {
            Sleep(100);
        }
        return output().find(text) != std::string::npos;
    }
    std::string output() const { return read_file(files_ + ".out"); }
    std::string error() const { return read_file(files_ + ".err"); }
    HANDLE process() const { return process_; }

private:
    std::string files_;
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
};
