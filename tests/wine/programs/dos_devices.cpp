// Lists the drive letters D: to Z: defined onto a path, one "X: target" a line, or "none"; the
// letters of volumes (Wine's own Z:) are left out.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main() {
    bool any = false;
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        const wchar_t name[] = {letter, L':', L'\0'};
        wchar_t target[1024];
        if (QueryDosDeviceW(name, target, 1024) == 0) {
            continue;
        }
        if (wcsncmp(target, L"\\Device\\", 8) == 0) {
            continue;
        }
        std::printf("%ls %ls\n", name, target);
        any = true;
    }
    if (!any) {
        std::printf("none\n");
    }
    return 0;
}
