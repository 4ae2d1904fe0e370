// Placeholder until this part of the lander is built.
#include "lander/Lander.h"
#include "lander/ModuleState.h"

void Lander::clbkSaveState(FILEHANDLE scn) { VESSEL2::clbkSaveState(scn); }
void Lander::clbkLoadStateEx(FILEHANDLE scn, void *status) { VESSEL2::clbkLoadStateEx(scn, status); }
