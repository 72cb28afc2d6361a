// The program the isolation probes start in the AppContainer. It tries what each argument names
// and writes one line per try, "<probe>=allowed" or "<probe>=refused <last error>", in UTF-8 to
// the report file that its first argument names:
//   probe_child <report> [read=<file>] [create=<file>] [connect=<port on 127.0.0.1>]
//               [registry=<value name under HKCU\Software>] [clipboard=<text>]
//               [junction=<link>|<directory>] [symlink=<link>|<directory>] [console-input=<text>]
// console-input writes the text as key presses into its standard input, which must be a console.
// Winsock 2 comes before windows.h, which would bring in the older winsock.h.
#include <winsock2.h>

#include "probe_calls.hpp"

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string open_file(const std::wstring& path, DWORD access, DWORD disposition) {
    const HANDLE file = CreateFileW(path.c_str(), access, 0, nullptr, disposition, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return refused(GetLastError());
    }
    CloseHandle(file);
    return "allowed";
}

std::string connect_loopback(unsigned short port) {
    WSADATA data;
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
        return refused(static_cast<DWORD>(error));
    }
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Non-blocking, so that a dropped attempt ends after a few seconds as a timeout.
    u_long non_blocking = 1;
    int error =
        connection == INVALID_SOCKET || ioctlsocket(connection, FIONBIO, &non_blocking) != 0 ||
                connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
            ? WSAGetLastError()
            : 0;
    if (error == WSAEWOULDBLOCK) {
        fd_set connected, failed;
        FD_ZERO(&connected);
        FD_SET(connection, &connected);
        failed = connected;
        timeval limit{5, 0};
        const int ready = select(0, nullptr, &connected, &failed, &limit);
        int size = sizeof(error);
        error = ready == 0 ? WSAETIMEDOUT : ready < 0 ? WSAGetLastError() : 0;
        if (ready > 0 && FD_ISSET(connection, &failed)) {
            getsockopt(connection, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
        }
    }
    closesocket(connection);
    WSACleanup();
    return error == 0 ? "allowed" : refused(static_cast<DWORD>(error));
}

std::string write_console_input(const std::wstring& text) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) == FALSE) {
        return "no console, " + refused(GetLastError());
    }
    std::vector<INPUT_RECORD> keys(text.size(), INPUT_RECORD{});
    for (std::size_t i = 0; i < text.size(); ++i) {
        keys[i].EventType = KEY_EVENT;
        keys[i].Event.KeyEvent = {TRUE, 1, 0, 0, {text[i]}, 0};
    }
    DWORD written = 0;
    return WriteConsoleInputW(input, keys.data(), static_cast<DWORD>(keys.size()), &written) !=
                   FALSE
               ? "allowed"
               : refused(GetLastError());
}

std::string probe(const std::wstring& name, const std::wstring& value) {
    const std::size_t bar = value.find(L'|');
    const std::wstring link = value.substr(0, bar), target = value.substr(bar + 1);
    if (name == L"read") {
        return open_file(value, GENERIC_READ, OPEN_EXISTING);
    }
    if (name == L"create") {
        return open_file(value, GENERIC_WRITE, CREATE_NEW);
    }
    if (name == L"connect") {
        return connect_loopback(
            static_cast<unsigned short>(std::wcstoul(value.c_str(), nullptr, 10)));
    }
    if (name == L"registry") {
        const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, L"Software", value.c_str(),
                                               REG_SZ, L"probe", sizeof(L"probe"));
        return status == ERROR_SUCCESS ? "allowed" : refused(static_cast<DWORD>(status));
    }
    if (name == L"clipboard") {
        return set_clipboard_text(value);
    }
    if (name == L"junction") {
        return make_junction(link, target);
    }
    if (name == L"symlink") {
        return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                   SYMBOLIC_LINK_FLAG_DIRECTORY |
                                       SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE
                   ? "allowed"
                   : refused(GetLastError());
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
