// The host library implements the host API (vessel methods, oapi... functions
// and, off Windows, the GDI text calls) by forwarding every call to the
// backend that the host program installs: a recording backend for exact unit
// tests, or the flight simulator. Modules never include this header.
#pragma once

#include "host/Orbitersdk.h"

namespace vtal::host {

class Backend {
public:
    virtual ~Backend() = default;

    // Definition. `self` is the calling vessel's object handle.
    virtual void SetCW(OBJHANDLE self, double zPos, double zNeg, double x, double y) = 0;
    virtual void SetRotDrag(OBJHANDLE self, const VECTOR3 &rd) = 0;
    virtual void SetSurfaceFrictionCoeff(OBJHANDLE self, double lng, double lat) = 0;
    virtual int GetFlightModel(OBJHANDLE self, int constructedWith) = 0;
    virtual void SetPitchMomentScale(OBJHANDLE self, double scale) = 0;
    virtual void SetBankMomentScale(OBJHANDLE self, double scale) = 0;
    virtual void SetTrimScale(OBJHANDLE self, double scale) = 0;
    virtual void SetPMI(OBJHANDLE self, const VECTOR3 &pmi) = 0;
    virtual void SetCrossSections(OBJHANDLE self, const VECTOR3 &cs) = 0;
    virtual void SetSize(OBJHANDLE self, double size) = 0;
    virtual void SetEmptyMass(OBJHANDLE self, double mass) = 0;
    virtual UINT AddMesh(OBJHANDLE self, const char *name, const VECTOR3 *ofs) = 0;
    virtual void SetMeshVisibilityMode(OBJHANDLE self, UINT idx, WORD mode) = 0;
    virtual void SetCameraOffset(OBJHANDLE self, const VECTOR3 &co) = 0;
    virtual void SetLiftCoeffFunc(OBJHANDLE self, double (*lcf)(double)) = 0;
    virtual void SetTouchdownPoints(OBJHANDLE self, const VECTOR3 &p1, const VECTOR3 &p2,
                                    const VECTOR3 &p3) = 0;
    virtual PROPELLANT_HANDLE CreatePropellantResource(OBJHANDLE self, double maxmass,
                                                       double mass, double efficiency) = 0;
    virtual THRUSTER_HANDLE CreateThruster(OBJHANDLE self, const VECTOR3 &pos, const VECTOR3 &dir,
                                           double maxth0, PROPELLANT_HANDLE hp, double isp0,
                                           double ispRef, double pRef) = 0;
    virtual THGROUP_HANDLE CreateThrusterGroup(OBJHANDLE self, THRUSTER_HANDLE *th, int nth,
                                               THGROUP_TYPE type) = 0;
    // `pos` and `dir` are null for a flame placed by its thruster.
    virtual UINT AddExhaust(OBJHANDLE self, THRUSTER_HANDLE th, double lscale, double wscale,
                            const VECTOR3 *pos, const VECTOR3 *dir, SURFHANDLE tex) = 0;
    virtual PSTREAM_HANDLE AddExhaustStream(OBJHANDLE self, THRUSTER_HANDLE th,
                                            const VECTOR3 &pos, PARTICLESTREAMSPEC *pss) = 0;
    virtual PSTREAM_HANDLE AddReentryStream(OBJHANDLE self, PARTICLESTREAMSPEC *pss) = 0;
    virtual UINT CreateAnimation(OBJHANDLE self, double initialState) = 0;
    virtual ANIMATIONCOMPONENT_HANDLE AddAnimationComponent(OBJHANDLE self, UINT anim,
                                                            double state0, double state1,
                                                            MGROUP_TRANSFORM *trans,
                                                            ANIMATIONCOMPONENT_HANDLE parent) = 0;

    // Flight state
    virtual double GetAltitude(OBJHANDLE self) = 0;
    virtual double GetAirspeed(OBJHANDLE self) = 0;
    virtual double GetMass(OBJHANDLE self) = 0;
    virtual double GetPitch(OBJHANDLE self) = 0;
    virtual double GetBank(OBJHANDLE self) = 0;
    virtual void GetAngularVel(OBJHANDLE self, VECTOR3 &avel) = 0;
    virtual bool GetShipAirspeedVector(OBJHANDLE self, VECTOR3 &v) = 0;
    virtual bool GetHorizonAirspeedVector(OBJHANDLE self, VECTOR3 &v) = 0;
    virtual bool GetWeightVector(OBJHANDLE self, VECTOR3 &g) = 0;
    virtual double GetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type) = 0;
    virtual bool GroundContact(OBJHANDLE self) = 0;

    // Commands
    virtual void SetThrusterLevel(OBJHANDLE self, THRUSTER_HANDLE th, double level) = 0;
    virtual void SetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type, double level) = 0;
    virtual bool ActivateNavmode(OBJHANDLE self, int mode) = 0;
    virtual bool DeactivateNavmode(OBJHANDLE self, int mode) = 0;
    virtual bool ToggleNavmode(OBJHANDLE self, int mode) = 0;
    virtual void SetPropellantMass(OBJHANDLE self, PROPELLANT_HANDLE ph, double mass) = 0;
    virtual bool SetAnimation(OBJHANDLE self, UINT anim, double state) = 0;

    // Frames and scenario
    virtual void Local2Global(OBJHANDLE self, const VECTOR3 &local, VECTOR3 &global) = 0;
    virtual void ParseScenarioLineEx(OBJHANDLE self, char *line, void *status) = 0;
    // The host's part of VESSEL2::clbkSaveState and clbkDrawHUD.
    virtual void SaveStandardState(OBJHANDLE self, FILEHANDLE scn) = 0;
    virtual void DrawStandardHUD(OBJHANDLE self, int mode, const HUDPAINTSPEC *hps, HDC hdc) = 0;

    // oapi... functions
    virtual BOOL GetHeading(OBJHANDLE obj, double *heading) = 0;
    virtual double GetSimTime() = 0;
    virtual SURFHANDLE RegisterExhaustTexture(const char *name) = 0;
    virtual DWORD GetVesselCount() = 0;
    virtual OBJHANDLE GetVesselByIndex(int index) = 0;
    virtual void GetGlobalPos(OBJHANDLE obj, VECTOR3 *pos) = 0;
    virtual double GetSize(OBJHANDLE obj) = 0;
    virtual double GetFuelMass(OBJHANDLE obj) = 0;
    virtual void WriteScenarioInt(FILEHANDLE scn, const char *item, int value) = 0;
    virtual void WriteScenarioString(FILEHANDLE scn, const char *item, const char *value) = 0;
    virtual bool ReadScenarioNextline(FILEHANDLE scn, char *&line) = 0;
    virtual NOTEHANDLE CreateAnnotation(bool exclusive, double size, const VECTOR3 &col) = 0;
    virtual void AnnotationSetPos(NOTEHANDLE note, double x1, double y1, double x2,
                                  double y2) = 0;
    virtual void AnnotationSetText(NOTEHANDLE note, const char *text) = 0;
    virtual bool DelAnnotation(NOTEHANDLE note) = 0;
    virtual void InitLib(HINSTANCE module) = 0;
    virtual int Date2Int(const char *date) = 0;

    // GDI text on the head-up display canvas
    virtual COLORREF SetHudTextColor(HDC hdc, COLORREF color) = 0;
    virtual BOOL HudTextOut(HDC hdc, int x, int y, const char *text, int length) = 0;
};

// Installs the backend that serves every host call from now on (null removes it).
// The caller keeps ownership. A host call with no backend installed aborts with
// a message: it is a fault of the host program.
OAPIFUNC void InstallBackend(Backend *backend);
OAPIFUNC Backend &CurrentBackend();

// The host's date conversion: "Mmm dd yyyy" -> (year % 100) * 10000 + month * 100
// + day. An unknown month counts as 0; missing numbers count as 0.
OAPIFUNC int ConvertDate(const char *date);

}  // namespace vtal::host
