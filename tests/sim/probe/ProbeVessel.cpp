// The probe vessel: a 500 kg box of 2 m size with three touchdown points, one
// tank, a main and a retro engine through its centre and six attitude groups
// of two thrusters each, whose callbacks call the test's hooks.
#include "ProbeHooks.h"

namespace vtal::probe {
namespace {

constexpr double kEmptyMass = 500.0;       // kg
constexpr double kTankMass = 100.0;        // kg
constexpr double kSize = 2.0;              // m
constexpr double kMainThrust = 2000.0;     // N
constexpr double kAttitudeThrust = 50.0;   // N, each
constexpr double kIsp = 3000.0;            // m/s
constexpr double kArm = 1.0;               // m, attitude thrusters from the centre

ProbeHooks hooks;

// One attitude pair: two thrusters at +-arm along `along`, pushing along +-dir.
void AddPair(VESSEL2 &v, THRUSTER_HANDLE (&pair)[2], PROPELLANT_HANDLE tank, VECTOR3 along, VECTOR3 dir,
             THGROUP_TYPE group) {
    const VECTOR3 at = _V(along.x * kArm, along.y * kArm, along.z * kArm);
    const VECTOR3 opposite = _V(-at.x, -at.y, -at.z), back = _V(-dir.x, -dir.y, -dir.z);
    pair[0] = v.CreateThruster(at, dir, kAttitudeThrust, tank, kIsp);
    pair[1] = v.CreateThruster(opposite, back, kAttitudeThrust, tank, kIsp);
    v.CreateThrusterGroup(pair, 2, group);
}

class Probe final : public VESSEL2 {
public:
    using VESSEL2::VESSEL2;

    void clbkSetClassCaps(FILEHANDLE) override {
        SetEmptyMass(kEmptyMass);
        SetSize(kSize);
        SetPMI(_V(1.0, 1.0, 1.0));
        SetTouchdownPoints(_V(0.0, -1.0, 1.0), _V(-1.0, -1.0, -1.0), _V(1.0, -1.0, -1.0));
        ProbeThrusters &t = hooks.thrusters;
        t = ProbeThrusters{};
        t.tank = CreatePropellantResource(kTankMass);
        t.main = CreateThruster(_V(0, 0, 0), _V(0, 1, 0), kMainThrust, t.tank, kIsp);
        t.retro = CreateThruster(_V(0, 0, 0), _V(0, -1, 0), kMainThrust, t.tank, kIsp);
        CreateThrusterGroup(&t.main, 1, THGROUP_MAIN);
        CreateThrusterGroup(&t.retro, 1, THGROUP_RETRO);
        // Torque F x r: a push along +y at +z gives +x (pitch up), and so on.
        AddPair(*this, t.attitude[0], t.tank, _V(0, 0, 1), _V(0, 1, 0), THGROUP_ATT_PITCHUP);
        AddPair(*this, t.attitude[1], t.tank, _V(0, 0, 1), _V(0, -1, 0), THGROUP_ATT_PITCHDOWN);
        AddPair(*this, t.attitude[2], t.tank, _V(0, 0, 1), _V(-1, 0, 0), THGROUP_ATT_YAWLEFT);
        AddPair(*this, t.attitude[3], t.tank, _V(0, 0, 1), _V(1, 0, 0), THGROUP_ATT_YAWRIGHT);
        AddPair(*this, t.attitude[4], t.tank, _V(1, 0, 0), _V(0, -1, 0), THGROUP_ATT_BANKLEFT);
        AddPair(*this, t.attitude[5], t.tank, _V(1, 0, 0), _V(0, 1, 0), THGROUP_ATT_BANKRIGHT);
        if (hooks.classCaps) hooks.classCaps(*this, t);
    }
    void clbkPreStep(double simt, double simdt, double mjd) override {
        if (hooks.preStep) hooks.preStep(*this, simt, simdt, mjd);
    }
    void clbkPostStep(double simt, double simdt, double mjd) override {
        if (hooks.postStep) hooks.postStep(*this, simt, simdt, mjd);
    }
    void clbkNavMode(int mode, bool active) override {
        if (hooks.navMode) hooks.navMode(*this, mode, active);
    }
    void clbkFocusChanged(bool getFocus, OBJHANDLE now, OBJHANDLE before) override {
        if (hooks.focusChanged) hooks.focusChanged(*this, getFocus, now, before);
    }
    int clbkConsumeDirectKey(char *kstate) override { return hooks.directKey ? hooks.directKey(*this, kstate) : 0; }
    int clbkConsumeBufferedKey(DWORD key, bool down, char *kstate) override {
        return hooks.bufferedKey ? hooks.bufferedKey(*this, key, down, kstate) : 0;
    }
};

}  // namespace
}  // namespace vtal::probe

DLLCLBK vtal::probe::ProbeHooks *VtalProbeHooks() { return &vtal::probe::hooks; }

DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel) { return new vtal::probe::Probe(hvessel, flightmodel); }
DLLCLBK void ovcExit(VESSEL *vessel) { delete static_cast<vtal::probe::Probe *>(vessel); }
