#include "run/app_container.hpp"

#include "common/sid_string.hpp"
#include "common/windows_error.hpp"

Result<UniqueSid> obtain_profile_sid(const WideString& profile) {
    UniqueSid sid;
    HRESULT created = S_OK;
    {
        const WideString description = to_wide("Norix isolated Agent process");
        created = CreateAppContainerProfile(profile.c_str(), profile.c_str(), description.c_str(),
                                            nullptr, // no capabilities: no network access
                                            0, sid.put());
    }
    if (created == ALREADY_EXISTS_HRESULT) {
        // An existing profile is reused as it is; its SID follows from the name alone.
        const HRESULT derived =
            DeriveAppContainerSidFromAppContainerName(profile.c_str(), sid.put());
        if (FAILED(derived)) {
            return std::unexpected(hresult_failure("cannot derive AppContainer SID", derived));
        }
        return sid;
    }
    if (FAILED(created)) {
        return std::unexpected(hresult_failure("cannot create AppContainer profile", created));
    }
    return sid;
}

Result<std::string> sid_text(PSID sid) {
    auto text = sid_string(sid);
    if (!text) {
        return std::unexpected(
            win32_failure("cannot convert AppContainer SID to text", text.error()));
    }
    return std::move(*text);
}
