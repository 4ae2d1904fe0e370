// Placeholder until this part of the lander is built.
#include "lander/Lander.h"
#include "lander/ModuleState.h"

void Lander::AlignHeading() {}
