// The two functions of the host's small support library that every vessel
// module links: the library's entry routine lives there too. They are not
// declared in any public header of the host's SDK, so the module declares
// them itself; on the real host they come from the SDK's support library,
// here from our host library.
#pragma once

#include "host/Orbitersdk.h"

#if defined(_WIN32) && defined(VTAL_BUILDING_HOST)
#define VTAL_SUPPORT_FUNC __declspec(dllexport)
#elif defined(_WIN32)
#define VTAL_SUPPORT_FUNC
#else
#define VTAL_SUPPORT_FUNC __attribute__((visibility("default")))
#endif

// Hands the host the module's instance handle; called once on process attach.
VTAL_SUPPORT_FUNC void InitLib(HINSTANCE hModule);
// "Mmm dd yyyy" -> (year % 100) * 10000 + month * 100 + day.
VTAL_SUPPORT_FUNC int Date2Int(char *date);
