// The one header through which the system reaches Windows.
//
// On Windows it is the SDK. Elsewhere it is the simulated Windows of platform/simulated: the same
// names, layouts and constant values for the subset the system uses, with WCHAR being char16_t.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <userenv.h>
#else
#include "platform/simulated/windows.hpp"
#endif
