#include "recording/RecordingBackend.h"

#include <cstring>

namespace vtal::recording {
namespace {

void addNum(Call &c, double v) { c.args.emplace_back(v); }
void addInt(Call &c, long long v) { c.args.emplace_back(v); }
void addPtr(Call &c, const void *p) { c.args.emplace_back(p); }
void addText(Call &c, const char *s) { c.args.emplace_back(std::string(s ? s : "")); }
void addVec(Call &c, const VECTOR3 &v) {
    addNum(c, v.x);
    addNum(c, v.y);
    addNum(c, v.z);
}

// Every field of a particle-stream record, in the record's order.
void addStreamSpec(Call &c, const PARTICLESTREAMSPEC *pss) {
    addPtr(c, pss);
    if (!pss) return;
    addInt(c, static_cast<long long>(pss->flags));
    addNum(c, pss->srcsize);
    addNum(c, pss->srcrate);
    addNum(c, pss->v0);
    addNum(c, pss->srcspread);
    addNum(c, pss->lifetime);
    addNum(c, pss->growthrate);
    addNum(c, pss->atmslowdown);
    addInt(c, pss->ltype);
    addInt(c, pss->levelmap);
    addNum(c, pss->lmin);
    addNum(c, pss->lmax);
    addInt(c, pss->atmsmap);
    addNum(c, pss->amin);
    addNum(c, pss->amax);
    addPtr(c, pss->tex);
}

}  // namespace

RecordingBackend::RecordingBackend() = default;
RecordingBackend::~RecordingBackend() = default;

Call &RecordingBackend::log(const char *name, OBJHANDLE vessel) {
    calls.push_back(Call{name, vessel, {}});
    return calls.back();
}

void *RecordingBackend::newHandle() {
    nextHandle_ += 0x10;
    return reinterpret_cast<void *>(nextHandle_);
}

std::vector<Call> RecordingBackend::callsNamed(const std::string &name) const {
    std::vector<Call> out;
    for (const Call &c : calls)
        if (c.name == name) out.push_back(c);
    return out;
}

std::size_t RecordingBackend::count(const std::string &name) const {
    std::size_t n = 0;
    for (const Call &c : calls) n += (c.name == name);
    return n;
}

std::vector<std::string> RecordingBackend::names(std::size_t from) const {
    std::vector<std::string> out;
    for (std::size_t i = from; i < calls.size(); ++i) out.push_back(calls[i].name);
    return out;
}

// ----- definition
void RecordingBackend::SetCW(OBJHANDLE self, double zPos, double zNeg, double x, double y) {
    Call &c = log("SetCW", self);
    addNum(c, zPos);
    addNum(c, zNeg);
    addNum(c, x);
    addNum(c, y);
}
void RecordingBackend::SetRotDrag(OBJHANDLE self, const VECTOR3 &rd) { addVec(log("SetRotDrag", self), rd); }
void RecordingBackend::SetSurfaceFrictionCoeff(OBJHANDLE self, double lng, double lat) {
    Call &c = log("SetSurfaceFrictionCoeff", self);
    addNum(c, lng);
    addNum(c, lat);
}
int RecordingBackend::GetFlightModel(OBJHANDLE self, int constructedWith) {
    log("GetFlightModel", self);
    int scripted = vessel(self).flightModel;
    return scripted >= 0 ? scripted : constructedWith;
}
void RecordingBackend::SetPitchMomentScale(OBJHANDLE self, double s) { addNum(log("SetPitchMomentScale", self), s); }
void RecordingBackend::SetBankMomentScale(OBJHANDLE self, double s) { addNum(log("SetBankMomentScale", self), s); }
void RecordingBackend::SetTrimScale(OBJHANDLE self, double s) { addNum(log("SetTrimScale", self), s); }
void RecordingBackend::SetPMI(OBJHANDLE self, const VECTOR3 &pmi) { addVec(log("SetPMI", self), pmi); }
void RecordingBackend::SetCrossSections(OBJHANDLE self, const VECTOR3 &cs) { addVec(log("SetCrossSections", self), cs); }
void RecordingBackend::SetSize(OBJHANDLE self, double size) { addNum(log("SetSize", self), size); }
void RecordingBackend::SetEmptyMass(OBJHANDLE self, double mass) { addNum(log("SetEmptyMass", self), mass); }
UINT RecordingBackend::AddMesh(OBJHANDLE self, const char *name, const VECTOR3 *ofs) {
    Call &c = log("AddMesh", self);
    addText(c, name);
    addPtr(c, ofs);
    return 0;
}
void RecordingBackend::SetMeshVisibilityMode(OBJHANDLE self, UINT idx, WORD mode) {
    Call &c = log("SetMeshVisibilityMode", self);
    addInt(c, idx);
    addInt(c, mode);
}
void RecordingBackend::SetCameraOffset(OBJHANDLE self, const VECTOR3 &co) { addVec(log("SetCameraOffset", self), co); }
void RecordingBackend::SetLiftCoeffFunc(OBJHANDLE self, double (*lcf)(double)) {
    addPtr(log("SetLiftCoeffFunc", self), reinterpret_cast<const void *>(lcf));
}
void RecordingBackend::SetTouchdownPoints(OBJHANDLE self, const VECTOR3 &p1, const VECTOR3 &p2,
                                          const VECTOR3 &p3) {
    Call &c = log("SetTouchdownPoints", self);
    addVec(c, p1);
    addVec(c, p2);
    addVec(c, p3);
}
PROPELLANT_HANDLE RecordingBackend::CreatePropellantResource(OBJHANDLE self, double maxmass,
                                                             double mass, double efficiency) {
    Call &c = log("CreatePropellantResource", self);
    addNum(c, maxmass);
    addNum(c, mass);
    addNum(c, efficiency);
    void *h = newHandle();
    addPtr(c, h);  // the handle returned, last
    return h;
}
THRUSTER_HANDLE RecordingBackend::CreateThruster(OBJHANDLE self, const VECTOR3 &pos,
                                                 const VECTOR3 &dir, double maxth0,
                                                 PROPELLANT_HANDLE hp, double isp0,
                                                 double ispRef, double pRef) {
    Call &c = log("CreateThruster", self);
    addVec(c, pos);
    addVec(c, dir);
    addNum(c, maxth0);
    addPtr(c, hp);
    addNum(c, isp0);
    addNum(c, ispRef);
    addNum(c, pRef);
    void *h = newHandle();
    addPtr(c, h);  // the handle returned, last
    return h;
}
THGROUP_HANDLE RecordingBackend::CreateThrusterGroup(OBJHANDLE self, THRUSTER_HANDLE *th, int nth,
                                                     THGROUP_TYPE type) {
    Call &c = log("CreateThrusterGroup", self);
    addInt(c, nth);
    addInt(c, type);
    for (int i = 0; i < nth; ++i) addPtr(c, th[i]);
    return newHandle();
}
UINT RecordingBackend::AddExhaust(OBJHANDLE self, THRUSTER_HANDLE th, double lscale, double wscale,
                                  const VECTOR3 *pos, const VECTOR3 *dir, SURFHANDLE tex) {
    Call &c = log(pos ? "AddExhaust(pos,dir)" : "AddExhaust", self);
    addPtr(c, th);
    addNum(c, lscale);
    addNum(c, wscale);
    if (pos) addVec(c, *pos);
    if (dir) addVec(c, *dir);
    addPtr(c, tex);
    return exhaustCount_[self]++;
}
PSTREAM_HANDLE RecordingBackend::AddExhaustStream(OBJHANDLE self, THRUSTER_HANDLE th,
                                                  const VECTOR3 &pos, PARTICLESTREAMSPEC *pss) {
    Call &c = log("AddExhaustStream", self);
    addPtr(c, th);
    addVec(c, pos);
    addStreamSpec(c, pss);
    return newHandle();
}
PSTREAM_HANDLE RecordingBackend::AddReentryStream(OBJHANDLE self, PARTICLESTREAMSPEC *pss) {
    addStreamSpec(log("AddReentryStream", self), pss);
    return newHandle();
}
UINT RecordingBackend::CreateAnimation(OBJHANDLE self, double initialState) {
    Call &c = log("CreateAnimation", self);
    addNum(c, initialState);
    UINT id = animationCount_[self]++;
    addInt(c, id);  // the id returned, last
    return id;
}
ANIMATIONCOMPONENT_HANDLE RecordingBackend::AddAnimationComponent(
    OBJHANDLE self, UINT anim, double state0, double state1, MGROUP_TRANSFORM *trans,
    ANIMATIONCOMPONENT_HANDLE parent) {
    Call &c = log("AddAnimationComponent", self);
    addInt(c, anim);
    addNum(c, state0);
    addNum(c, state1);
    addPtr(c, trans);
    addPtr(c, parent);
    void *h = newHandle();
    addPtr(c, h);  // the handle returned, last
    return h;
}

// ----- flight state
double RecordingBackend::GetAltitude(OBJHANDLE self) { log("GetAltitude", self); return vessel(self).altitude; }
double RecordingBackend::GetAirspeed(OBJHANDLE self) { log("GetAirspeed", self); return vessel(self).airspeed; }
double RecordingBackend::GetMass(OBJHANDLE self) { log("GetMass", self); return vessel(self).mass; }
double RecordingBackend::GetPitch(OBJHANDLE self) { log("GetPitch", self); return vessel(self).pitch; }
double RecordingBackend::GetBank(OBJHANDLE self) { log("GetBank", self); return vessel(self).bank; }
void RecordingBackend::GetAngularVel(OBJHANDLE self, VECTOR3 &avel) {
    log("GetAngularVel", self);
    avel = vessel(self).angularVel;
}
bool RecordingBackend::GetShipAirspeedVector(OBJHANDLE self, VECTOR3 &v) {
    log("GetShipAirspeedVector", self);
    v = vessel(self).shipAirspeed;
    return true;
}
bool RecordingBackend::GetHorizonAirspeedVector(OBJHANDLE self, VECTOR3 &v) {
    log("GetHorizonAirspeedVector", self);
    v = vessel(self).horizonAirspeed;
    return true;
}
bool RecordingBackend::GetWeightVector(OBJHANDLE self, VECTOR3 &g) {
    log("GetWeightVector", self);
    g = vessel(self).weight;
    return true;
}
double RecordingBackend::GetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type) {
    addInt(log("GetThrusterGroupLevel", self), type);
    int t = static_cast<int>(type);
    return (t >= 0 && t < 16) ? vessel(self).groupLevel[t] : 0.0;
}
bool RecordingBackend::GroundContact(OBJHANDLE self) { log("GroundContact", self); return vessel(self).groundContact; }

// ----- commands
void RecordingBackend::SetThrusterLevel(OBJHANDLE self, THRUSTER_HANDLE th, double level) {
    Call &c = log("SetThrusterLevel", self);
    addPtr(c, th);
    addNum(c, level);
}
void RecordingBackend::SetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type, double level) {
    Call &c = log("SetThrusterGroupLevel", self);
    addInt(c, type);
    addNum(c, level);
}
bool RecordingBackend::ActivateNavmode(OBJHANDLE self, int mode) {
    addInt(log("ActivateNavmode", self), mode);
    return navmodes_[self].insert(mode).second;
}
bool RecordingBackend::DeactivateNavmode(OBJHANDLE self, int mode) {
    addInt(log("DeactivateNavmode", self), mode);
    return navmodes_[self].erase(mode) > 0;
}
bool RecordingBackend::ToggleNavmode(OBJHANDLE self, int mode) {
    addInt(log("ToggleNavmode", self), mode);
    auto &modes = navmodes_[self];
    if (!modes.erase(mode)) modes.insert(mode);
    return true;
}
void RecordingBackend::SetPropellantMass(OBJHANDLE self, PROPELLANT_HANDLE ph, double mass) {
    Call &c = log("SetPropellantMass", self);
    addPtr(c, ph);
    addNum(c, mass);
}
bool RecordingBackend::SetAnimation(OBJHANDLE self, UINT anim, double state) {
    Call &c = log("SetAnimation", self);
    addInt(c, anim);
    addNum(c, state);
    return true;
}

// ----- frames and scenario
void RecordingBackend::Local2Global(OBJHANDLE self, const VECTOR3 &local, VECTOR3 &global) {
    addVec(log("Local2Global", self), local);
    const VECTOR3 &o = vessel(self).globalPos;
    global = _V(o.x + local.x, o.y + local.y, o.z + local.z);
}
void RecordingBackend::ParseScenarioLineEx(OBJHANDLE self, char *line, void *status) {
    Call &c = log("ParseScenarioLineEx", self);
    addText(c, line);
    addPtr(c, status);
}
void RecordingBackend::SaveStandardState(OBJHANDLE self, FILEHANDLE scn) {
    addPtr(log("SaveStandardState", self), scn);
}
void RecordingBackend::DrawStandardHUD(OBJHANDLE self, int mode, const HUDPAINTSPEC *hps, HDC hdc) {
    Call &c = log("DrawStandardHUD", self);
    addInt(c, mode);
    addPtr(c, hps);
    addPtr(c, hdc);
}

// ----- oapi...
BOOL RecordingBackend::GetHeading(OBJHANDLE obj, double *heading) {
    addPtr(log("oapiGetHeading", nullptr), obj);
    *heading = vessel(obj).heading;
    return TRUE;
}
double RecordingBackend::GetSimTime() { log("oapiGetSimTime", nullptr); return simTime; }
SURFHANDLE RecordingBackend::RegisterExhaustTexture(const char *name) {
    Call &c = log("oapiRegisterExhaustTexture", nullptr);
    addText(c, name);
    void *h = newHandle();
    addPtr(c, h);  // the handle returned, last
    return h;
}
DWORD RecordingBackend::GetVesselCount() {
    log("oapiGetVesselCount", nullptr);
    return static_cast<DWORD>(vesselList.size());
}
OBJHANDLE RecordingBackend::GetVesselByIndex(int index) {
    addInt(log("oapiGetVesselByIndex", nullptr), index);
    return (index >= 0 && static_cast<std::size_t>(index) < vesselList.size()) ? vesselList[index] : nullptr;
}
void RecordingBackend::GetGlobalPos(OBJHANDLE obj, VECTOR3 *pos) {
    addPtr(log("oapiGetGlobalPos", nullptr), obj);
    *pos = vessel(obj).globalPos;
}
double RecordingBackend::GetSize(OBJHANDLE obj) { addPtr(log("oapiGetSize", nullptr), obj); return vessel(obj).size; }
double RecordingBackend::GetFuelMass(OBJHANDLE obj) { addPtr(log("oapiGetFuelMass", nullptr), obj); return vessel(obj).fuelMass; }
void RecordingBackend::WriteScenarioInt(FILEHANDLE scn, const char *item, int value) {
    Call &c = log("oapiWriteScenario_int", nullptr);
    addPtr(c, scn);
    addText(c, item);
    addInt(c, value);
    writtenLines.push_back(std::string(item) + " " + std::to_string(value));
}
void RecordingBackend::WriteScenarioString(FILEHANDLE scn, const char *item, const char *value) {
    Call &c = log("oapiWriteScenario_string", nullptr);
    addPtr(c, scn);
    addText(c, item);
    addText(c, value);
    writtenLines.push_back(std::string(item) + " " + value);
}
bool RecordingBackend::ReadScenarioNextline(FILEHANDLE scn, char *&line) {
    addPtr(log("oapiReadScenario_nextline", nullptr), scn);
    if (scenarioLines.empty()) return false;
    const std::string &next = scenarioLines.front();
    lineBuffer_.assign(next.begin(), next.end());
    lineBuffer_.push_back('\0');
    scenarioLines.pop_front();
    line = lineBuffer_.data();
    return true;
}
NOTEHANDLE RecordingBackend::CreateAnnotation(bool exclusive, double size, const VECTOR3 &col) {
    Call &c = log("oapiCreateAnnotation", nullptr);
    addInt(c, exclusive ? 1 : 0);
    addNum(c, size);
    addVec(c, col);
    void *h = newHandle();
    addPtr(c, h);  // the handle returned, last
    return h;
}
void RecordingBackend::AnnotationSetPos(NOTEHANDLE note, double x1, double y1, double x2, double y2) {
    Call &c = log("oapiAnnotationSetPos", nullptr);
    addPtr(c, note);
    addNum(c, x1);
    addNum(c, y1);
    addNum(c, x2);
    addNum(c, y2);
}
void RecordingBackend::AnnotationSetText(NOTEHANDLE note, const char *text) {
    Call &c = log("oapiAnnotationSetText", nullptr);
    addPtr(c, note);
    addText(c, text);
}
bool RecordingBackend::DelAnnotation(NOTEHANDLE note) {
    addPtr(log("oapiDelAnnotation", nullptr), note);
    return true;
}
void RecordingBackend::InitLib(HINSTANCE module) { addPtr(log("InitLib", nullptr), module); }
int RecordingBackend::Date2Int(const char *date) {
    addText(log("Date2Int", nullptr), date);
    return host::ConvertDate(date);
}

// ----- GDI
COLORREF RecordingBackend::SetHudTextColor(HDC hdc, COLORREF color) {
    Call &c = log("SetTextColor", nullptr);
    addPtr(c, hdc);
    addInt(c, static_cast<long long>(color));
    COLORREF previous = textColor_;
    textColor_ = color;
    return previous;
}
BOOL RecordingBackend::HudTextOut(HDC hdc, int x, int y, const char *text, int length) {
    Call &c = log("TextOutA", nullptr);
    addPtr(c, hdc);
    addInt(c, x);
    addInt(c, y);
    std::string s = (text && length > 0) ? std::string(text, static_cast<std::size_t>(length)) : std::string();
    c.args.emplace_back(s);
    addInt(c, length);
    textRuns.push_back(TextRun{x, y, textColor_, s});
    return TRUE;
}

}  // namespace vtal::recording
