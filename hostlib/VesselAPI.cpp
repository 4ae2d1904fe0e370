// The host's vessel classes: every method forwards to the installed backend.
#include "hostlib/Backend.h"

using vtal::host::CurrentBackend;

namespace {
// The host's vessel object and its handle are one pointer here.
OBJHANDLE HandleOf(HostVessel *vessel) { return static_cast<OBJHANDLE>(vessel); }
HostVessel *VesselBehind(OBJHANDLE hVessel) { return static_cast<HostVessel *>(hVessel); }
}  // namespace

VESSEL::VESSEL(OBJHANDLE hVessel, int fmodel)
    : vessel(VesselBehind(hVessel)), flightmodel(static_cast<short>(fmodel)), version(0) {}
VESSEL::~VESSEL() = default;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
const OBJHANDLE VESSEL::GetHandle() const { return HandleOf(vessel); }
#pragma GCC diagnostic pop

void VESSEL::SetCW(double cw_z_pos, double cw_z_neg, double cw_x, double cw_y) const {
    CurrentBackend().SetCW(GetHandle(), cw_z_pos, cw_z_neg, cw_x, cw_y);
}
void VESSEL::SetRotDrag(const VECTOR3 &rd) const { CurrentBackend().SetRotDrag(GetHandle(), rd); }
void VESSEL::SetSurfaceFrictionCoeff(double mu_lng, double mu_lat) const {
    CurrentBackend().SetSurfaceFrictionCoeff(GetHandle(), mu_lng, mu_lat);
}
int VESSEL::GetFlightModel() const { return CurrentBackend().GetFlightModel(GetHandle(), flightmodel); }
void VESSEL::SetPitchMomentScale(double scale) const {
    CurrentBackend().SetPitchMomentScale(GetHandle(), scale);
}
void VESSEL::SetBankMomentScale(double scale) const {
    CurrentBackend().SetBankMomentScale(GetHandle(), scale);
}
void VESSEL::SetTrimScale(double scale) const { CurrentBackend().SetTrimScale(GetHandle(), scale); }
void VESSEL::SetPMI(const VECTOR3 &pmi) const { CurrentBackend().SetPMI(GetHandle(), pmi); }
void VESSEL::SetCrossSections(const VECTOR3 &cs) const {
    CurrentBackend().SetCrossSections(GetHandle(), cs);
}
void VESSEL::SetSize(double size) const { CurrentBackend().SetSize(GetHandle(), size); }
void VESSEL::SetEmptyMass(double emass) const { CurrentBackend().SetEmptyMass(GetHandle(), emass); }
UINT VESSEL::AddMesh(const char *meshname, const VECTOR3 *ofs) const {
    return CurrentBackend().AddMesh(GetHandle(), meshname, ofs);
}
void VESSEL::SetMeshVisibilityMode(UINT idx, WORD mode) const {
    CurrentBackend().SetMeshVisibilityMode(GetHandle(), idx, mode);
}
void VESSEL::SetCameraOffset(const VECTOR3 &co) const {
    CurrentBackend().SetCameraOffset(GetHandle(), co);
}
void VESSEL::SetLiftCoeffFunc(double (*lcf)(double aoa)) const {
    CurrentBackend().SetLiftCoeffFunc(GetHandle(), lcf);
}
void VESSEL::SetTouchdownPoints(const VECTOR3 &pt1, const VECTOR3 &pt2, const VECTOR3 &pt3) const {
    CurrentBackend().SetTouchdownPoints(GetHandle(), pt1, pt2, pt3);
}
PROPELLANT_HANDLE VESSEL::CreatePropellantResource(double maxmass, double mass,
                                                   double efficiency) const {
    return CurrentBackend().CreatePropellantResource(GetHandle(), maxmass, mass, efficiency);
}
THRUSTER_HANDLE VESSEL::CreateThruster(const VECTOR3 &pos, const VECTOR3 &dir, double maxth0,
                                       PROPELLANT_HANDLE hp, double isp0, double isp_ref,
                                       double p_ref) const {
    return CurrentBackend().CreateThruster(GetHandle(), pos, dir, maxth0, hp, isp0, isp_ref, p_ref);
}
THGROUP_HANDLE VESSEL::CreateThrusterGroup(THRUSTER_HANDLE *th, int nth, THGROUP_TYPE thgt) const {
    return CurrentBackend().CreateThrusterGroup(GetHandle(), th, nth, thgt);
}
UINT VESSEL::AddExhaust(THRUSTER_HANDLE th, double lscale, double wscale, SURFHANDLE tex) const {
    return CurrentBackend().AddExhaust(GetHandle(), th, lscale, wscale, nullptr, nullptr, tex);
}
UINT VESSEL::AddExhaust(THRUSTER_HANDLE th, double lscale, double wscale, const VECTOR3 &pos,
                        const VECTOR3 &dir, SURFHANDLE tex) const {
    return CurrentBackend().AddExhaust(GetHandle(), th, lscale, wscale, &pos, &dir, tex);
}
PSTREAM_HANDLE VESSEL::AddExhaustStream(THRUSTER_HANDLE th, const VECTOR3 &pos,
                                        PARTICLESTREAMSPEC *pss) const {
    return CurrentBackend().AddExhaustStream(GetHandle(), th, pos, pss);
}
PSTREAM_HANDLE VESSEL::AddReentryStream(PARTICLESTREAMSPEC *pss) const {
    return CurrentBackend().AddReentryStream(GetHandle(), pss);
}
UINT VESSEL::CreateAnimation(double initial_state) const {
    return CurrentBackend().CreateAnimation(GetHandle(), initial_state);
}
ANIMATIONCOMPONENT_HANDLE VESSEL::AddAnimationComponent(UINT anim, double state0, double state1,
                                                        MGROUP_TRANSFORM *trans,
                                                        ANIMATIONCOMPONENT_HANDLE parent) const {
    return CurrentBackend().AddAnimationComponent(GetHandle(), anim, state0, state1, trans, parent);
}

double VESSEL::GetAltitude() const { return CurrentBackend().GetAltitude(GetHandle()); }
double VESSEL::GetAirspeed() const { return CurrentBackend().GetAirspeed(GetHandle()); }
double VESSEL::GetMass() const { return CurrentBackend().GetMass(GetHandle()); }
double VESSEL::GetPitch() const { return CurrentBackend().GetPitch(GetHandle()); }
double VESSEL::GetBank() const { return CurrentBackend().GetBank(GetHandle()); }
void VESSEL::GetAngularVel(VECTOR3 &avel) const { CurrentBackend().GetAngularVel(GetHandle(), avel); }
bool VESSEL::GetShipAirspeedVector(VECTOR3 &v) const {
    return CurrentBackend().GetShipAirspeedVector(GetHandle(), v);
}
bool VESSEL::GetHorizonAirspeedVector(VECTOR3 &v) const {
    return CurrentBackend().GetHorizonAirspeedVector(GetHandle(), v);
}
bool VESSEL::GetWeightVector(VECTOR3 &G) const {
    return CurrentBackend().GetWeightVector(GetHandle(), G);
}
double VESSEL::GetThrusterGroupLevel(THGROUP_TYPE thgt) const {
    return CurrentBackend().GetThrusterGroupLevel(GetHandle(), thgt);
}
bool VESSEL::GroundContact() const { return CurrentBackend().GroundContact(GetHandle()); }

void VESSEL::SetThrusterLevel(THRUSTER_HANDLE th, double level) const {
    CurrentBackend().SetThrusterLevel(GetHandle(), th, level);
}
void VESSEL::SetThrusterGroupLevel(THGROUP_TYPE thgt, double level) const {
    CurrentBackend().SetThrusterGroupLevel(GetHandle(), thgt, level);
}
bool VESSEL::ActivateNavmode(int mode) { return CurrentBackend().ActivateNavmode(GetHandle(), mode); }
bool VESSEL::DeactivateNavmode(int mode) {
    return CurrentBackend().DeactivateNavmode(GetHandle(), mode);
}
bool VESSEL::ToggleNavmode(int mode) { return CurrentBackend().ToggleNavmode(GetHandle(), mode); }
void VESSEL::SetPropellantMass(PROPELLANT_HANDLE ph, double mass) const {
    CurrentBackend().SetPropellantMass(GetHandle(), ph, mass);
}
bool VESSEL::SetAnimation(UINT anim, double state) const {
    return CurrentBackend().SetAnimation(GetHandle(), anim, state);
}

void VESSEL::Local2Global(const VECTOR3 &local, VECTOR3 &global) const {
    CurrentBackend().Local2Global(GetHandle(), local, global);
}
void VESSEL::ParseScenarioLineEx(char *line, void *status) const {
    CurrentBackend().ParseScenarioLineEx(GetHandle(), line, status);
}

// ---------------------------------------------------------------------------
VESSEL2::VESSEL2(OBJHANDLE hVessel, int fmodel) : VESSEL(hVessel, fmodel) { version = 1; }

void VESSEL2::clbkSetClassCaps(FILEHANDLE) {}
void VESSEL2::clbkSaveState(FILEHANDLE scn) { CurrentBackend().SaveStandardState(GetHandle(), scn); }
void VESSEL2::clbkLoadStateEx(FILEHANDLE scn, void *status) {
    char *line = nullptr;
    while (oapiReadScenario_nextline(scn, line)) ParseScenarioLineEx(line, status);
}
void VESSEL2::clbkSetStateEx(const void *) {}
void VESSEL2::clbkPostCreation() {}
void VESSEL2::clbkFocusChanged(bool, OBJHANDLE, OBJHANDLE) {}
void VESSEL2::clbkPreStep(double, double, double) {}
void VESSEL2::clbkPostStep(double, double, double) {}
bool VESSEL2::clbkPlaybackEvent(double, double, const char *, const char *) { return false; }
void VESSEL2::clbkVisualCreated(VISHANDLE, int) {}
void VESSEL2::clbkVisualDestroyed(VISHANDLE, int) {}
void VESSEL2::clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC) {
    CurrentBackend().DrawStandardHUD(GetHandle(), mode, hps, hDC);
}
void VESSEL2::clbkRCSMode(int) {}
void VESSEL2::clbkADCtrlMode(DWORD) {}
void VESSEL2::clbkHUDMode(int) {}
void VESSEL2::clbkMFDMode(int, int) {}
void VESSEL2::clbkNavMode(int, bool) {}
void VESSEL2::clbkDockEvent(int, OBJHANDLE) {}
void VESSEL2::clbkAnimate(double) {}
int VESSEL2::clbkConsumeDirectKey(char *) { return 0; }
int VESSEL2::clbkConsumeBufferedKey(DWORD, bool, char *) { return 0; }
bool VESSEL2::clbkLoadGenericCockpit() { return false; }
bool VESSEL2::clbkLoadPanel(int) { return false; }
bool VESSEL2::clbkPanelMouseEvent(int, int, int, int) { return false; }
bool VESSEL2::clbkPanelRedrawEvent(int, int, SURFHANDLE) { return false; }
bool VESSEL2::clbkLoadVC(int) { return false; }
bool VESSEL2::clbkVCMouseEvent(int, int, VECTOR3 &) { return false; }
bool VESSEL2::clbkVCRedrawEvent(int, int, SURFHANDLE) { return false; }
