#include "mounts/owner_only_security.hpp"

#include "common/sid_string.hpp"
#include "common/text.hpp"
#include "common/windows_error.hpp"

#include <vector>

namespace {

std::unexpected<SandboxFailure> unsecured() {
    return std::unexpected(win32_failure("cannot secure sandbox mount record"));
}

// The token user's SID in its text form ("S-1-5-21-...").
[[nodiscard]] Result<std::string> user_sid_text() {
    UniqueHandle token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) == FALSE) {
        return unsecured();
    }
    DWORD size = 0;
    // The size probe fails by design, with ERROR_INSUFFICIENT_BUFFER.
    if (GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) != FALSE ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return unsecured();
    }
    // TOKEN_USER points into its own buffer, which holds the SID after it.
    std::vector<TOKEN_USER> buffer(size / sizeof(TOKEN_USER) + 1);
    if (GetTokenInformation(token.get(), TokenUser, buffer.data(),
                            static_cast<DWORD>(buffer.size() * sizeof(TOKEN_USER)),
                            &size) == FALSE) {
        return unsecured();
    }
    auto text = sid_string(buffer.front().User.Sid);
    if (!text) {
        return std::unexpected(win32_failure("cannot secure sandbox mount record", text.error()));
    }
    return std::move(*text);
}

} // namespace

Result<OwnerOnlySecurity> OwnerOnlySecurity::make() {
    const auto user = user_sid_text();
    if (!user) {
        return std::unexpected(user.error());
    }
    // "P": protected, so nothing of the folder's inheritable entries comes in; "FA": all access.
    const WideString text = to_wide("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + *user + ")");
    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                             descriptor.put(),
                                                             nullptr) == FALSE) { // no size
        return unsecured();
    }
    return OwnerOnlySecurity(std::move(descriptor));
}
