// A stand-in for userenv.dll under Wine, whose CreateAppContainerProfile is not implemented.
// Loaded in place of Wine's own with WINEDLLOVERRIDES="userenv=n,b" from the directory of the
// program under test.
//
// Profiles are kept in the registry of the Wine prefix (HKCU\Software\Norix\UserenvDouble), the
// SID is derived from the name without regard to case, as Windows does, and a test chooses a
// failure through NORIX_USERENV_DOUBLE_FAIL: "create=0x80070005" or "derive=0x80070057".
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

constexpr HRESULT ALREADY_EXISTS = static_cast<HRESULT>(0x800700B7U);
const wchar_t* const STORE = L"Software\\Norix\\UserenvDouble";

std::wstring lower(const wchar_t* text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return out;
}

// The failure the test asked for this operation, or S_OK.
HRESULT chosen_failure(const wchar_t* operation) {
    wchar_t setting[64];
    const DWORD length = GetEnvironmentVariableW(L"NORIX_USERENV_DOUBLE_FAIL", setting, 64);
    if (length == 0 || length >= 64) {
        return S_OK;
    }
    const std::wstring text(setting, length);
    const std::wstring prefix = std::wstring(operation) + L"=";
    if (text.rfind(prefix, 0) != 0) {
        return S_OK;
    }
    return static_cast<HRESULT>(std::wcstoul(text.c_str() + prefix.size(), nullptr, 16));
}

// S-1-15-2 followed by seven sub-authorities from a hash of the lower-cased name.
HRESULT derive_sid(const wchar_t* name, PSID* sid) {
    std::uint64_t hash = 1469598103934665603ULL;
    DWORD parts[7];
    const std::wstring key = lower(name);
    for (DWORD& part : parts) {
        for (const wchar_t c : key) {
            hash = (hash ^ static_cast<std::uint64_t>(c)) * 1099511628211ULL;
        }
        hash = (hash ^ 0x5bd1e995ULL) * 1099511628211ULL;
        part = static_cast<DWORD>(hash >> 32);
    }
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, 15}};
    PSID created = nullptr;
    // AllocateAndInitializeSid takes at most eight sub-authorities: the first is 2, then seven.
    if (AllocateAndInitializeSid(&authority, 8, 2, parts[0], parts[1], parts[2], parts[3], parts[4],
                                 parts[5], parts[6], &created) == FALSE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    *sid = created;
    return S_OK;
}

} // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    CreateAppContainerProfile(const wchar_t* name, const wchar_t* /*display_name*/,
                              const wchar_t* /*description*/, void* /*capabilities*/,
                              DWORD /*capability_count*/, PSID* sid) {
    if (const HRESULT failure = chosen_failure(L"create"); failure != S_OK) {
        return failure;
    }
    if (name == nullptr || *name == L'\0' || std::wcslen(name) > 64) {
        return E_INVALIDARG;
    }
    const std::wstring key = std::wstring(STORE) + L"\\" + lower(name);
    HKEY handle = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &handle,
                        &disposition) != ERROR_SUCCESS) {
        return E_ACCESSDENIED;
    }
    RegCloseKey(handle);
    if (disposition == REG_OPENED_EXISTING_KEY) {
        return ALREADY_EXISTS;
    }
    return derive_sid(name, sid);
}

extern "C" __declspec(dllexport) HRESULT WINAPI
    DeriveAppContainerSidFromAppContainerName(const wchar_t* name, PSID* sid) {
    if (const HRESULT failure = chosen_failure(L"derive"); failure != S_OK) {
        return failure;
    }
    if (name == nullptr || *name == L'\0') {
        return E_INVALIDARG;
    }
    return derive_sid(name, sid);
}
