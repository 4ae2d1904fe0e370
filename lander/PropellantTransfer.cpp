// A lander that comes into being inside another vessel (dropped from a
// carrier, say) takes that vessel's fuel mass as the content of its main tank.
#include <climits>
#include <cmath>

#include "lander/Lander.h"

namespace {

double Distance(const VECTOR3 &a, const VECTOR3 &b) {
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Strictly inside the other vessel's radius; a point on its surface is outside.
bool Encloses(OBJHANDLE vessel, const VECTOR3 &point) {
    VECTOR3 centre;
    oapiGetGlobalPos(vessel, &centre);
    return oapiGetSize(vessel) > Distance(centre, point);
}

}  // namespace

// Only the first enclosing vessel in the host's list counts. The count is
// asked again before every pass because the host's list may change under us.
void Lander::clbkPostCreation() {
    VECTOR3 origin;
    Local2Global(_V(0.0, 0.0, 0.0), origin);
    const OBJHANDLE self = GetHandle();
    for (int i = 0; i < INT_MAX && static_cast<DWORD>(i) < oapiGetVesselCount(); ++i) {
        const OBJHANDLE other = oapiGetVesselByIndex(i);
        if (other == self || !Encloses(other, origin)) continue;
        const double fuel = oapiGetFuelMass(other);
        // A fuel mass that is not a number is not passed on: the tank keeps its level.
        if (std::isfinite(fuel)) SetPropellantMass(phMain, fuel);
        return;
    }
}
