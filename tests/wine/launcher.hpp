// What the cross-built tests need of the machine they run on (Wine here, Windows elsewhere): the
// real exes of the build started as processes that a test waits for, and fresh directories.
#pragma once

#include "common/text.hpp"
#include "run/child_command_line.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool running_on_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The directory of the running test binary, where the test programs sit.
inline std::string module_directory() {
    WCHAR buffer[MAX_PATH];
    const std::string path =
        to_utf8(WideStringView(buffer, GetModuleFileNameW(nullptr, buffer, MAX_PATH)));
    return path.substr(0, path.find_last_of('\\'));
}

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

// One process of `command` (the exe, then its arguments). Its standard output and error go into
// files (`files` + ".out", ".err"), its standard input comes from a pipe that the test writes; or,
// `in_own_console`, all three are a hidden console of its own.
class Launcher {
public:
    Launcher(const std::string& files, const std::vector<std::string>& command,
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
        STARTUPINFOW startup{
            .cb = sizeof(STARTUPINFOW), .dwFlags = STARTF_USESHOWWINDOW, .wShowWindow = SW_HIDE};
        if (!in_own_console) {
            startup.dwFlags |= STARTF_USESTDHANDLES;
            startup.hStdInput = input;
            startup.hStdOutput = open(".out");
            startup.hStdError = open(".err");
        }
        WideString line =
            to_wide(build_command_line(command[0], {command.begin() + 1, command.end()}));
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

    // Writes `text` to the process's standard input, then closes it.
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

// A fresh directory under the real temporary folder, removed with its contents afterwards, with a
// project and a scratch directory in it for runs of the real exe.
class SandboxTest : public ::testing::Test {
protected:
    ~SandboxTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(to_wide(root_)), ignored);
    }
    static std::string fresh_directory() {
        // The long form: a run names its directories by their final paths, and on Windows the
        // temporary folder may be given in 8.3 form (C:\Users\RUNNER~1\...).
        WCHAR buffer[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, buffer);
        const DWORD length = GetLongPathNameW(buffer, buffer, MAX_PATH + 1);
        static unsigned made = 0;
        const std::string path = to_utf8(WideStringView(buffer, length)) + "norix-test-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++made);
        // What a killed test process of the same id left goes first.
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(to_wide(path)), ignored);
        if (length == 0 || length > MAX_PATH ||
            CreateDirectoryW(to_wide(path).c_str(), nullptr) == FALSE) {
            throw std::runtime_error("cannot create " + path);
        }
        return path;
    }
    std::string make_directory(const std::string& relative) const {
        std::filesystem::create_directories(
            std::filesystem::path(to_wide("\\\\?\\" + root_ + "\\" + relative)));
        return root_ + "\\" + relative;
    }
    void make_file(const std::string& relative, const std::string& content) const {
        std::ofstream(std::filesystem::path(to_wide(root_ + "\\" + relative)), std::ios::binary)
            << content;
    }
    // Copies the test program `name` from beside the test binary to `to`.
    static void copy_program(const std::string& name, const std::string& to) {
        ASSERT_NE(CopyFileW(to_wide(module_directory() + "\\" + name).c_str(), to_wide(to).c_str(),
                            FALSE),
                  FALSE);
    }
    // The launcher's command that runs `child` (the program, then its arguments) under `profile`,
    // on the fixture's directories or the `project` and `scratch` given.
    std::vector<std::string> sandboxed(std::vector<std::string> child, const std::string& profile,
                                       const std::string& project = {},
                                       const std::string& scratch = {}) const {
        child.insert(child.begin(), {build_exe("norix-native-sandbox.exe"), "--project",
                                     project.empty() ? project_ : project, "--scratch",
                                     scratch.empty() ? scratch_ : scratch, "--profile", profile,
                                     "--network", "deny", "--"});
        return child;
    }

    // The fresh directory's full path, without a trailing backslash.
    std::string root_ = fresh_directory();
    std::string project_ = make_directory("Proj");
    std::string scratch_ = make_directory("Scratch");
};
