#include "sim/hostapi/SimBackend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>

#include "sim/vessel/Contact.h"
#include "sim/vessel/Actuation.h"
#include "sim/vessel/FlightState.h"
#include "sim/world/World.h"

namespace vtal::sim {
namespace {

Vessel &Self(OBJHANDLE h) { return *VesselOf(h); }

// Inside a post-step the host answers position, velocity, attitude and rates
// from the state before the step.
Kinematics Seen(const World &world, const Vessel &v) { return world.InPostStep() ? v.motionBefore : v.motion; }

// Stream handles only identify a stream; the host never reads through them.
PSTREAM_HANDLE StreamHandle(std::size_t count) {
    return reinterpret_cast<PSTREAM_HANDLE>(static_cast<std::uintptr_t>(0x5000 + count));
}

}  // namespace

bool SimBackend::Finite(const char *call, double x) {
    if (std::isfinite(x)) return true;
    world_.WarnOnce(std::string(call) + " was handed a value that is not a number; the call is ignored");
    return false;
}

bool SimBackend::Finite(const char *call, const VECTOR3 &v) {
    return Finite(call, v.x) && Finite(call, v.y) && Finite(call, v.z);
}

Thruster *SimBackend::ThrusterOf(Vessel &v, THRUSTER_HANDLE h, const char *call) {
    for (const auto &t : v.actuators.thrusters)
        if (t.get() == h) return t.get();
    world_.WarnOnce(std::string(call) + " was handed a thruster handle of no thruster of the vessel; ignored");
    return nullptr;
}

Tank *SimBackend::TankOf(Vessel &v, PROPELLANT_HANDLE h, const char *call) {
    for (const auto &t : v.actuators.tanks)
        if (t.get() == h) return t.get();
    if (h) world_.WarnOnce(std::string(call) + " was handed a propellant handle of no tank of the vessel; ignored");
    return nullptr;
}

Annotation *SimBackend::AnnotationOf(NOTEHANDLE h) { return world_.Notes().Find(h); }

// ----- definition
void SimBackend::SetCW(OBJHANDLE self, double zPos, double zNeg, double x, double y) {
    if (!Finite("SetCW", zPos) || !Finite("SetCW", zNeg) || !Finite("SetCW", x) || !Finite("SetCW", y)) return;
    VesselDefinition &d = Self(self).def;
    d.cwZPos = zPos, d.cwZNeg = zNeg, d.cwX = x, d.cwY = y;
}
void SimBackend::SetRotDrag(OBJHANDLE self, const VECTOR3 &rd) {
    if (Finite("SetRotDrag", rd)) Self(self).def.rotDrag = ToVec(rd);
}
void SimBackend::SetSurfaceFrictionCoeff(OBJHANDLE self, double lng, double lat) {
    if (!Finite("SetSurfaceFrictionCoeff", lng) || !Finite("SetSurfaceFrictionCoeff", lat)) return;
    Self(self).def.frictionLng = std::max(0.0, lng);
    Self(self).def.frictionLat = std::max(0.0, lat);
}
int SimBackend::GetFlightModel(OBJHANDLE, int constructedWith) { return constructedWith; }
void SimBackend::SetPitchMomentScale(OBJHANDLE self, double s) {
    if (Finite("SetPitchMomentScale", s)) Self(self).def.pitchMomentScale = s;
}
void SimBackend::SetBankMomentScale(OBJHANDLE self, double s) {
    if (Finite("SetBankMomentScale", s)) Self(self).def.bankMomentScale = s;
}
void SimBackend::SetTrimScale(OBJHANDLE self, double s) {
    if (Finite("SetTrimScale", s)) Self(self).def.trimScale = s;
}
void SimBackend::SetPMI(OBJHANDLE self, const VECTOR3 &pmi) {
    if (!Finite("SetPMI", pmi)) return;
    if (pmi.x <= 0.0 || pmi.y <= 0.0 || pmi.z <= 0.0) {
        world_.WarnOnce("SetPMI: principal moments must be positive; ignored");
        return;
    }
    Self(self).def.pmi = ToVec(pmi);
}
void SimBackend::SetCrossSections(OBJHANDLE self, const VECTOR3 &cs) {
    if (Finite("SetCrossSections", cs)) Self(self).def.crossSections = ToVec(cs).cwiseMax(0.0);
}
void SimBackend::SetSize(OBJHANDLE self, double size) {
    if (Finite("SetSize", size)) Self(self).def.size = std::max(0.0, size);
}
void SimBackend::SetEmptyMass(OBJHANDLE self, double mass) {
    if (!Finite("SetEmptyMass", mass)) return;
    if (mass <= 0.0) {
        world_.WarnOnce("SetEmptyMass: the mass must be positive; ignored");
        return;
    }
    Self(self).def.emptyMass = mass;
}
UINT SimBackend::AddMesh(OBJHANDLE self, const char *name, const VECTOR3 *ofs) {
    Vessel &v = Self(self);
    MeshRecord m;
    m.name = name ? name : "";
    if (ofs && Finite("AddMesh", *ofs)) m.offset = ToVec(*ofs);
    v.def.meshes.push_back(m);
    return static_cast<UINT>(v.def.meshes.size() - 1);
}
void SimBackend::SetMeshVisibilityMode(OBJHANDLE self, UINT idx, WORD mode) {
    Vessel &v = Self(self);
    if (idx < v.def.meshes.size()) v.def.meshes[idx].visibility = mode;
}
void SimBackend::SetCameraOffset(OBJHANDLE self, const VECTOR3 &co) {
    if (Finite("SetCameraOffset", co)) Self(self).def.cameraOffset = ToVec(co);
}
void SimBackend::SetLiftCoeffFunc(OBJHANDLE self, double (*lcf)(double)) { Self(self).def.liftCoeff = lcf; }
void SimBackend::SetTouchdownPoints(OBJHANDLE self, const VECTOR3 &p1, const VECTOR3 &p2, const VECTOR3 &p3) {
    if (!Finite("SetTouchdownPoints", p1) || !Finite("SetTouchdownPoints", p2) || !Finite("SetTouchdownPoints", p3))
        return;
    Vessel &v = Self(self);
    if (!sim::SetTouchdownPoints(v.def, ToVec(p1), ToVec(p2), ToVec(p3))) {
        world_.WarnOnce("SetTouchdownPoints: the three points span no plane; ignored");
        return;
    }
    v.contact.touchdownPointsChanged = true;
}
PROPELLANT_HANDLE SimBackend::CreatePropellantResource(OBJHANDLE self, double maxmass, double mass,
                                                       double efficiency) {
    Vessel &v = Self(self);
    auto tank = std::make_unique<Tank>();
    tank->owner = &v;
    tank->maxMass = std::isfinite(maxmass) ? std::max(0.0, maxmass) : 0.0;
    tank->mass = (!std::isfinite(mass) || mass < 0.0) ? tank->maxMass : std::min(mass, tank->maxMass);
    tank->efficiency = std::isfinite(efficiency) && efficiency > 0.0 ? efficiency : 1.0;
    v.actuators.tanks.push_back(std::move(tank));
    return v.actuators.tanks.back().get();
}
THRUSTER_HANDLE SimBackend::CreateThruster(OBJHANDLE self, const VECTOR3 &pos, const VECTOR3 &dir, double maxth0,
                                           PROPELLANT_HANDLE hp, double isp0, double ispRef, double pRef) {
    Vessel &v = Self(self);
    auto t = std::make_unique<Thruster>();
    t->owner = &v;
    if (Finite("CreateThruster", pos)) t->pos = ToVec(pos);
    if (Finite("CreateThruster", dir) && ToVec(dir).norm() > 0.0) t->dir = ToVec(dir).normalized();
    t->maxThrust = std::isfinite(maxth0) ? std::max(0.0, maxth0) : 0.0;
    t->tank = TankOf(v, hp, "CreateThruster");
    t->isp0 = std::isfinite(isp0) ? std::max(0.0, isp0) : 0.0;
    t->ispRef = std::isfinite(ispRef) ? std::max(0.0, ispRef) : 0.0;
    t->pRef = std::isfinite(pRef) ? pRef : 101.4e3;
    v.actuators.thrusters.push_back(std::move(t));
    return v.actuators.thrusters.back().get();
}
THGROUP_HANDLE SimBackend::CreateThrusterGroup(OBJHANDLE self, THRUSTER_HANDLE *th, int nth, THGROUP_TYPE type) {
    Vessel &v = Self(self);
    auto g = std::make_unique<ThrusterGroup>();
    g->type = type;
    for (int i = 0; th && i < nth; ++i)
        if (Thruster *t = ThrusterOf(v, th[i], "CreateThrusterGroup")) g->members.push_back(t);
    g->largestMoment = LargestMoment(*g);
    ThrusterGroup *raw = g.get();
    v.actuators.groups.push_back(std::move(g));
    // One group per type, as in the host: a later definition replaces the earlier.
    if (type >= 0 && type < kGroupTypes) v.actuators.groupByType[type] = raw;
    return raw;
}
UINT SimBackend::AddExhaust(OBJHANDLE self, THRUSTER_HANDLE th, double lscale, double wscale, const VECTOR3 *pos,
                            const VECTOR3 *dir, SURFHANDLE tex) {
    Vessel &v = Self(self);
    ExhaustRecord e;
    e.thruster = ThrusterOf(v, th, "AddExhaust");
    e.length = lscale;
    e.width = wscale;
    e.texture = tex;
    if (pos && dir) {
        e.placedByThruster = false;
        e.pos = ToVec(*pos);
        e.dir = ToVec(*dir);
    } else if (e.thruster) {
        // A flame bound to its thruster points against the thrust.
        e.pos = e.thruster->pos;
        e.dir = -e.thruster->dir;
    }
    v.def.exhausts.push_back(e);
    return static_cast<UINT>(v.def.exhausts.size() - 1);
}
PSTREAM_HANDLE SimBackend::AddExhaustStream(OBJHANDLE self, THRUSTER_HANDLE th, const VECTOR3 &pos,
                                            PARTICLESTREAMSPEC *pss) {
    Vessel &v = Self(self);
    StreamRecord s;
    s.thruster = ThrusterOf(v, th, "AddExhaustStream");
    s.pos = ToVec(pos);
    if (pss) s.spec = *pss;
    s.createdAt = world_.SimTime();
    v.def.streams.push_back(s);
    return StreamHandle(v.def.streams.size());
}
PSTREAM_HANDLE SimBackend::AddReentryStream(OBJHANDLE self, PARTICLESTREAMSPEC *pss) {
    Vessel &v = Self(self);
    StreamRecord s;
    if (pss) s.spec = *pss;
    s.createdAt = world_.SimTime();
    v.def.streams.push_back(s);
    return StreamHandle(v.def.streams.size());
}
UINT SimBackend::CreateAnimation(OBJHANDLE self, double initialState) {
    Vessel &v = Self(self);
    Animation a;
    a.initialState = a.state = std::isfinite(initialState) ? initialState : 0.0;
    v.actuators.animations.push_back(a);
    return static_cast<UINT>(v.actuators.animations.size() - 1);
}
ANIMATIONCOMPONENT_HANDLE SimBackend::AddAnimationComponent(OBJHANDLE self, UINT anim, double state0,
                                                            double state1, MGROUP_TRANSFORM *trans,
                                                            ANIMATIONCOMPONENT_HANDLE parent) {
    Vessel &v = Self(self);
    if (anim >= v.actuators.animations.size() || !trans || !std::isfinite(state0) || !std::isfinite(state1)) {
        world_.WarnOnce("AddAnimationComponent: no such animation, no transform or a range that is not a number; ignored");
        return nullptr;
    }
    auto c = std::make_unique<AnimationComponent>();
    c->animation = anim;
    c->state0 = state0;
    c->state1 = state1;
    c->transform = trans;
    for (const auto &other : v.actuators.components)
        if (other.get() == parent) c->parent = other.get();
    if (parent && !c->parent) world_.WarnOnce("AddAnimationComponent: unknown parent component; added without parent");
    v.actuators.animations[anim].components.push_back(c.get());
    v.actuators.components.push_back(std::move(c));
    return v.actuators.components.back().get();
}

// ----- flight state
// Surface quantities are those the host computed at the end of the last step.
double SimBackend::GetAltitude(OBJHANDLE self) { return Self(self).surface.altitude; }
double SimBackend::GetAirspeed(OBJHANDLE self) { return Self(self).surface.airspeedVessel.norm(); }
double SimBackend::GetMass(OBJHANDLE self) { return Self(self).Mass(); }
double SimBackend::GetPitch(OBJHANDLE self) { return Self(self).surface.pitchRad; }
double SimBackend::GetBank(OBJHANDLE self) { return Self(self).surface.bankRad; }
void SimBackend::GetAngularVel(OBJHANDLE self, VECTOR3 &avel) { avel = ToVector3(Seen(world_, Self(self)).bodyRates); }
bool SimBackend::GetShipAirspeedVector(OBJHANDLE self, VECTOR3 &v) {
    v = ToVector3(Self(self).surface.airspeedVessel);
    return true;
}
bool SimBackend::GetHorizonAirspeedVector(OBJHANDLE self, VECTOR3 &v) {
    v = ToVector3(Self(self).surface.airspeedHorizon);
    return true;
}
// Gravity of the body alone (the host adds the Sun's and the planets'), at
// the pose from before the step being computed.
bool SimBackend::GetWeightVector(OBJHANDLE self, VECTOR3 &g) {
    const Vessel &v = Self(self);
    const Kinematics k = Seen(world_, v);
    g = ToVector3(k.attitude.conjugate() * GravityForce(k.positionGlobal, v.Mass(), world_.Body()));
    return true;
}
double SimBackend::GetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type) { return GroupLevel(Self(self).Group(type)); }
bool SimBackend::GroundContact(OBJHANDLE self) { return Self(self).contact.groundContact; }

// ----- commands
void SimBackend::SetThrusterLevel(OBJHANDLE self, THRUSTER_HANDLE th, double level) {
    if (!Finite("SetThrusterLevel", level)) return;
    if (Thruster *t = ThrusterOf(Self(self), th, "SetThrusterLevel")) sim::SetThrusterLevel(*t, level);
}
void SimBackend::SetThrusterGroupLevel(OBJHANDLE self, THGROUP_TYPE type, double level) {
    if (Finite("SetThrusterGroupLevel", level)) SetGroupLevel(Self(self), type, level);
}
bool SimBackend::ActivateNavmode(OBJHANDLE self, int mode) { return sim::ActivateNavmode(Self(self), mode); }
bool SimBackend::DeactivateNavmode(OBJHANDLE self, int mode) { return sim::DeactivateNavmode(Self(self), mode); }
bool SimBackend::ToggleNavmode(OBJHANDLE self, int mode) { return sim::ToggleNavmode(Self(self), mode); }
void SimBackend::SetPropellantMass(OBJHANDLE self, PROPELLANT_HANDLE ph, double mass) {
    if (!Finite("SetPropellantMass", mass)) return;
    Tank *t = TankOf(Self(self), ph, "SetPropellantMass");
    if (!t) return;
    if (mass > t->maxMass) world_.WarnOnce("SetPropellantMass: a tank was filled beyond its maximum, as the host allows");
    t->mass = mass;
}
bool SimBackend::SetAnimation(OBJHANDLE self, UINT anim, double state) {
    Vessel &v = Self(self);
    if (anim >= v.actuators.animations.size() || !Finite("SetAnimation", state)) return false;
    v.actuators.animations[anim].state = state;
    return true;
}

// ----- frames and scenario
void SimBackend::Local2Global(OBJHANDLE self, const VECTOR3 &local, VECTOR3 &global) {
    const Kinematics k = Seen(world_, Self(self));
    global = ToVector3(k.positionGlobal + k.attitude * ToVec(local));
}
void SimBackend::ParseScenarioLineEx(OBJHANDLE self, char *line, void *status) {
    if (!line) return;
    if (!status) {
        world_.WarnOnce("ParseScenarioLineEx was handed no status; the line is ignored");
        return;
    }
    auto &st = *static_cast<StandardStatus *>(status);
    const LineResult r = ParseStandardLine(line, st);
    if (!r.error.empty()) {
        world_.Warn(Self(self).name + ": " + r.error + "; the line is ignored");
    } else if (r.kind == LineKind::Other && !r.key.empty()) {
        // Neither the module's nor the host's: carried unchanged.
        world_.WarnOnce("vessel line " + r.key + " is understood by neither the module nor the host; carried unchanged");
        st.carried.emplace_back(r.key, line);
    }
}
void SimBackend::SaveStandardState(OBJHANDLE self, FILEHANDLE scn) {
    auto *writer = static_cast<ScenarioWriter *>(scn);
    if (!writer || writer->moduleLinesOnly) return;
    WriteStandardLines(Self(self), world_.Body(), writer->precise, writer->text);
}
void SimBackend::DrawStandardHUD(OBJHANDLE self, int, const HUDPAINTSPEC *hps, HDC hdc) {
    if (!hdc || !hps) return;
    PaintStandardHud(Self(self), world_.Body(), *hps, *hdc);
}

// ----- oapi...
BOOL SimBackend::GetHeading(OBJHANDLE obj, double *heading) {
    if (!heading || !world_.IsVessel(obj)) return FALSE;
    *heading = Self(obj).surface.headingRad;
    return TRUE;
}
double SimBackend::GetSimTime() { return world_.SimTime(); }
SURFHANDLE SimBackend::RegisterExhaustTexture(const char *name) {
    textures_.push_back(std::make_unique<std::string>(name ? name : ""));
    return textures_.back().get();
}
DWORD SimBackend::GetVesselCount() { return static_cast<DWORD>(world_.Vessels().size()); }
OBJHANDLE SimBackend::GetVesselByIndex(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= world_.Vessels().size()) return nullptr;
    return HandleOf(world_.Vessels()[static_cast<std::size_t>(index)].get());
}
void SimBackend::GetGlobalPos(OBJHANDLE obj, VECTOR3 *pos) {
    if (!pos) return;
    *pos = world_.IsVessel(obj) ? ToVector3(Seen(world_, Self(obj)).positionGlobal) : _V(0.0, 0.0, 0.0);
}
double SimBackend::GetSize(OBJHANDLE obj) { return world_.IsVessel(obj) ? Self(obj).def.size : 0.0; }
double SimBackend::GetFuelMass(OBJHANDLE obj) { return world_.IsVessel(obj) ? Self(obj).PropellantMass() : 0.0; }
void SimBackend::WriteScenarioInt(FILEHANDLE scn, const char *item, int value) {
    if (!scn || !item) return;
    auto &text = static_cast<ScenarioWriter *>(scn)->text;
    text += "  ";
    text += item;
    text += ' ';
    text += std::to_string(value);
    text += '\n';
}
void SimBackend::WriteScenarioString(FILEHANDLE scn, const char *item, const char *value) {
    if (!scn || !item) return;
    auto &text = static_cast<ScenarioWriter *>(scn)->text;
    text += "  ";
    text += item;
    text += ' ';
    text += value ? value : "";
    text += '\n';
}
bool SimBackend::ReadScenarioNextline(FILEHANDLE scn, char *&line) {
    auto *feed = static_cast<ScenarioLineFeed *>(scn);
    if (!feed || !feed->lines || feed->next >= feed->lines->size()) return false;
    const std::string &text = (*feed->lines)[feed->next++].text;
    feed->buffer.assign(text.begin(), text.end());
    feed->buffer.push_back('\0');
    line = feed->buffer.data();
    return true;
}
NOTEHANDLE SimBackend::CreateAnnotation(bool exclusive, double size, const VECTOR3 &col) {
    Annotation &a = world_.Notes().Create(exclusive, std::isfinite(size) ? size : 1.0, world_.SimTime());
    if (Finite("oapiCreateAnnotation", col)) a.colour = ToVec(col);
    return &a;
}
void SimBackend::AnnotationSetPos(NOTEHANDLE note, double x1, double y1, double x2, double y2) {
    Annotation *a = AnnotationOf(note);
    if (!a) return;
    const double box[4] = {x1, y1, x2, y2};
    for (int i = 0; i < 4; ++i)
        if (Finite("oapiAnnotationSetPos", box[i])) a->box[i] = box[i];
}
void SimBackend::AnnotationSetText(NOTEHANDLE note, const char *text) {
    Annotation *a = AnnotationOf(note);
    if (!a) return;
    world_.Notes().SetText(*a, text ? text : "", world_.SimTime());
}
bool SimBackend::DelAnnotation(NOTEHANDLE note) {
    Annotation *a = AnnotationOf(note);
    if (!a) return false;
    world_.Notes().Delete(*a, world_.SimTime());
    return true;
}
void SimBackend::InitLib(HINSTANCE) { ++initLibCalls_; }
int SimBackend::Date2Int(const char *date) { return host::ConvertDate(date); }
COLORREF SimBackend::SetHudTextColor(HDC hdc, COLORREF color) {
    if (!hdc) return 0;
    const COLORREF previous = hdc->color;
    hdc->color = color;
    return previous;
}
BOOL SimBackend::HudTextOut(HDC hdc, int x, int y, const char *text, int length) {
    if (!hdc || !text || length < 0) return FALSE;
    const std::size_t n = strnlen(text, static_cast<std::size_t>(length));
    hdc->runs.push_back({x, y, hdc->color, std::string(text, n)});
    return TRUE;
}

std::unique_ptr<World> MakeWorld(const Scenario &scenario, const Installation &installation,
                                 const WorldOptions &options) {
    return std::make_unique<World>(scenario, installation, options,
                                   [](World &world) { return std::make_unique<SimBackend>(world); });
}

}  // namespace vtal::sim
