// Built only into the test module: an exit function that the module's unload
// hook must find and call. It reports the call to the test program.
#include "host/Orbitersdk.h"

extern "C" void VtalTestExitModuleCalled(HINSTANCE self);

DLLCLBK void ExitModule(HINSTANCE self) { VtalTestExitModuleCalled(self); }
