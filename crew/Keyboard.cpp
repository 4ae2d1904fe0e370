// Placeholder until this part of the lander is built.
#include "lander/Lander.h"
#include "lander/ModuleState.h"

int Lander::clbkConsumeDirectKey(char *) { return 0; }
int Lander::clbkConsumeBufferedKey(DWORD, bool, char *) { return 0; }
