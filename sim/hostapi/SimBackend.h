// The flight host's implementation of the host API: every call of a module
// lands here and acts on the world.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostlib/Backend.h"
#include "sim/world/World.h"

namespace vtal::sim {

class World;
struct Vessel;
struct Annotation;
struct Thruster;
struct Tank;

class SimBackend : public host::Backend {
public:
    explicit SimBackend(World &world) : world_(world) {}

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
    void SetTouchdownPoints(OBJHANDLE self, const VECTOR3 &p1, const VECTOR3 &p2, const VECTOR3 &p3) override;
    PROPELLANT_HANDLE CreatePropellantResource(OBJHANDLE self, double maxmass, double mass,
                                               double efficiency) override;
    THRUSTER_HANDLE CreateThruster(OBJHANDLE self, const VECTOR3 &pos, const VECTOR3 &dir, double maxth0,
                                   PROPELLANT_HANDLE hp, double isp0, double ispRef, double pRef) override;
    THGROUP_HANDLE CreateThrusterGroup(OBJHANDLE self, THRUSTER_HANDLE *th, int nth, THGROUP_TYPE type) override;
    UINT AddExhaust(OBJHANDLE self, THRUSTER_HANDLE th, double lscale, double wscale, const VECTOR3 *pos,
                    const VECTOR3 *dir, SURFHANDLE tex) override;
    PSTREAM_HANDLE AddExhaustStream(OBJHANDLE self, THRUSTER_HANDLE th, const VECTOR3 &pos,
                                    PARTICLESTREAMSPEC *pss) override;
    PSTREAM_HANDLE AddReentryStream(OBJHANDLE self, PARTICLESTREAMSPEC *pss) override;
    UINT CreateAnimation(OBJHANDLE self, double initialState) override;
    ANIMATIONCOMPONENT_HANDLE AddAnimationComponent(OBJHANDLE self, UINT anim, double state0, double state1,
                                                    MGROUP_TRANSFORM *trans,
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

    int InitLibCalls() const { return initLibCalls_; }



private:
    // A number from a module that is not finite is refused with a warning.
    bool Finite(const char *call, double x);
    bool Finite(const char *call, const VECTOR3 &v);
    Thruster *ThrusterOf(Vessel &v, THRUSTER_HANDLE h, const char *call);
    Tank *TankOf(Vessel &v, PROPELLANT_HANDLE h, const char *call);
    Annotation *AnnotationOf(NOTEHANDLE h);

    World &world_;
    int initLibCalls_ = 0;
    std::vector<std::unique_ptr<std::string>> textures_;  // handles are their addresses
};

// A world with this host API installed: what a run, a tool or a test flies.
std::unique_ptr<World> MakeWorld(const Scenario &scenario, const Installation &installation,
                                 const WorldOptions &options);

}  // namespace vtal::sim
