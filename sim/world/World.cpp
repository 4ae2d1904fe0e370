#include "sim/world/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "sim/files/InputError.h"
#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"
#include "sim/vessel/Integration.h"
#include "sim/vessel/Landed.h"
#include "sim/hostapi/SimBackend.h"

namespace vtal::sim {
namespace {

// Ctrl + keypad +/- moves the main (or retro) permanent level at this rate.
constexpr double kMainLevelRatePerSecond = 0.2;
// Keypad attitude keys: a full override, a tenth with Ctrl.
constexpr double kAttitudeKeyOverride = 1.0;
constexpr double kFineAttitudeKeyOverride = 0.1;
constexpr double kKeyTimeTolerance = 1e-9;  // s
// Saved lines: the host's decimals, and digits enough to continue exactly.
constexpr int kPositionDecimals = 3, kVelocityDecimals = 4, kAngleDecimals = 3, kRateDecimals = 4;
constexpr int kSurfaceDecimals = 7, kHeadingDecimals = 2, kAltitudeDecimals = 3, kLevelDecimals = 6;
// VROT is written only for a rate above this, (rad/s)^2.
constexpr double kNegligibleRateSquared = 1e-8;
// The host API is process-wide (one installed backend, one loaded copy of
// each module), so only one world may exist at a time.
bool worldExists = false;

struct HostNavKey {
    int code;
    int mode;
};
const HostNavKey kHostNavKeys[] = {{OAPI_KEY_L, NAVMODE_HLEVEL},         {OAPI_KEY_NUMPAD5, NAVMODE_KILLROT},
                                   {OAPI_KEY_LBRACKET, NAVMODE_PROGRADE}, {OAPI_KEY_RBRACKET, NAVMODE_RETROGRADE},
                                   {OAPI_KEY_SEMICOLON, NAVMODE_NORMAL},  {OAPI_KEY_APOSTROPHE, NAVMODE_ANTINORMAL},
                                   {OAPI_KEY_A, kHoldAltitudeMode}};

struct HostAttitudeKey {
    int code;
    int group;
};
const HostAttitudeKey kHostAttitudeKeys[] = {
    {OAPI_KEY_NUMPAD2, THGROUP_ATT_PITCHUP}, {OAPI_KEY_NUMPAD8, THGROUP_ATT_PITCHDOWN},
    {OAPI_KEY_NUMPAD1, THGROUP_ATT_YAWLEFT}, {OAPI_KEY_NUMPAD3, THGROUP_ATT_YAWRIGHT},
    {OAPI_KEY_NUMPAD4, THGROUP_ATT_BANKLEFT}, {OAPI_KEY_NUMPAD6, THGROUP_ATT_BANKRIGHT}};

bool Held(const char *kstate, int code) { return (static_cast<unsigned char>(kstate[code]) & 0x80) != 0; }
bool ShiftHeld(const char *k) { return Held(k, OAPI_KEY_LSHIFT) || Held(k, OAPI_KEY_RSHIFT); }
bool CtrlHeld(const char *k) { return Held(k, OAPI_KEY_LCONTROL); }

// Ctrl + keypad +: raising the main level lowers the retro level first.
void StepMainRetro(Vessel &v, double change) {
    ThrusterGroup *main = v.Group(THGROUP_MAIN), *retro = v.Group(THGROUP_RETRO);
    const double mainLevel = GroupPermanentLevel(main), retroLevel = GroupPermanentLevel(retro);
    const int raise = change > 0.0 ? THGROUP_MAIN : THGROUP_RETRO;
    const int lower = change > 0.0 ? THGROUP_RETRO : THGROUP_MAIN;
    const double raised = change > 0.0 ? mainLevel : retroLevel;
    const double lowered = change > 0.0 ? retroLevel : mainLevel;
    const double amount = std::fabs(change);
    if (lowered > 0.0) {
        SetGroupLevel(v, lower, lowered - amount);
        SetGroupLevel(v, raise, 0.0);
    } else {
        SetGroupLevel(v, raise, std::min(1.0, raised + amount));
    }
}

// A landed vessel read from a scenario: at POS, with its AROT relative to the
// body-fixed frame and ALT as height if AROT follows STATUS; else set down
// at rest on its touchdown points under its weight, facing HEADING.
void PlaceLandedFromStatus(World &world, Vessel &v, const StandardStatus &st) {
    double lng = st.longitude, lat = st.latitude;
    if (!st.hasPos) {
        if (!st.base.empty())
            world.WarnOnce(v.name + ": landed at BASE " + st.base + ", which this host cannot place; it stands at longitude 0, latitude 0");
        else
            world.WarnOnce(v.name + ": landed without POS; it stands at longitude 0, latitude 0");
        lng = lat = 0.0;
    }
    const CentralBody &body = world.Body();
    const Vec3 up = SurfaceDirection(lng * kRadPerDeg, lat * kRadPerDeg);  // body-fixed
    LandedState &l = v.landed;
    l.landed = true;
    l.heading = st.heading * kRadPerDeg;
    if (st.arotAfterStatus) {
        l.localRot = RotationFromEuler(st.arot * kRadPerDeg);
        l.altitude = st.hasAlt ? st.alt : 0.0;
    } else {
        const RestPose pose = RestPoseOnSprings(v, body);
        l.localRot = LevelAttitude(up, l.heading) * pose.tilt;
        l.altitude = pose.height;
    }
    l.localPos = up * (body.radius + l.altitude);
    v.omega.setZero();
    v.groundContact = true;
    PlaceLanded(v, body, world.Mjd());
}

void SetPropellantFromStatus(World &world, Vessel &v, const StandardStatus &st) {
    for (auto &tank : v.tanks) tank->mass = 0.0;  // a block without propellant lines starts empty
    if (st.hasFuel) {
        if (st.fuel < 0.0 || st.fuel > 1.0) world.WarnOnce(v.name + ": FUEL outside 0..1 is kept as the host keeps it");
        for (auto &tank : v.tanks) tank->mass = st.fuel * tank->maxMass;
    }
    if (st.hasPrplevel) {
        for (const auto &[index, level] : st.prplevel) {
            if (index < 0 || static_cast<std::size_t>(index) >= v.tanks.size()) {
                world.WarnOnce(v.name + ": PRPLEVEL names tank " + std::to_string(index) + ", which does not exist; ignored");
                continue;
            }
            if (level < 0.0 || level > 1.0)
                world.WarnOnce(v.name + ": PRPLEVEL outside 0..1: above 1 fills the tank, below 0 is kept as the host keeps it");
            Tank &t = *v.tanks[static_cast<std::size_t>(index)];
            t.mass = std::min(level * t.maxMass, t.maxMass);
        }
    }
}

// Numbers of a saved line: the host's decimals, or every digit.
std::string Number(double x, int decimals, bool precise) { return precise ? Exact(x) : Fixed(x, decimals); }

std::string Triple(const Vec3 &v, int decimals, bool precise) {
    return Number(v.x(), decimals, precise) + " " + Number(v.y(), decimals, precise) + " " +
           Number(v.z(), decimals, precise);
}

}  // namespace

void ApplyStandardStatus(World &world, Vessel &v, const StandardStatus &st) {
    SetPropellantFromStatus(world, v, st);
    for (auto &t : v.thrusters) t->level = t->effective = 0.0;
    for (const auto &[index, level] : st.thlevel) {
        if (index < 0 || static_cast<std::size_t>(index) >= v.thrusters.size()) {
            world.WarnOnce(v.name + ": THLEVEL names thruster " + std::to_string(index) + ", which does not exist; ignored");
            continue;
        }
        SetThrusterLevel(*v.thrusters[static_cast<std::size_t>(index)], level);
    }
    for (const auto &carried : st.carried) v.carriedLines.push_back(carried.second);

    if (st.kind == StandardStatus::Kind::Landed) {
        PlaceLandedFromStatus(world, v, st);
    } else {
        v.pos = st.rpos;
        const double below = world.Body().radius - v.pos.norm();
        if (below > 0.0 && v.pos.norm() > 0.0) {
            // As the host does: a position below the surface is lifted to it.
            world.WarnOnce(v.name + ": RPOS lies " + Fixed(below, 3) + " m below the surface; lifted to the surface");
            v.pos *= world.Body().radius / v.pos.norm();
        }
        v.vel = st.rvel;
        v.attitude = Quat(RotationFromEuler(st.arot * kRadPerDeg));
        v.attitude.normalize();
        v.omega = st.vrot * kRadPerDeg;
    }
}

void WriteStandardLines(const World &world, const Vessel &v, std::string &out) {
    const CentralBody &body = world.Body();
    const bool precise = world.PreciseSave();
    if (v.Landed()) {
        const Vec3 up = v.landed.localPos.normalized();
        const double lat = std::asin(std::clamp(up.y(), -1.0, 1.0)), lng = std::atan2(up.z(), up.x());
        const Vec3 e = EulerFromRotation(v.landed.localRot) / kRadPerDeg;
        out += "  STATUS Landed " + std::string(body.name) + "\n";
        out += "  POS " + Number(lng / kRadPerDeg, kSurfaceDecimals, precise) + " " +
               Number(lat / kRadPerDeg, kSurfaceDecimals, precise) + "\n";
        out += "  HEADING " + Number(v.landed.heading / kRadPerDeg, kHeadingDecimals, precise) + "\n";
        out += "  ALT " + Number(v.landed.altitude, kAltitudeDecimals, precise) + "\n";
        out += "  AROT " + Triple(e, kAngleDecimals, precise) + "\n";
    } else {
        const Vec3 e = EulerFromRotation(v.Rotation()) / kRadPerDeg;
        out += "  STATUS Orbiting " + std::string(body.name) + "\n";
        out += "  RPOS " + Triple(v.pos, kPositionDecimals, precise) + "\n";
        out += "  RVEL " + Triple(v.vel, kVelocityDecimals, precise) + "\n";
        out += "  AROT " + Triple(e, kAngleDecimals, precise) + "\n";
        if (v.omega.squaredNorm() > kNegligibleRateSquared)
            out += "  VROT " + Triple(v.omega / kRadPerDeg, kRateDecimals, precise) + "\n";
    }
    std::string tanks;
    for (std::size_t i = 0; i < v.tanks.size(); ++i) {
        const Tank &t = *v.tanks[i];
        if (t.mass > 0.0 && t.maxMass > 0.0)
            tanks += " " + std::to_string(i) + ":" + Number(t.mass / t.maxMass, kLevelDecimals, precise);
    }
    if (!tanks.empty()) out += "  PRPLEVEL" + tanks + "\n";
    std::string levels;
    for (std::size_t i = 0; i < v.thrusters.size(); ++i)
        if (v.thrusters[i]->level != 0.0)
            levels += " " + std::to_string(i) + ":" + Number(v.thrusters[i]->level, kLevelDecimals, precise);
    if (!levels.empty()) out += "  THLEVEL" + levels + "\n";
    for (const std::string &line : v.carriedLines) out += "  " + line + "\n";
}

World::World(const Scenario &scenario, const Installation &installation, const WorldOptions &options)
    : scenario_(scenario), body_(scenario.body), dt_(options.dt), mjd0_(scenario.mjd), options_(options) {
    if (worldExists) throw std::logic_error("only one world can exist at a time: the host API is process-wide");
    if (!body_) throw InputError(At(scenario.path, 0, "no central body"));
    worldExists = true;
    canvas_.width = options.hudWidth;
    canvas_.height = options.hudHeight;
    backend_ = std::make_unique<SimBackend>(*this);
    host::InstallBackend(backend_.get());
    try {
        for (const std::string &w : scenario.warnings) Warn(w);
        LoadModules(installation);
        vessels_.reserve(scenario.vessels.size());
        for (const VesselBlock &block : scenario.vessels) CreateVessel(block);
        loads_.assign(vessels_.size(), Loads{});
        for (auto &v : vessels_) {
            vesselHandles_.insert(v.get());
            v->touchdownPointsChanged = false;  // points set while defining the vessel release nothing
            UpdateSurface(*v, *body_);
            if (!v->Landed()) v->groundContact = PointBelowSurface(*v, v->State(), *body_);
            v->lastVerticalSpeed = VerticalSpeed(*v);
        }
        BuildKeyTransitions();
        focus_ = FindVessel(scenario.focus);
        if (!focus_) focus_ = vessels_.front().get();
        for (auto &v : vessels_)
            if (v->object) v->object->clbkPostCreation();
        if (focus_->object) focus_->object->clbkFocusChanged(true, HandleOf(focus_), nullptr);
        ReportNavmodeChanges();
        RecordTouchdowns();
    } catch (...) {
        Teardown();
        throw;
    }
}

World::~World() { Teardown(); }

void World::Teardown() {
    for (auto &v : vessels_) {
        if (v->object && v->module) v->module->Exit(v->object);
        v->object = nullptr;
    }
    vessels_.clear();
    modules_.clear();  // unload hooks run here
    host::InstallBackend(nullptr);
    backend_.reset();
    worldExists = false;
}

void World::Warn(const std::string &message) {
    warnings_.push_back(message);
    if (options_.warnings) *options_.warnings << "vtal-sim: warning: " << message << "\n";
}

void World::WarnOnce(const std::string &message) {
    if (std::find(warnings_.begin(), warnings_.end(), message) == warnings_.end()) Warn(message);
}

void World::LoadModules(const Installation &installation) {
    for (const VesselBlock &block : scenario_.vessels) {
        VesselClass vc = installation.FindClass(block.className);
        if (!vc.known)
            WarnOnce("vessel class '" + block.className + "' has no configuration file; it flies as a passive vessel of " +
                     std::to_string(kDefaultPassiveSize) + " m and " + std::to_string(kDefaultPassiveEmptyMass) + " kg");
        if (!vc.module.empty()) {
            const std::string path = installation.ModulePath(vc.module);
            auto found = std::find_if(modules_.begin(), modules_.end(), [&](const auto &m) { return m.first == path; });
            if (found == modules_.end()) {
                modules_.emplace_back(path, std::make_unique<ModuleLibrary>(path));
                found = modules_.end() - 1;
            }
            blockModules_.push_back(found->second.get());
        } else {
            blockModules_.push_back(nullptr);
        }
        classes_.push_back(vc);
    }
}

void World::CreateVessel(const VesselBlock &block) {
    const VesselClass &vc = classes_[vessels_.size()];
    ModuleLibrary *module = blockModules_[vessels_.size()];
    vessels_.push_back(std::make_unique<Vessel>());
    Vessel &v = *vessels_.back();
    v.name = block.name;
    v.className = block.className;
    StandardStatus status;
    if (module)
        CreateModuleVessel(v, *module, vc, block, status);
    else
        DefinePassiveVessel(v, vc, block, status);
    if (status.kind == StandardStatus::Kind::Unset) status = block.status;  // the module kept the lines to itself
    ApplyStandardStatus(*this, v, status);
}

// As the host does it: ovcInit, clbkSetClassCaps, clbkLoadStateEx with the
// vessel's lines (the module hands back the standard ones).
void World::CreateModuleVessel(Vessel &v, ModuleLibrary &module, const VesselClass &vc, const VesselBlock &block,
                               StandardStatus &status) {
    v.module = &module;
    VESSEL *created = module.Init(HandleOf(&v), v.flightModel);
    if (!created) throw InputError(At(scenario_.path, block.line, "module of class '" + vc.className + "' created no vessel"));
    v.object = static_cast<VESSEL2 *>(created);
    v.object->clbkSetClassCaps(const_cast<VesselClass *>(&vc));  // the module may read its configuration
    ScenarioLineFeed feed;
    feed.lines = &block.lines;
    v.object->clbkLoadStateEx(&feed, &status);
}

// A passive vessel: the configuration's size and mass, one tank of its fuel mass.
void World::DefinePassiveVessel(Vessel &v, const VesselClass &vc, const VesselBlock &block, StandardStatus &status) {
    v.def.size = vc.size;
    v.def.emptyMass = vc.emptyMass > 0.0 ? vc.emptyMass : kDefaultPassiveEmptyMass;
    const double r = std::max(vc.size, 0.1);
    v.def.pmi = Vec3::Constant(0.2 * r * r);
    SetTouchdownPoints(v.def, Vec3(0.0, -r, r), Vec3(-r, -r, -r), Vec3(r, -r, -r));
    auto tank = std::make_unique<Tank>();
    tank->owner = &v;
    tank->maxMass = vc.fuelMass;
    v.tanks.push_back(std::move(tank));
    for (const ScenarioLine &line : block.lines) {
        const LineResult r2 = ParseStandardLine(line.text, status);
        if (r2.kind == LineKind::Other && !r2.key.empty()) {
            WarnOnce("vessel line " + r2.key + " means nothing to a passive vessel; carried unchanged");
            status.carried.emplace_back(r2.key, line.text);
        }
    }
}

Vessel *World::FindVessel(const std::string &name) const {
    for (const auto &v : vessels_)
        if (v->name == name) return v.get();
    return nullptr;
}

bool World::IsVessel(OBJHANDLE h) const { return vesselHandles_.count(h) != 0; }

// The first frame that ends in ground contact: the sink and drift over the
// ground after that step, and the sink of the frame before.
void World::RecordTouchdowns() {
    for (auto &vp : vessels_) {
        Vessel &v = *vp;
        const double sink = VerticalSpeed(v);
        if (!v.touchdown.happened && v.groundContact) {
            Touchdown &t = v.touchdown;
            t.happened = true;
            t.time = simTime_;
            t.verticalSpeed = sink;
            t.verticalSpeedBefore = v.lastVerticalSpeed;
            t.horizontalSpeed = HorizontalSpeed(v, *body_);
            t.pitchDeg = v.surface.pitch / kRadPerDeg;
            t.bankDeg = v.surface.bank / kRadPerDeg;
            t.headingDeg = v.surface.heading / kRadPerDeg;
        }
        v.lastVerticalSpeed = sink;
    }
}

// Integration (or the landed update) of one vessel, and its new surface
// quantities. Thrust or a torque, or new touchdown points, release a landed
// vessel in the same step, which is then not integrated.
void World::UpdateVessel(Vessel &v, Loads &loads) {
    v.before = v.State();
    const double t1 = simTime_ + dt_;
    if (v.Landed()) {
        const bool released = !v.Crashed() && (!loads.force.isZero(0.0) || !loads.torque.isZero(0.0) || v.touchdownPointsChanged);
        v.touchdownPointsChanged = false;
        PlaceLanded(v, *body_, MjdAt(t1));
        if (released) {
            Release(v);
            UpdateSurface(v, *body_);
        }
        return;
    }
    v.touchdownPointsChanged = false;
    if (!Propagate(v, *body_, loads, dt_))
        WarnOnce("vessel '" + v.name + "' is too stiff and light on its touchdown points for frames of " + Plain(dt_) +
                 " s: even " + std::to_string(kMaxContactSubsteps) +
                 " sub-steps may not damp it stably on the ground; a shorter --dt does");
    UpdateSurface(v, *body_);
}

void World::Step() {
    const double t0 = simTime_, t1 = t0 + dt_;
    const double mjd0 = MjdAt(t0), mjd1 = MjdAt(t1);
    for (auto &v : vessels_)
        if (v->object) v->object->clbkPreStep(t0, dt_, mjd0);
    ReportNavmodeChanges();
    for (std::size_t i = 0; i < vessels_.size(); ++i) {
        Vessel &v = *vessels_[i];
        ApplyNavmodeOverrides(v, dt_);
        loads_[i] = ApplyThrust(v, *body_, dt_);
        if (!v.Landed()) AddAerodynamics(v, *body_, loads_[i]);
    }
    ReportNavmodeChanges();  // kill rotation may have switched itself off
    for (std::size_t i = 0; i < vessels_.size(); ++i) UpdateVessel(*vessels_[i], loads_[i]);
    inPostStep_ = true;
    for (auto &v : vessels_)
        if (v->object) v->object->clbkPostStep(t1, dt_, mjd1);
    inPostStep_ = false;
    // The end of the step: ground contact, then the rest test, still at t0.
    for (auto &v : vessels_) {
        if (v->Landed()) continue;
        v->groundContact = PointBelowSurface(*v, v->State(), *body_);
        if (sim::Altitude(*v, *body_) < -v->def.size) {
            // The host's springs cannot stop an impact this fast: the flight
            // host ends this vessel's flight where it is (its report says so).
            v->crashedAt = t1;
            Land(*v, *body_, mjd1);
            v->omega.setZero();
            continue;
        }
        TestForRest(*v, *body_, mjd1, t0);
        if (v->Landed()) v->landedAt = t1;
    }
    ++frame_;
    simTime_ = static_cast<double>(frame_) * dt_;
    RecordTouchdowns();
    ProcessKeys();
    ReportNavmodeChanges();
}

// The host tells a module of every switch of a navigation mode, its own
// and the host's; here at the next point of the frame after the switch.
void World::ReportNavmodeChanges() {
    for (auto &v : vessels_) {
        const unsigned now = v->NavmodeBits(), changed = now ^ v->reportedNavmodes;
        if (!changed) continue;
        v->reportedNavmodes = now;
        if (!v->object) continue;
        for (int mode = kFirstNavmode; mode <= kHoldAltitudeMode; ++mode)
            if (changed & (1u << mode)) v->object->clbkNavMode(mode, (now >> mode) & 1u);
    }
}

// Every key-down and key-up of the script, in time order: a press is down
// for one frame, a hold from its start to its end.
void World::BuildKeyTransitions() {
    transitions_.clear();
    for (const KeyEvent &e : options_.keys) {
        transitions_.push_back({e.start, e.scanCode, true, e.shift, e.ctrl});
        transitions_.push_back({e.hold ? e.end : e.start + dt_, e.scanCode, false, e.shift, e.ctrl});
    }
    std::stable_sort(transitions_.begin(), transitions_.end(),
                     [](const KeyTransition &a, const KeyTransition &b) { return a.time < b.time; });
}

// The host's keyboard, each frame: the direct-key callback once with the
// held keys (non-zero: the host's held-key actions are skipped), then every
// key-down and key-up to the buffered-key callback (non-zero: the host's
// handling of that event is skipped).
void World::ProcessKeys() {
    if (!focus_ || transitions_.empty()) return;
    const double t = simTime_ + kKeyTimeTolerance;
    const std::size_t first = nextTransition_;
    while (nextTransition_ < transitions_.size() && transitions_[nextTransition_].time <= t) {
        const KeyTransition &k = transitions_[nextTransition_++];
        const int change = k.down ? 1 : -1;
        heldCount_[k.scanCode] += change;
        if (k.shift) heldCount_[OAPI_KEY_LSHIFT] += change;
        if (k.ctrl) heldCount_[OAPI_KEY_LCONTROL] += change;
    }
    for (int code = 0; code < 256; ++code) keyState_[code] = heldCount_[code] > 0 ? static_cast<char>(0x80) : 0;
    // A press and its release in the same frame still count as held in it.
    for (std::size_t i = first; i < nextTransition_; ++i) {
        const KeyTransition &k = transitions_[i];
        if (!k.down) continue;
        keyState_[k.scanCode] = static_cast<char>(0x80);
        if (k.shift) keyState_[OAPI_KEY_LSHIFT] = static_cast<char>(0x80);
        if (k.ctrl) keyState_[OAPI_KEY_LCONTROL] = static_cast<char>(0x80);
    }
    Vessel &v = *focus_;
    const int consumedDirect = v.object ? v.object->clbkConsumeDirectKey(keyState_) : 0;
    if (!consumedDirect) HostDirectKeys(v);
    for (std::size_t i = first; i < nextTransition_; ++i) {
        const KeyTransition &k = transitions_[i];
        const int consumed =
            v.object ? v.object->clbkConsumeBufferedKey(static_cast<DWORD>(k.scanCode), k.down, keyState_) : 0;
        // The host's own bindings have no modifier: Shift or Ctrl held, they do not fire.
        if (!consumed && k.down && !k.shift && !k.ctrl) HostBufferedKey(v, k.scanCode);
    }
}

void World::HostBufferedKey(Vessel &v, int scanCode) {
    for (const HostNavKey &k : kHostNavKeys)
        if (k.code == scanCode) ToggleNavmode(v, k.mode);
}

// Held keys of the host: main and retro on keypad + and -, the permanent
// main level with Ctrl, keypad * to cut, and the keypad attitude keys.
// Overrides set here act in the next step.
void World::HostDirectKeys(Vessel &v) {
    const bool ctrl = CtrlHeld(keyState_), shift = ShiftHeld(keyState_);
    if (shift) return;
    if (Held(keyState_, OAPI_KEY_ADD)) {
        if (ctrl) {
            StepMainRetro(v, kMainLevelRatePerSecond * dt_);
        } else {
            AddOverride(v, THGROUP_MAIN, 1.0);
            AddOverride(v, THGROUP_RETRO, -1.0);
        }
    }
    if (Held(keyState_, OAPI_KEY_SUBTRACT)) {
        if (ctrl) {
            StepMainRetro(v, -kMainLevelRatePerSecond * dt_);
        } else {
            AddOverride(v, THGROUP_RETRO, 1.0);
            AddOverride(v, THGROUP_MAIN, -1.0);
        }
    }
    if (Held(keyState_, OAPI_KEY_MULTIPLY) && !ctrl) {
        SetGroupLevel(v, THGROUP_MAIN, 0.0);
        SetGroupLevel(v, THGROUP_RETRO, 0.0);
    }
    for (const HostAttitudeKey &k : kHostAttitudeKeys)
        if (Held(keyState_, k.code)) AddOverride(v, k.group, ctrl ? kFineAttitudeKeyOverride : kAttitudeKeyOverride);
}

void World::PaintHud() {
    canvas_.runs.clear();
    if (!focus_) return;
    HUDPAINTSPEC hps{canvas_.width, canvas_.height, canvas_.width / 2, canvas_.height / 2, 1.0, 10};
    if (focus_->object)
        focus_->object->clbkDrawHUD(1, &hps, &canvas_);
    else
        backend_->DrawStandardHUD(HandleOf(focus_), 1, &hps, &canvas_);
}

void World::ModuleLines(Vessel &v, std::string &text) {
    text.clear();
    if (!v.object) return;
    ScenarioWriter writer;
    writer.text.swap(text);
    writer.moduleLinesOnly = true;
    v.object->clbkSaveState(&writer);
    text.swap(writer.text);
}

std::string World::SaveScenario() { return SaveScenario(options_.preciseSave); }

std::string World::SaveScenario(bool precise) {
    savingPrecise_ = precise;
    std::string out = "BEGIN_DESC\n";
    for (const std::string &line : scenario_.description) out += line + "\n";
    out += "END_DESC\n\nBEGIN_ENVIRONMENT\n  System " + scenario_.system + "\n  Date MJD " + Exact(Mjd()) +
           "\nEND_ENVIRONMENT\n\nBEGIN_FOCUS\n  Ship " + (focus_ ? focus_->name : std::string()) + "\nEND_FOCUS\n\n";
    for (const std::string &section : scenario_.carriedSections) out += section + "\n";
    out += "BEGIN_SHIPS\n";
    for (auto &v : vessels_) {
        out += v->name + ":" + v->className + "\n";
        ScenarioWriter writer;
        if (v->object)
            v->object->clbkSaveState(&writer);
        else
            WriteStandardLines(*this, *v, writer.text);
        out += writer.text + "END\n";
    }
    for (const std::string &block : scenario_.carriedVessels) out += block;
    out += "END_SHIPS\n";
    savingPrecise_ = false;
    return out;
}

}  // namespace vtal::sim
