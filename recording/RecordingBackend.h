// A host backend for exact unit tests: it logs every host call with its
// arguments in order and answers flight-state queries from values that the
// test scripts per vessel.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "hostlib/Backend.h"

namespace vtal::recording {

// One argument as the host saw it. Vectors are logged as three doubles,
// records field by field, texts as copies.
using Arg = std::variant<long long, double, std::string, const void *>;

struct Call {
    std::string name;
    OBJHANDLE vessel = nullptr;  // calling vessel; null for oapi... and GDI calls
    std::vector<Arg> args;

    double num(std::size_t i) const { return std::get<double>(args.at(i)); }
    long long integer(std::size_t i) const { return std::get<long long>(args.at(i)); }
    const std::string &text(std::size_t i) const { return std::get<std::string>(args.at(i)); }
    const void *ptr(std::size_t i) const { return std::get<const void *>(args.at(i)); }
};

// The flight state a test scripts for one vessel.
struct VesselScript {
    double altitude = 0.0;
    double airspeed = 0.0;
    double mass = 0.0;
    double pitch = 0.0;
    double bank = 0.0;
    VECTOR3 angularVel{{0.0, 0.0, 0.0}};
    VECTOR3 shipAirspeed{{0.0, 0.0, 0.0}};
    VECTOR3 horizonAirspeed{{0.0, 0.0, 0.0}};
    VECTOR3 weight{{0.0, 0.0, 0.0}};
    double groupLevel[16] = {};
    bool groundContact = false;
    double heading = 0.0;        // oapiGetHeading, rad in [0, 2 pi)
    double size = 0.0;           // oapiGetSize
    double fuelMass = 0.0;       // oapiGetFuelMass
    VECTOR3 globalPos{{0.0, 0.0, 0.0}};  // oapiGetGlobalPos; Local2Global adds it
    int flightModel = -1;        // -1: the model the vessel was constructed with
};

// A coloured text run painted on the head-up display canvas.
struct TextRun {
    int x = 0, y = 0;
    COLORREF color = 0;
    std::string text;
};

class RecordingBackend : public host::Backend {
public:
    RecordingBackend();
    ~RecordingBackend() override;

    // ----- what a test reads
    std::vector<Call> calls;
    std::vector<TextRun> textRuns;
    std::vector<std::string> writtenLines;  // "KEY value" per scenario line written

    std::vector<Call> callsNamed(const std::string &name) const;
    std::size_t count(const std::string &name) const;
    // Names of the calls in order, optionally starting at index `from`.
    std::vector<std::string> names(std::size_t from = 0) const;
    void clear() { calls.clear(); textRuns.clear(); writtenLines.clear(); }

    // ----- what a test scripts
    VesselScript &vessel(OBJHANDLE h) { return vessels_[h]; }
    std::vector<OBJHANDLE> vesselList;  // oapiGetVesselCount / oapiGetVesselByIndex
    double simTime = 0.0;
    std::deque<std::string> scenarioLines;  // served by oapiReadScenario_nextline
    std::set<int> &activeNavmodes(OBJHANDLE h) { return navmodes_[h]; }

    // ----- host::Backend
    void SetCW(OBJHANDLE self, double zPos, double zNeg, double x, double y) override;
    void SetRotDrag(OBJHANDLE self, const VECTOR3 &rd) override;
    void SetSurfaceFrictionCoeff(OBJHANDLE self, double lng, double lat) override;
    int GetFlightModel(OBJHANDLE self, int constructedWith) override;
    void SetPitchMomentScale(OBJHANDLE self, double scale) override;
    void SetBankMomentScale(OBJHANDLE self, double scale) override;
    void SetTrimScale(OBJHANDLE self, double scale) override;
    void SetPMI(OBJHANDLE self, const VECTOR3 &pmi) override;
    void SetCrossSections(OBJHANDLE self, const VECTOR3 &cs) override;
    void SetSize(OBJHANDLE self, double size) override;
    void SetEmptyMass(OBJHANDLE self, double mass) override;
    UINT AddMesh(OBJHANDLE self, const char *name, const VECTOR3 *ofs) override;
    void SetMeshVisibilityMode(OBJHANDLE self, UINT idx, WORD mode) override;
    void SetCameraOffset(OBJHANDLE self, const VECTOR3 &co) override;
    void SetLiftCoeffFunc(OBJHANDLE self, double (*lcf)(double)) override;
    void SetTouchdownPoints(OBJHANDLE self, const VECTOR3 &p1, const VECTOR3 &p2,
                            const VECTOR3 &p3) override;
    PROPELLANT_HANDLE CreatePropellantResource(OBJHANDLE self, double maxmass, double mass,
                                               double efficiency) override;
    THRUSTER_HANDLE CreateThruster(OBJHANDLE self, const VECTOR3 &pos, const VECTOR3 &dir,
                                   double maxth0, PROPELLANT_HANDLE hp, double isp0, double ispRef,
                                   double pRef) override;
    THGROUP_HANDLE CreateThrusterGroup(OBJHANDLE self, THRUSTER_HANDLE *th, int nth,
                                       THGROUP_TYPE type) override;
    UINT AddExhaust(OBJHANDLE self, THRUSTER_HANDLE th, double lscale, double wscale,
                    const VECTOR3 *pos, const VECTOR3 *dir, SURFHANDLE tex) override;
    PSTREAM_HANDLE AddExhaustStream(OBJHANDLE self, THRUSTER_HANDLE th, const VECTOR3 &pos,
                                    PARTICLESTREAMSPEC *pss) override;
    PSTREAM_HANDLE AddReentryStream(OBJHANDLE self, PARTICLESTREAMSPEC *pss) override;
    UINT CreateAnimation(OBJHANDLE self, double initialState) override;
    ANIMATIONCOMPONENT_HANDLE AddAnimationComponent(OBJHANDLE self, UINT anim, double state0,
                                                    double state1, MGROUP_TRANSFORM *trans,
                                                    ANIMATIONCOMPONENT_HANDLE parent) override;
    double GetAltitude(OBJHANDLE self) override;
    double GetAirspeed(OBJHANDLE self) override;
    double GetMass(OBJHANDLE self) override;
    double GetPitch(OBJHANDLE self) override;
    double GetBank(OBJHANDLE self) override;
    void GetAngularVel(OBJHANDLE self, VECTOR3 &avel) override;
    bool GetShipAirspeedVector(OBJHANDLE self, VECTOR3 &v) override;
    bool GetHorizonAirspeedVector(OBJHANDLE self, VECTOR3 &v) override;
    bool GetWeightVector(OBJHANDLE self, VECTOR3 &g) override;
    double GetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type) override;
    bool GroundContact(OBJHANDLE self) override;
    void SetThrusterLevel(OBJHANDLE self, THRUSTER_HANDLE th, double level) override;
    void SetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type, double level) override;
    bool ActivateNavmode(OBJHANDLE self, int mode) override;
    bool DeactivateNavmode(OBJHANDLE self, int mode) override;
    bool ToggleNavmode(OBJHANDLE self, int mode) override;
    void SetPropellantMass(OBJHANDLE self, PROPELLANT_HANDLE ph, double mass) override;
    bool SetAnimation(OBJHANDLE self, UINT anim, double state) override;
    void Local2Global(OBJHANDLE self, const VECTOR3 &local, VECTOR3 &global) override;
    void ParseScenarioLineEx(OBJHANDLE self, char *line, void *status) override;
    void SaveStandardState(OBJHANDLE self, FILEHANDLE scn) override;
    void DrawStandardHUD(OBJHANDLE self, int mode, const HUDPAINTSPEC *hps, HDC hdc) override;
    BOOL GetHeading(OBJHANDLE obj, double *heading) override;
    double GetSimTime() override;
    SURFHANDLE RegisterExhaustTexture(const char *name) override;
    DWORD GetVesselCount() override;
    OBJHANDLE GetVesselByIndex(int index) override;
    void GetGlobalPos(OBJHANDLE obj, VECTOR3 *pos) override;
    double GetSize(OBJHANDLE obj) override;
    double GetFuelMass(OBJHANDLE obj) override;
    void WriteScenarioInt(FILEHANDLE scn, const char *item, int value) override;
    void WriteScenarioString(FILEHANDLE scn, const char *item, const char *value) override;
    bool ReadScenarioNextline(FILEHANDLE scn, char *&line) override;
    NOTEHANDLE CreateAnnotation(bool exclusive, double size, const VECTOR3 &col) override;
    void AnnotationSetPos(NOTEHANDLE note, double x1, double y1, double x2, double y2) override;
    void AnnotationSetText(NOTEHANDLE note, const char *text) override;
    bool DelAnnotation(NOTEHANDLE note) override;
    void InitLib(HINSTANCE module) override;
    int Date2Int(const char *date) override;
    COLORREF SetHudTextColor(HDC hdc, COLORREF color) override;
    BOOL HudTextOut(HDC hdc, int x, int y, const char *text, int length) override;

private:
    Call &log(const char *name, OBJHANDLE vessel);
    void *newHandle();

    std::map<OBJHANDLE, VesselScript> vessels_;
    std::map<OBJHANDLE, std::set<int>> navmodes_;
    std::map<OBJHANDLE, UINT> animationCount_;
    std::map<OBJHANDLE, UINT> exhaustCount_;
    std::uintptr_t nextHandle_ = 0x1000;
    std::vector<char> lineBuffer_;
    COLORREF textColor_ = 0;
};

// Installs a backend for the lifetime of a scope.
class ScopedBackend {
public:
    explicit ScopedBackend(host::Backend &b) { host::InstallBackend(&b); }
    ~ScopedBackend() { host::InstallBackend(nullptr); }
    ScopedBackend(const ScopedBackend &) = delete;
    ScopedBackend &operator=(const ScopedBackend &) = delete;
};

// A fake vessel object handle for tests: distinct, non-null, never dereferenced.
inline OBJHANDLE FakeVesselHandle(int n) {
    return reinterpret_cast<OBJHANDLE>(static_cast<std::uintptr_t>(0xA0000 + 0x100 * n));
}

}  // namespace vtal::recording
