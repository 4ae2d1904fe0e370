// Built only into the test modules: exit functions that the module's unload
// hook must find with GetProcAddress and call. Each reports its call to the
// test program through a function the program exports; a DLL cannot link
// against the program that loads it, so it looks the function up by name.
#include "host/Orbitersdk.h"

namespace {

using ReportExitCall = void (*)(const char *exportName, HINSTANCE self);

void Report(const char *exportName, HINSTANCE self) {
    FARPROC found = GetProcAddress(GetModuleHandleA(nullptr), "VtalTestExitHookCalled");
    // FARPROC is the generic function pointer; its true type is the report's.
    auto report = reinterpret_cast<ReportExitCall>(reinterpret_cast<void (*)()>(found));
    if (report) report(exportName, self);
}

}  // namespace

#ifdef VTAL_EXPORT_EXIT_MODULE
DLLCLBK void ExitModule(HINSTANCE self) { Report("ExitModule", self); }
#endif

#ifdef VTAL_EXPORT_OPC_DLL_EXIT
DLLCLBK void opcDLLExit(HINSTANCE self) { Report("opcDLLExit", self); }
#endif
