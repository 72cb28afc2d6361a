// The AppContainer that the child runs as: one persistent profile per profile name.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"
#include "common/text.hpp"

#include <string>

// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS): the profile was made by an earlier run.
inline constexpr HRESULT ALREADY_EXISTS_HRESULT = static_cast<HRESULT>(0x800700B7U);

// Creates the profile, without capabilities, or derives the SID of the existing one. The same
// name (whatever its case) always gives the same SID; the caller frees it.
[[nodiscard]] Result<UniqueSid> obtain_profile_sid(const WideString& profile);

// The SID in its text form ("S-1-15-2-..."), for the run's report.
[[nodiscard]] Result<std::string> sid_text(PSID sid);
