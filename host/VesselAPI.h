// The host's vessel classes. VESSEL gives a module access to its vessel in the
// simulation; VESSEL2 adds the callbacks through which the host drives it.
// Every callback of VESSEL2 keeps the host's default behaviour unless a
// module overrides it.
//
// The shapes are the host's: VESSEL has no virtual function at all, not even
// its destructor, so the virtual table pointer comes in with VESSEL2 and a
// VESSEL* need not hold the address of the object it points into. A vessel
// object is deleted as its own class, never through VESSEL* or VESSEL2*.
#pragma once

#include "OrbiterAPI.h"

// The host's own vessel object; a module sees it only through VESSEL. (The
// host's headers call it Vessel; a name of its own here keeps it apart from
// the flight host's vessel records.)
class HostVessel;

class OAPIFUNC VESSEL {
public:
    VESSEL(OBJHANDLE hVessel, int fmodel = 1);
    ~VESSEL();

    // The host's signature carries a top-level const on the returned handle.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#endif
    const OBJHANDLE GetHandle() const;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

    // Definition
    void SetCW(double cw_z_pos, double cw_z_neg, double cw_x, double cw_y) const;
    void SetRotDrag(const VECTOR3 &rd) const;
    void SetSurfaceFrictionCoeff(double mu_lng, double mu_lat) const;
    int GetFlightModel() const;
    void SetPitchMomentScale(double scale) const;
    void SetBankMomentScale(double scale) const;
    void SetTrimScale(double scale) const;
    void SetPMI(const VECTOR3 &pmi) const;
    void SetCrossSections(const VECTOR3 &cs) const;
    void SetSize(double size) const;
    void SetEmptyMass(double emass) const;
    UINT AddMesh(const char *meshname, const VECTOR3 *ofs = 0) const;
    void SetMeshVisibilityMode(UINT idx, WORD mode) const;
    void SetCameraOffset(const VECTOR3 &co) const;
    void SetLiftCoeffFunc(double (*lcf)(double aoa)) const;
    void SetTouchdownPoints(const VECTOR3 &pt1, const VECTOR3 &pt2, const VECTOR3 &pt3) const;
    PROPELLANT_HANDLE CreatePropellantResource(double maxmass, double mass = -1.0,
                                               double efficiency = 1.0) const;
    THRUSTER_HANDLE CreateThruster(const VECTOR3 &pos, const VECTOR3 &dir, double maxth0,
                                   PROPELLANT_HANDLE hp = NULL, double isp0 = 0.0,
                                   double isp_ref = 0.0, double p_ref = 101.4e3) const;
    THGROUP_HANDLE CreateThrusterGroup(THRUSTER_HANDLE *th, int nth, THGROUP_TYPE thgt) const;
    UINT AddExhaust(THRUSTER_HANDLE th, double lscale, double wscale, SURFHANDLE tex = 0) const;
    UINT AddExhaust(THRUSTER_HANDLE th, double lscale, double wscale, const VECTOR3 &pos,
                    const VECTOR3 &dir, SURFHANDLE tex = 0) const;
    PSTREAM_HANDLE AddExhaustStream(THRUSTER_HANDLE th, const VECTOR3 &pos,
                                    PARTICLESTREAMSPEC *pss = 0) const;
    PSTREAM_HANDLE AddReentryStream(PARTICLESTREAMSPEC *pss) const;
    UINT CreateAnimation(double initial_state) const;
    ANIMATIONCOMPONENT_HANDLE AddAnimationComponent(UINT anim, double state0, double state1,
                                                    MGROUP_TRANSFORM *trans,
                                                    ANIMATIONCOMPONENT_HANDLE parent = NULL) const;

    // Flight state
    double GetAltitude() const;
    double GetAirspeed() const;
    double GetMass() const;
    double GetPitch() const;
    double GetBank() const;
    void GetAngularVel(VECTOR3 &avel) const;
    bool GetShipAirspeedVector(VECTOR3 &v) const;
    bool GetHorizonAirspeedVector(VECTOR3 &v) const;
    bool GetWeightVector(VECTOR3 &G) const;
    double GetThrusterGroupLevel(THGROUP_TYPE thgt) const;
    bool GroundContact() const;

    // Commands
    void SetThrusterLevel(THRUSTER_HANDLE th, double level) const;
    void SetThrusterGroupLevel(THGROUP_TYPE thgt, double level) const;
    bool ActivateNavmode(int mode);
    bool DeactivateNavmode(int mode);
    bool ToggleNavmode(int mode);
    void SetPropellantMass(PROPELLANT_HANDLE ph, double mass) const;
    bool SetAnimation(UINT anim, double state) const;

    // Frames and scenario
    void Local2Global(const VECTOR3 &local, VECTOR3 &global) const;
    void ParseScenarioLineEx(char *line, void *status) const;

protected:
    HostVessel *vessel; // the host's vessel object behind the handle
    short flightmodel;  // flight model asked for at creation: 0 simple, 1 realistic
    short version;      // interface version of the class: 0 VESSEL, 1 VESSEL2
};

class OAPIFUNC VESSEL2 : public VESSEL {
public:
    VESSEL2(OBJHANDLE hVessel, int fmodel = 1);

    // The callbacks, in the order of their slots in the host's virtual table.
    // Defaults: nothing done, false or 0 returned, except where noted.
    virtual void clbkSetClassCaps(FILEHANDLE cfg);
    // Writes the host's standard vessel lines.
    virtual void clbkSaveState(FILEHANDLE scn);
    // Hands every line of the vessel's block to ParseScenarioLineEx.
    virtual void clbkLoadStateEx(FILEHANDLE scn, void *status);
    virtual void clbkSetStateEx(const void *status);
    virtual void clbkPostCreation();
    virtual void clbkFocusChanged(bool getfocus, OBJHANDLE hNewVessel, OBJHANDLE hOldVessel);
    virtual void clbkPreStep(double simt, double simdt, double mjd);
    virtual void clbkPostStep(double simt, double simdt, double mjd);
    virtual bool clbkPlaybackEvent(double simt, double event_t, const char *event_type, const char *event);
    virtual void clbkVisualCreated(VISHANDLE vis, int refcount);
    virtual void clbkVisualDestroyed(VISHANDLE vis, int refcount);
    // Paints the host's own head-up display elements.
    virtual void clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC);
    virtual void clbkRCSMode(int mode);
    virtual void clbkADCtrlMode(DWORD mode);
    virtual void clbkHUDMode(int mode);
    virtual void clbkMFDMode(int mfd, int mode);
    virtual void clbkNavMode(int mode, bool active);
    virtual void clbkDockEvent(int dock, OBJHANDLE mate);
    virtual void clbkAnimate(double simt);
    virtual int clbkConsumeDirectKey(char *kstate);
    virtual int clbkConsumeBufferedKey(DWORD key, bool down, char *kstate);
    virtual bool clbkLoadGenericCockpit();
    virtual bool clbkLoadPanel(int id);
    virtual bool clbkPanelMouseEvent(int id, int event, int mx, int my);
    virtual bool clbkPanelRedrawEvent(int id, int event, SURFHANDLE surf);
    virtual bool clbkLoadVC(int id);
    virtual bool clbkVCMouseEvent(int id, int event, VECTOR3 &p);
    virtual bool clbkVCRedrawEvent(int id, int event, SURFHANDLE surf);
};
