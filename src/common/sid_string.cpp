#include "common/sid_string.hpp"

#include "common/resource.hpp"
#include "common/text.hpp"

Win32Result<std::string> sid_string(PSID sid) {
    UniqueLocal<LPWSTR> text;
    if (ConvertSidToStringSidW(sid, text.put()) == FALSE) {
        return std::unexpected(GetLastError());
    }
    return to_utf8(text.get());
}
