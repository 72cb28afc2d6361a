#include "run/app_container.hpp"

#include <cstdint>

std::string hresult_text(HRESULT result) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    auto value = static_cast<std::uint32_t>(result);
    std::string digits;
    do {
        digits.insert(digits.begin(), DIGITS[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + digits;
}

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
            return failure("cannot derive AppContainer SID: HRESULT " + hresult_text(derived));
        }
        return sid;
    }
    if (FAILED(created)) {
        return failure("cannot create AppContainer profile: HRESULT " + hresult_text(created));
    }
    return sid;
}
