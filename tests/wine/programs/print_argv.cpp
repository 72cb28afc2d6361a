// Writes every element of its argv to standard output as UTF-16, each followed by one NUL unit,
// so a test can compare what the C runtime split with what it meant to pass.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    for (int i = 0; i < argc; ++i) {
        const DWORD bytes = static_cast<DWORD>((lstrlenW(argv[i]) + 1) * sizeof(wchar_t));
        DWORD written = 0;
        if (!WriteFile(output, argv[i], bytes, &written, nullptr) || written != bytes) {
            return 1;
        }
    }
    return 0;
}
