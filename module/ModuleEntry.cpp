// The module's exported entry points and the work of its load hook.
#include "lander/Lander.h"
#include "lander/ModuleState.h"
#include "module/LoadHook.h"
#include "module/SupportLibrary.h"

namespace vtal {

void OnProcessAttach(HINSTANCE self, ExportLookup lookup) {
    InitLib(self);
    moduleState.moduleExitHook = lookup(self, "ExitModule");
    if (!moduleState.moduleExitHook) moduleState.moduleExitHook = lookup(self, "opcDLLExit");
}

void OnProcessDetach(HINSTANCE self) {
    if (moduleState.moduleExitHook) moduleState.moduleExitHook(self);
}

}  // namespace vtal

DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel) { return new Lander(hvessel, flightmodel); }

// The host hands back the VESSEL* that ovcInit returned. VESSEL has no
// virtual destructor and the lander's virtual table pointer precedes it, so
// the object is deleted as the Lander it was created as.
DLLCLBK void ovcExit(VESSEL *vessel) {
    if (vessel) delete static_cast<Lander *>(vessel);
}

// The build date stands for the module's version, as the host expects it.
DLLCLBK int GetModuleVersion(void) {
    if (vtal::moduleState.moduleVersionCache == 0) {
        char buildDate[] = "Apr 25 2006";
        vtal::moduleState.moduleVersionCache = Date2Int(buildDate);
    }
    return vtal::moduleState.moduleVersionCache;
}
