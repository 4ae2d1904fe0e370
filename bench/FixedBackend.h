// A host backend for timing the module: every flight-state query answers
// with the values of one fixed flight state, every command is dropped, and
// handles come from a counter. It allocates nothing per call, so what a frame
// costs against it is the module's own work plus the bare cost of crossing
// into the host library. It counts the calls it serves, so a benchmark can
// check that two frames it compares make as many host calls.
#pragma once

#include <cstdint>

#include "hostlib/Backend.h"

namespace vtal::bench {

// The flight state a frame sees, in the host's frames and units.
struct FlightState {
    double altitude = 0.0;         // m
    double airspeed = 0.0;         // m/s
    double mass = 0.0;             // kg
    double pitch = 0.0;            // rad
    double bank = 0.0;             // rad
    double heading = 0.0;          // rad, [0, 2 pi)
    VECTOR3 angularVel{{0.0, 0.0, 0.0}};       // rad/s, vessel frame
    VECTOR3 shipAirspeed{{0.0, 0.0, 0.0}};     // m/s, vessel frame
    VECTOR3 horizonAirspeed{{0.0, 0.0, 0.0}};  // m/s, local horizon frame
    VECTOR3 weight{{0.0, 0.0, 0.0}};           // N, vessel frame
    double groupLevel[16] = {};    // per thruster group number
    bool groundContact = false;
    double simTime = 0.0;          // s
};

// A lander sinking through the terminal band: 100 m up, 8 m/s down, drifting
// forward and to the side, slightly pitched and banked (within the band's
// attitude limits, so the hold-level mode is released), turning, and far
// enough off the target heading that the yaw thrusters fire rather than the
// kill-rotation mode. Every controller of the terminal band runs.
FlightState TerminalBandState();

class FixedBackend final : public host::Backend {
public:
    explicit FixedBackend(const FlightState &state) : state_(state) {}

    // Host calls served since construction or the last reset.
    std::uint64_t calls() const { return calls_; }
    void resetCalls() { calls_ = 0; }

    void SetCW(OBJHANDLE, double, double, double, double) override { ++calls_; }
    void SetRotDrag(OBJHANDLE, const VECTOR3 &) override { ++calls_; }
    void SetSurfaceFrictionCoeff(OBJHANDLE, double, double) override { ++calls_; }
    int GetFlightModel(OBJHANDLE, int constructedWith) override { ++calls_; return constructedWith; }
    void SetPitchMomentScale(OBJHANDLE, double) override { ++calls_; }
    void SetBankMomentScale(OBJHANDLE, double) override { ++calls_; }
    void SetTrimScale(OBJHANDLE, double) override { ++calls_; }
    void SetPMI(OBJHANDLE, const VECTOR3 &) override { ++calls_; }
    void SetCrossSections(OBJHANDLE, const VECTOR3 &) override { ++calls_; }
    void SetSize(OBJHANDLE, double) override { ++calls_; }
    void SetEmptyMass(OBJHANDLE, double) override { ++calls_; }
    UINT AddMesh(OBJHANDLE, const char *, const VECTOR3 *) override { ++calls_; return 0; }
    void SetMeshVisibilityMode(OBJHANDLE, UINT, WORD) override { ++calls_; }
    void SetCameraOffset(OBJHANDLE, const VECTOR3 &) override { ++calls_; }
    void SetLiftCoeffFunc(OBJHANDLE, double (*)(double)) override { ++calls_; }
    void SetTouchdownPoints(OBJHANDLE, const VECTOR3 &, const VECTOR3 &, const VECTOR3 &) override {
        ++calls_;
    }
    PROPELLANT_HANDLE CreatePropellantResource(OBJHANDLE, double, double, double) override {
        return newHandle();
    }
    THRUSTER_HANDLE CreateThruster(OBJHANDLE, const VECTOR3 &, const VECTOR3 &, double, PROPELLANT_HANDLE,
                                   double, double, double) override {
        return newHandle();
    }
    THGROUP_HANDLE CreateThrusterGroup(OBJHANDLE, THRUSTER_HANDLE *, int, THGROUP_TYPE) override {
        return newHandle();
    }
    UINT AddExhaust(OBJHANDLE, THRUSTER_HANDLE, double, double, const VECTOR3 *, const VECTOR3 *,
                    SURFHANDLE) override {
        ++calls_;
        return nextIndex_++;
    }
    PSTREAM_HANDLE AddExhaustStream(OBJHANDLE, THRUSTER_HANDLE, const VECTOR3 &,
                                    PARTICLESTREAMSPEC *) override {
        return newHandle();
    }
    PSTREAM_HANDLE AddReentryStream(OBJHANDLE, PARTICLESTREAMSPEC *) override { return newHandle(); }
    UINT CreateAnimation(OBJHANDLE, double) override {
        ++calls_;
        return nextIndex_++;
    }
    ANIMATIONCOMPONENT_HANDLE AddAnimationComponent(OBJHANDLE, UINT, double, double, MGROUP_TRANSFORM *,
                                                    ANIMATIONCOMPONENT_HANDLE) override {
        return newHandle();
    }

    double GetAltitude(OBJHANDLE) override { ++calls_; return state_.altitude; }
    double GetAirspeed(OBJHANDLE) override { ++calls_; return state_.airspeed; }
    double GetMass(OBJHANDLE) override { ++calls_; return state_.mass; }
    double GetPitch(OBJHANDLE) override { ++calls_; return state_.pitch; }
    double GetBank(OBJHANDLE) override { ++calls_; return state_.bank; }
    void GetAngularVel(OBJHANDLE, VECTOR3 &avel) override { ++calls_; avel = state_.angularVel; }
    bool GetShipAirspeedVector(OBJHANDLE, VECTOR3 &v) override {
        ++calls_;
        v = state_.shipAirspeed;
        return true;
    }
    bool GetHorizonAirspeedVector(OBJHANDLE, VECTOR3 &v) override {
        ++calls_;
        v = state_.horizonAirspeed;
        return true;
    }
    bool GetWeightVector(OBJHANDLE, VECTOR3 &g) override {
        ++calls_;
        g = state_.weight;
        return true;
    }
    double GetThrusterGroupLevel(OBJHANDLE, THGROUP_TYPE type) override {
        ++calls_;
        return type >= 0 && type < 16 ? state_.groupLevel[type] : 0.0;
    }
    bool GroundContact(OBJHANDLE) override { ++calls_; return state_.groundContact; }

    void SetThrusterLevel(OBJHANDLE, THRUSTER_HANDLE, double) override { ++calls_; }
    void SetThrusterGroupLevel(OBJHANDLE, THGROUP_TYPE, double) override { ++calls_; }
    bool ActivateNavmode(OBJHANDLE, int) override { ++calls_; return true; }
    bool DeactivateNavmode(OBJHANDLE, int) override { ++calls_; return true; }
    bool ToggleNavmode(OBJHANDLE, int) override { ++calls_; return true; }
    void SetPropellantMass(OBJHANDLE, PROPELLANT_HANDLE, double) override { ++calls_; }
    bool SetAnimation(OBJHANDLE, UINT, double) override { ++calls_; return true; }

    void Local2Global(OBJHANDLE, const VECTOR3 &local, VECTOR3 &global) override {
        ++calls_;
        global = local;
    }
    void ParseScenarioLineEx(OBJHANDLE, char *, void *) override { ++calls_; }
    void SaveStandardState(OBJHANDLE, FILEHANDLE) override { ++calls_; }
    void DrawStandardHUD(OBJHANDLE, int, const HUDPAINTSPEC *, HDC) override { ++calls_; }

    BOOL GetHeading(OBJHANDLE, double *heading) override {
        ++calls_;
        *heading = state_.heading;
        return TRUE;
    }
    double GetSimTime() override { ++calls_; return state_.simTime; }
    SURFHANDLE RegisterExhaustTexture(const char *) override { return newHandle(); }
    DWORD GetVesselCount() override { ++calls_; return 0; }
    OBJHANDLE GetVesselByIndex(int) override { ++calls_; return nullptr; }
    void GetGlobalPos(OBJHANDLE, VECTOR3 *pos) override {
        ++calls_;
        *pos = VECTOR3{{0.0, 0.0, 0.0}};
    }
    double GetSize(OBJHANDLE) override { ++calls_; return 0.0; }
    double GetFuelMass(OBJHANDLE) override { ++calls_; return 0.0; }
    void WriteScenarioInt(FILEHANDLE, const char *, int) override { ++calls_; }
    void WriteScenarioString(FILEHANDLE, const char *, const char *) override { ++calls_; }
    bool ReadScenarioNextline(FILEHANDLE, char *&) override { ++calls_; return false; }
    NOTEHANDLE CreateAnnotation(bool, double, const VECTOR3 &) override { return newHandle(); }
    void AnnotationSetPos(NOTEHANDLE, double, double, double, double) override { ++calls_; }
    void AnnotationSetText(NOTEHANDLE, const char *) override { ++calls_; }
    bool DelAnnotation(NOTEHANDLE) override { ++calls_; return true; }
    void InitLib(HINSTANCE) override { ++calls_; }
    int Date2Int(const char *date) override { ++calls_; return host::ConvertDate(date); }
    COLORREF SetHudTextColor(HDC, COLORREF color) override { ++calls_; return color; }
    BOOL HudTextOut(HDC, int, int, const char *, int) override { ++calls_; return TRUE; }

private:
    // Distinct, non-null and never dereferenced.
    void *newHandle() {
        ++calls_;
        return reinterpret_cast<void *>(nextHandle_ += kHandleStride);
    }

    static constexpr std::uintptr_t kHandleStride = 0x10;

    FlightState state_;
    std::uint64_t calls_ = 0;
    std::uintptr_t nextHandle_ = 0x10000;
    UINT nextIndex_ = 0;
};

}  // namespace vtal::bench
