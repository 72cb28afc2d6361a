// The program a full run starts inside the AppContainer. It reports what it sees on standard
// output, one "key=value" a line, then exits with the code its first argument names:
//   sandbox_child <exit code> [grandchild] [args...]
// With "grandchild" it first starts a copy of itself that sleeps for ever and prints its pid.
// Started as "sandbox_child sleep" it is that copy.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <initializer_list>

namespace {

void report(const wchar_t* key, const wchar_t* value) {
    std::wprintf(L"%ls=%ls\n", key, value);
}

void report_variable(const wchar_t* name) {
    wchar_t value[4096];
    const DWORD length = GetEnvironmentVariableW(name, value, 4096);
    report(name, length > 0 && length < 4096 ? value : L"(unset)");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(INFINITE);
    }
    for (int i = 0; i < argc; ++i) {
        report(L"argv", argv[i]);
    }
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    report(L"cwd", directory);
    for (const wchar_t* name :
         {L"NORIX_PROJECT_ROOT", L"NORIX_SCRATCH_ROOT", L"TEMP", L"TMP", L"NORIX_E2E_PATH"}) {
        report_variable(name);
    }
    if (argc >= 3 && std::wcscmp(argv[2], L"grandchild") == 0) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        wchar_t line[MAX_PATH + 16];
        std::swprintf(line, MAX_PATH + 16, L"\"%ls\" sleep", self);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process) != FALSE) {
            std::wprintf(L"grandchild=%lu\n", process.dwProcessId);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    std::fflush(stdout);
    return argc >= 2 ? static_cast<int>(std::wcstoul(argv[1], nullptr, 0)) : 0;
}
