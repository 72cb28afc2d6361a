// A host that stops a run through its event, as a program without a console does:
//   stop_host <event name> <report> <launcher command line>
// It creates the event, starts the command line with its own standard handles, sets the event
// once the report holds the run's "started" line, and exits with the launcher's status (2 when it
// cannot start it).
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const HANDLE stop = argc == 4 ? CreateEventW(nullptr, TRUE, FALSE, argv[1]) : nullptr;
    std::wstring command = argc == 4 ? argv[3] : L"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION launcher{};
    if (stop == nullptr || !CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                           nullptr, nullptr, &startup, &launcher)) {
        return 2;
    }
    for (;;) {
        std::ifstream report(argv[2], std::ios::binary);
        const std::string text(std::istreambuf_iterator<char>(report), {});
        if (text.find("\"event\":\"started\"") != std::string::npos ||
            WaitForSingleObject(launcher.hProcess, 50) == WAIT_OBJECT_0) {
            break;
        }
    }
    SetEvent(stop);
    WaitForSingleObject(launcher.hProcess, INFINITE);
    DWORD status = 2;
    GetExitCodeProcess(launcher.hProcess, &status);
    return static_cast<int>(status);
}
