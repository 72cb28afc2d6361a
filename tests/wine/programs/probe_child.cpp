// The program the isolation probes start in the AppContainer. It tries what each argument names
// and writes one line per try, "<probe>=allowed" or "<probe>=refused <error>", to the report file
// that its first argument names:
//   probe_child <report> [read=<file>] [create=<file>] [connect=<port on 127.0.0.1>]
//               [registry=<value name under HKCU\Software>] [clipboard=<text>]
//               [junction=<link>|<directory>] [symlink=<link>|<directory>] [console-input=<text>]
// The links are made by mklink (the error is its status); console-input writes the text as key
// presses into its standard input, which must be a console.

// Winsock 2 comes before windows.h, which would bring in the older winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string result(bool done, DWORD error = GetLastError()) {
    return done ? "allowed" : "refused " + std::to_string(error);
}

// A blocking connect: a refused one fails at once, a dropped one after the system's retries.
std::string connect_loopback(const std::wstring& port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{.sin_family = AF_INET,
                        .sin_port =
                            htons(static_cast<u_short>(std::wcstoul(port.c_str(), nullptr, 10)))};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    const std::string outcome = result(connected, static_cast<DWORD>(WSAGetLastError()));
    closesocket(connection);
    return outcome;
}

// Puts `text` on the clipboard, owned by a message-only window: the clipboard takes data only from
// an owner that emptied it. What a refusal leaves is the process's end to release.
std::string set_clipboard_text(const std::wstring& text) {
    const HWND owner = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       nullptr, nullptr);
    const SIZE_T size = (text.size() + 1) * sizeof(WCHAR);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(GlobalLock(memory), text.c_str(), size);
    GlobalUnlock(memory);
    const std::string outcome =
        result(owner != nullptr && OpenClipboard(owner) != FALSE && EmptyClipboard() != FALSE &&
               SetClipboardData(CF_UNICODETEXT, memory) != nullptr);
    CloseClipboard();
    return outcome;
}

std::string write_console_input(const std::wstring& text) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) == FALSE) {
        return "no console, " + result(false);
    }
    std::vector<INPUT_RECORD> keys(text.size(), INPUT_RECORD{.EventType = KEY_EVENT});
    for (std::size_t i = 0; i < text.size(); ++i) {
        keys[i].Event.KeyEvent = {TRUE, 1, 0, 0, {text[i]}, 0};
    }
    DWORD written = 0;
    return result(
        WriteConsoleInputW(input, keys.data(), static_cast<DWORD>(keys.size()), &written) != FALSE);
}

std::string probe(const std::wstring& name, const std::wstring& value) {
    if (name == L"read" || name == L"create") {
        const bool read = name == L"read";
        const HANDLE file = CreateFileW(value.c_str(), read ? GENERIC_READ : GENERIC_WRITE, 0,
                                        nullptr, read ? OPEN_EXISTING : CREATE_NEW, 0, nullptr);
        const std::string outcome = result(file != INVALID_HANDLE_VALUE);
        CloseHandle(file);
        return outcome;
    }
    if (name == L"connect") {
        return connect_loopback(value);
    }
    if (name == L"registry") {
        const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, L"Software", value.c_str(),
                                               REG_SZ, L"probe", sizeof(L"probe"));
        return result(status == ERROR_SUCCESS, static_cast<DWORD>(status));
    }
    if (name == L"clipboard") {
        return set_clipboard_text(value);
    }
    if (name == L"junction" || name == L"symlink") {
        const std::size_t bar = value.find(L'|');
        const std::wstring link = value.substr(0, bar), flag = name == L"junction" ? L"/J" : L"/D";
        const int status = _wsystem(
            (L"mklink " + flag + L" \"" + link + L"\" \"" + value.substr(bar + 1) + L"\"").c_str());
        const DWORD attributes = GetFileAttributesW(link.c_str());
        return result(attributes != INVALID_FILE_ATTRIBUTES &&
                          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                      static_cast<DWORD>(status));
    }
    return name == L"console-input" ? write_console_input(value) : "unknown probe";
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::ofstream report(std::filesystem::path(argv[1]), std::ios::binary);
    for (int i = 2; i < argc; ++i) {
        const std::wstring argument = argv[i];
        const std::size_t equals = argument.find(L'=');
        const std::wstring name = argument.substr(0, equals);
        report << std::string(name.begin(), name.end()) << "="
               << probe(name, argument.substr(equals + 1)) << "\n";
    }
    return report ? 0 : 1;
}
