#include "lander/Lander.h"

// Only the crash note holds a meaningful value before clbkSetClassCaps: the
// host calls that first, and it sets every other member.
Lander::Lander(OBJHANDLE hVessel, int fmodel) : VESSEL2(hVessel, fmodel), crashNote(nullptr) {}
