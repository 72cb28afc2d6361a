// The program a full run starts in the AppContainer. It reports what it sees on standard output
// in UTF-8, one "key=value" a line, and exits with the code its first argument names:
//   sandbox_child <exit code> [read=<file>] [write=<file>] [handle=<value>] [grandchild] [more...]
// In this order: every argv element; the current directory; the variables of the run; the text of
// each file that read= names; "wrote=<file>" for each write= file it wrote; "handle=open" or
// "handle=closed" for each handle value (decimal) given; with "grandchild", "child=<pid>" and the
// pid of a copy of itself that sleeps for ever ("grandchild=<pid>"); the line it then reads from
// standard input ("stdin=<line>"). Last it writes "child on stderr" to standard error. Started as
// "sandbox_child sleep" it is that copy.
// Started as "sandbox_child ctrl-c" or "sandbox_child ignore-ctrl-c" it writes "state=waiting",
// goes on after a console event and exits with STATUS_CONTROL_C_EXIT, as Windows' default handler
// ends a process (Wine's exits with 0), or with 7.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <string>

namespace {

// One line on standard output, in UTF-8.
void report(const wchar_t* key, const std::wstring& value) {
    const auto line = std::filesystem::path(std::wstring(key) + L"=" + value + L"\n").u8string();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

std::atomic<bool> event_seen{false};

BOOL WINAPI on_console_event(DWORD /*type*/) {
    event_seen = true;
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(INFINITE);
    }
    if (argc == 2 && std::wstring(argv[1]).ends_with(L"ctrl-c")) {
        SetConsoleCtrlHandler(on_console_event, TRUE);
        report(L"state", L"waiting");
        while (!event_seen) {
            Sleep(50);
        }
        return argv[1][0] == L'c' ? static_cast<int>(STATUS_CONTROL_C_EXIT) : 7;
    }
    for (int i = 0; i < argc; ++i) {
        report(L"argv", argv[i]);
    }
    report(L"cwd", std::filesystem::current_path().wstring());
    for (const wchar_t* name : {L"NORIX_PROJECT_ROOT", L"NORIX_SCRATCH_ROOT", L"TEMP", L"TMP"}) {
        const wchar_t* const value = _wgetenv(name);
        report(name, value != nullptr ? value : L"(unset)");
    }
    for (int i = 2; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument.starts_with(L"read=")) {
            std::ifstream file(std::filesystem::path(argument.substr(5)), std::ios::binary);
            const std::string text(std::istreambuf_iterator<char>(file), {});
            report(L"read", file ? std::wstring(text.begin(), text.end()) : L"(unreadable)");
        } else if (argument.starts_with(L"write=")) {
            std::ofstream file(std::filesystem::path(argument.substr(6)), std::ios::binary);
            file << "written by the child" << std::flush;
            report(L"wrote", file ? argument.substr(6) : L"(failed)");
        } else if (argument.starts_with(L"handle=")) {
            const auto handle = reinterpret_cast<HANDLE>(std::wcstoull(&argument[7], nullptr, 10));
            DWORD flags = 0;
            report(L"handle", GetHandleInformation(handle, &flags) ? L"open" : L"closed");
        } else if (argument == L"grandchild") {
            std::wstring line = L"\"" + std::wstring(argv[0]) + L"\" sleep";
            STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW)};
            PROCESS_INFORMATION process{};
            if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process) != FALSE) {
                report(L"child", std::to_wstring(GetCurrentProcessId()));
                report(L"grandchild", std::to_wstring(process.dwProcessId));
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
            }
        }
    }
    std::string line;
    std::getline(std::cin, line);
    report(L"stdin", std::wstring(line.begin(), line.end()));
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "child on stderr\n", 16, &written, nullptr);
    return argc >= 2 ? static_cast<int>(std::wcstoul(argv[1], nullptr, 0)) : 0;
}
