// Placeholder until this part of the lander is built.
#include "lander/Lander.h"
#include "lander/ModuleState.h"

void Lander::clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC) { VESSEL2::clbkDrawHUD(mode, hps, hDC); }
