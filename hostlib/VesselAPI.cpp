// The host's vessel classes: every method forwards to the installed backend.
#include "hostlib/Backend.h"

using vtal::host::CurrentBackend;

VESSEL::VESSEL(OBJHANDLE hVessel, int fmodel) : hVessel_(hVessel), flightModel_(fmodel) {}
VESSEL::~VESSEL() = default;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
const OBJHANDLE VESSEL::GetHandle() const { return hVessel_; }
#pragma GCC diagnostic pop

void VESSEL::SetCW(double cw_z_pos, double cw_z_neg, double cw_x, double cw_y) const {
    CurrentBackend().SetCW(hVessel_, cw_z_pos, cw_z_neg, cw_x, cw_y);
}
void VESSEL::SetRotDrag(const VECTOR3 &rd) const { CurrentBackend().SetRotDrag(hVessel_, rd); }
void VESSEL::SetSurfaceFrictionCoeff(double mu_lng, double mu_lat) const {
    CurrentBackend().SetSurfaceFrictionCoeff(hVessel_, mu_lng, mu_lat);
}
int VESSEL::GetFlightModel() const { return CurrentBackend().GetFlightModel(hVessel_, flightModel_); }
void VESSEL::SetPitchMomentScale(double scale) const {
    CurrentBackend().SetPitchMomentScale(hVessel_, scale);
}
void VESSEL::SetBankMomentScale(double scale) const {
    CurrentBackend().SetBankMomentScale(hVessel_, scale);
}
void VESSEL::SetTrimScale(double scale) const { CurrentBackend().SetTrimScale(hVessel_, scale); }
void VESSEL::SetPMI(const VECTOR3 &pmi) const { CurrentBackend().SetPMI(hVessel_, pmi); }
void VESSEL::SetCrossSections(const VECTOR3 &cs) const {
    CurrentBackend().SetCrossSections(hVessel_, cs);
}
void VESSEL::SetSize(double size) const { CurrentBackend().SetSize(hVessel_, size); }
void VESSEL::SetEmptyMass(double emass) const { CurrentBackend().SetEmptyMass(hVessel_, emass); }
UINT VESSEL::AddMesh(const char *meshname, const VECTOR3 *ofs) const {
    return CurrentBackend().AddMesh(hVessel_, meshname, ofs);
}
void VESSEL::SetMeshVisibilityMode(UINT idx, WORD mode) const {
    CurrentBackend().SetMeshVisibilityMode(hVessel_, idx, mode);
}
void VESSEL::SetCameraOffset(const VECTOR3 &co) const {
    CurrentBackend().SetCameraOffset(hVessel_, co);
}
void VESSEL::SetLiftCoeffFunc(double (*lcf)(double aoa)) const {
    CurrentBackend().SetLiftCoeffFunc(hVessel_, lcf);
}
void VESSEL::SetTouchdownPoints(const VECTOR3 &pt1, const VECTOR3 &pt2, const VECTOR3 &pt3) const {
    CurrentBackend().SetTouchdownPoints(hVessel_, pt1, pt2, pt3);
}
PROPELLANT_HANDLE VESSEL::CreatePropellantResource(double maxmass, double mass,
                                                   double efficiency) const {
    return CurrentBackend().CreatePropellantResource(hVessel_, maxmass, mass, efficiency);
}
THRUSTER_HANDLE VESSEL::CreateThruster(const VECTOR3 &pos, const VECTOR3 &dir, double maxth0,
                                       PROPELLANT_HANDLE hp, double isp0, double isp_ref,
                                       double p_ref) const {
    return CurrentBackend().CreateThruster(hVessel_, pos, dir, maxth0, hp, isp0, isp_ref, p_ref);
}
THGROUP_HANDLE VESSEL::CreateThrusterGroup(THRUSTER_HANDLE *th, int nth, THGROUP_TYPE thgt) const {
    return CurrentBackend().CreateThrusterGroup(hVessel_, th, nth, thgt);
}
UINT VESSEL::AddExhaust(THRUSTER_HANDLE th, double lscale, double wscale, SURFHANDLE tex) const {
    return CurrentBackend().AddExhaust(hVessel_, th, lscale, wscale, nullptr, nullptr, tex);
}
UINT VESSEL::AddExhaust(THRUSTER_HANDLE th, double lscale, double wscale, const VECTOR3 &pos,
                        const VECTOR3 &dir, SURFHANDLE tex) const {
    return CurrentBackend().AddExhaust(hVessel_, th, lscale, wscale, &pos, &dir, tex);
}
PSTREAM_HANDLE VESSEL::AddExhaustStream(THRUSTER_HANDLE th, const VECTOR3 &pos,
                                        PARTICLESTREAMSPEC *pss) const {
    return CurrentBackend().AddExhaustStream(hVessel_, th, pos, pss);
}
PSTREAM_HANDLE VESSEL::AddReentryStream(PARTICLESTREAMSPEC *pss) const {
    return CurrentBackend().AddReentryStream(hVessel_, pss);
}
UINT VESSEL::CreateAnimation(double initial_state) const {
    return CurrentBackend().CreateAnimation(hVessel_, initial_state);
}
ANIMATIONCOMPONENT_HANDLE VESSEL::AddAnimationComponent(UINT anim, double state0, double state1,
                                                        MGROUP_TRANSFORM *trans,
                                                        ANIMATIONCOMPONENT_HANDLE parent) const {
    return CurrentBackend().AddAnimationComponent(hVessel_, anim, state0, state1, trans, parent);
}

double VESSEL::GetAltitude() const { return CurrentBackend().GetAltitude(hVessel_); }
double VESSEL::GetAirspeed() const { return CurrentBackend().GetAirspeed(hVessel_); }
double VESSEL::GetMass() const { return CurrentBackend().GetMass(hVessel_); }
double VESSEL::GetPitch() const { return CurrentBackend().GetPitch(hVessel_); }
double VESSEL::GetBank() const { return CurrentBackend().GetBank(hVessel_); }
void VESSEL::GetAngularVel(VECTOR3 &avel) const { CurrentBackend().GetAngularVel(hVessel_, avel); }
bool VESSEL::GetShipAirspeedVector(VECTOR3 &v) const {
    return CurrentBackend().GetShipAirspeedVector(hVessel_, v);
}
bool VESSEL::GetHorizonAirspeedVector(VECTOR3 &v) const {
    return CurrentBackend().GetHorizonAirspeedVector(hVessel_, v);
}
bool VESSEL::GetWeightVector(VECTOR3 &G) const {
    return CurrentBackend().GetWeightVector(hVessel_, G);
}
double VESSEL::GetThrusterGroupLevel(THGROUP_TYPE thgt) const {
    return CurrentBackend().GetThrusterGroupLevel(hVessel_, thgt);
}
bool VESSEL::GroundContact() const { return CurrentBackend().GroundContact(hVessel_); }

void VESSEL::SetThrusterLevel(THRUSTER_HANDLE th, double level) const {
    CurrentBackend().SetThrusterLevel(hVessel_, th, level);
}
void VESSEL::SetThrusterGroupLevel(THGROUP_TYPE thgt, double level) const {
    CurrentBackend().SetThrusterGroupLevel(hVessel_, thgt, level);
}
bool VESSEL::ActivateNavmode(int mode) { return CurrentBackend().ActivateNavmode(hVessel_, mode); }
bool VESSEL::DeactivateNavmode(int mode) {
    return CurrentBackend().DeactivateNavmode(hVessel_, mode);
}
bool VESSEL::ToggleNavmode(int mode) { return CurrentBackend().ToggleNavmode(hVessel_, mode); }
void VESSEL::SetPropellantMass(PROPELLANT_HANDLE ph, double mass) {
    CurrentBackend().SetPropellantMass(hVessel_, ph, mass);
}
bool VESSEL::SetAnimation(UINT anim, double state) const {
    return CurrentBackend().SetAnimation(hVessel_, anim, state);
}

void VESSEL::Local2Global(const VECTOR3 &local, VECTOR3 &global) const {
    CurrentBackend().Local2Global(hVessel_, local, global);
}
void VESSEL::ParseScenarioLineEx(char *line, void *status) const {
    CurrentBackend().ParseScenarioLineEx(hVessel_, line, status);
}

// ---------------------------------------------------------------------------
VESSEL2::VESSEL2(OBJHANDLE hVessel, int fmodel) : VESSEL(hVessel, fmodel) {}

void VESSEL2::clbkSetClassCaps(FILEHANDLE) {}
void VESSEL2::clbkSaveState(FILEHANDLE scn) { CurrentBackend().SaveStandardState(GetHandle(), scn); }
void VESSEL2::clbkLoadStateEx(FILEHANDLE scn, void *status) {
    char *line = nullptr;
    while (oapiReadScenario_nextline(scn, line)) ParseScenarioLineEx(line, status);
}
void VESSEL2::clbkPostCreation() {}
void VESSEL2::clbkPreStep(double, double, double) {}
void VESSEL2::clbkPostStep(double, double, double) {}
void VESSEL2::clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC) {
    CurrentBackend().DrawStandardHUD(GetHandle(), mode, hps, hDC);
}
int VESSEL2::clbkConsumeDirectKey(char *) { return 0; }
int VESSEL2::clbkConsumeBufferedKey(DWORD, bool, char *) { return 0; }
