// What the library does when the operating system loads and unloads it. The
// platform's entry routine (PlatformHook.cpp) calls these with the module's
// own instance handle and a way to look up the module's own exports.
#pragma once

#include "host/Orbitersdk.h"

namespace vtal {

using ExitHook = void (*)(HINSTANCE);
// Finds an exported function of the module itself by name; null if absent.
using ExportLookup = ExitHook (*)(HINSTANCE self, const char *name);

// Process attach: hands the host its InitLib call and remembers the module's
// exit function, "ExitModule" or else "opcDLLExit", if it exports one.
void OnProcessAttach(HINSTANCE self, ExportLookup lookup);
// Process detach: calls the exit function found at attach, if any.
void OnProcessDetach(HINSTANCE self);

}  // namespace vtal
