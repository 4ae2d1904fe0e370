#include "sim/world/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "sim/vessel/FlightState.h"
#include "sim/files/InputError.h"
#include "sim/hostapi/SimBackend.h"

namespace vtal::sim {
namespace {

// Keys the host acts on when the module leaves them.
constexpr double kMainLevelRatePerSecond = 0.2;
constexpr double kKeyTimeTolerance = 1e-9;  // s
// The host API is process-wide (one installed backend, one loaded copy of
// each module), so only one world may exist at a time.
bool worldExists = false;

struct HostNavKey {
    int code;
    int mode;
};
const HostNavKey kHostNavKeys[] = {{OAPI_KEY_L, NAVMODE_HLEVEL},         {OAPI_KEY_NUMPAD5, NAVMODE_KILLROT},
                                   {OAPI_KEY_LBRACKET, NAVMODE_PROGRADE}, {OAPI_KEY_RBRACKET, NAVMODE_RETROGRADE},
                                   {OAPI_KEY_SEMICOLON, NAVMODE_NORMAL},  {OAPI_KEY_APOSTROPHE, NAVMODE_ANTINORMAL}};

struct HostAttitudeKey {
    int code;
    int group;
};
const HostAttitudeKey kHostAttitudeKeys[] = {
    {OAPI_KEY_NUMPAD2, THGROUP_ATT_PITCHUP}, {OAPI_KEY_NUMPAD8, THGROUP_ATT_PITCHDOWN},
    {OAPI_KEY_NUMPAD1, THGROUP_ATT_YAWLEFT}, {OAPI_KEY_NUMPAD3, THGROUP_ATT_YAWRIGHT},
    {OAPI_KEY_NUMPAD4, THGROUP_ATT_BANKLEFT}, {OAPI_KEY_NUMPAD6, THGROUP_ATT_BANKRIGHT}};

double MainGroupLevel(const Vessel &v) {
    const ThrusterGroup *g = v.Group(THGROUP_MAIN);
    if (!g || g->members.empty()) return 0.0;
    double sum = 0.0;
    for (const Thruster *t : g->members) sum += t->level;
    return sum / static_cast<double>(g->members.size());
}

// Equilibrium on three touchdown springs: origin height h and the small pitch
// and bank that balance the load; false if the points cannot carry it.
bool SolveRestPose(const Vessel &v, double weight, double stiffness, double &h, double &pitch, double &bank) {
    Mat3 a = Mat3::Zero();
    Vec3 rhs(-weight / stiffness, 0.0, 0.0);
    for (const Vec3 &p : v.def.touchdown) {
        const Vec3 b(1.0, p.z(), p.x());
        a += b * b.transpose();
        rhs -= b * p.y();
    }
    if (std::fabs(a.determinant()) < 1e-12) return false;
    const Vec3 u = a.fullPivLu().solve(rhs);
    for (const Vec3 &p : v.def.touchdown)
        if (u.x() + p.y() + u.y() * p.z() + u.z() * p.x() >= 0.0) return false;  // a point not compressed
    if (!u.allFinite() || std::fabs(u.y()) > 0.3 || std::fabs(u.z()) > 0.3) return false;
    h = u.x();
    pitch = u.y();
    bank = u.z();
    return true;
}

void PlaceLanded(World &world, Vessel &v, const StandardStatus &st) {
    double lng = st.longitude, lat = st.latitude;
    if (!st.hasPos) {
        if (!st.base.empty())
            world.WarnOnce(v.name + ": landed at BASE " + st.base + ", which this host cannot place; it stands at longitude 0, latitude 0");
        else
            world.WarnOnce(v.name + ": landed without POS; it stands at longitude 0, latitude 0");
        lng = lat = 0.0;
    }
    const CentralBody &body = world.Body();
    const Vec3 up = SurfaceDirection(lng * kRadPerDeg, lat * kRadPerDeg);
    const Mat3 level = LevelAttitude(up, st.heading * kRadPerDeg);

    const double weight = body.gm / (body.radius * body.radius) * v.Mass();
    double h = 0.0, pitch = 0.0, bank = 0.0;
    if (!SolveRestPose(v, weight, ContactStiffness(v), h, pitch, bank)) {
        double lowest = 0.0;
        for (const Vec3 &p : v.def.touchdown) lowest = std::min(lowest, p.y());
        h = -lowest - weight / (3.0 * ContactStiffness(v));
        pitch = bank = 0.0;
    }
    if (st.hasAlt) h = st.alt;
    // Nose up is a turn by -pitch about x, right side up a turn by +bank about z.
    v.attitude = Quat(level) * Quat(Eigen::AngleAxisd(-pitch, Vec3::UnitX())) *
                 Quat(Eigen::AngleAxisd(bank, Vec3::UnitZ()));
    v.attitude.normalize();
    v.pos = up * (body.radius + h);
    v.vel.setZero();
    v.omega.setZero();
}

}  // namespace

void ApplyStandardStatus(World &world, Vessel &v, const StandardStatus &st) {
    for (auto &tank : v.tanks) tank->mass = 0.0;  // a block without propellant lines starts empty
    if (st.hasFuel)
        for (auto &tank : v.tanks) tank->mass = std::clamp(st.fuel, 0.0, 1.0) * tank->maxMass;
    if (st.hasPrplevel) {
        for (const auto &[index, level] : st.prplevel) {
            if (index < 0 || static_cast<std::size_t>(index) >= v.tanks.size()) {
                world.WarnOnce(v.name + ": PRPLEVEL names tank " + std::to_string(index) + ", which does not exist; ignored");
                continue;
            }
            if (level < 0.0 || level > 1.0) world.WarnOnce(v.name + ": PRPLEVEL outside 0..1 is clamped");
            Tank &t = *v.tanks[static_cast<std::size_t>(index)];
            t.mass = std::clamp(level, 0.0, 1.0) * t.maxMass;
        }
    }
    for (const auto &[index, level] : st.thlevel) {
        if (index < 0 || static_cast<std::size_t>(index) >= v.thrusters.size()) {
            world.WarnOnce(v.name + ": THLEVEL names thruster " + std::to_string(index) + ", which does not exist; ignored");
            continue;
        }
        v.thrusters[static_cast<std::size_t>(index)]->level = std::clamp(level, 0.0, 1.0);
    }
    v.navmodes = 0;
    for (int mode = kFirstNavmode; mode <= kLastNavmode; ++mode)
        if (st.navmodes & (1u << mode)) ActivateNavmode(v, mode);
    for (const auto &carried : st.carried) v.carriedLines.push_back(carried.second);

    if (st.kind == StandardStatus::Kind::Landed) {
        PlaceLanded(world, v, st);
    } else {
        v.pos = st.rpos;
        v.vel = st.rvel;
        v.attitude = Quat(RotationFromEuler(st.arot * kRadPerDeg));
        v.attitude.normalize();
        v.omega = st.vrot * kRadPerDeg;
    }
}

void WriteStandardLines(const World &world, const Vessel &v, std::string &out) {
    const CentralBody &body = world.Body();
    const bool atRest = v.groundContact && v.vel.norm() < 0.01 && v.omega.norm() < 1e-3;
    if (atRest) {
        const Vec3 up = v.pos.normalized();
        const double lat = std::asin(std::clamp(up.y(), -1.0, 1.0)), lng = std::atan2(up.z(), up.x());
        out += "  STATUS Landed " + std::string(body.name) + "\n";
        out += "  POS " + Exact(lng / kRadPerDeg) + " " + Exact(lat / kRadPerDeg) + "\n";
        out += "  HEADING " + Exact(Heading(v) / kRadPerDeg) + "\n";
        out += "  ALT " + Exact(Altitude(v, body)) + "\n";
    } else {
        const Vec3 e = EulerFromRotation(v.Rotation()) / kRadPerDeg;
        const Vec3 w = v.omega / kRadPerDeg;
        out += "  STATUS Orbiting " + std::string(body.name) + "\n";
        out += "  RPOS " + Exact(v.pos.x()) + " " + Exact(v.pos.y()) + " " + Exact(v.pos.z()) + "\n";
        out += "  RVEL " + Exact(v.vel.x()) + " " + Exact(v.vel.y()) + " " + Exact(v.vel.z()) + "\n";
        out += "  AROT " + Exact(e.x()) + " " + Exact(e.y()) + " " + Exact(e.z()) + "\n";
        out += "  VROT " + Exact(w.x()) + " " + Exact(w.y()) + " " + Exact(w.z()) + "\n";
    }
    if (v.navmodes) {
        out += "  NAVMODE";
        for (int mode = kFirstNavmode; mode <= kLastNavmode; ++mode)
            if (v.NavmodeOn(mode)) out += std::string(" ") + NavmodeName(mode);
        out += "\n";
    }
    if (!v.tanks.empty()) {
        out += "  PRPLEVEL";
        for (std::size_t i = 0; i < v.tanks.size(); ++i) {
            const Tank &t = *v.tanks[i];
            out += " " + std::to_string(i) + ":" + Exact(t.maxMass > 0.0 ? t.mass / t.maxMass : 0.0);
        }
        out += "\n";
    }
    std::string levels;
    for (std::size_t i = 0; i < v.thrusters.size(); ++i)
        if (v.thrusters[i]->level > 0.0) levels += " " + std::to_string(i) + ":" + Exact(v.thrusters[i]->level);
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
        for (auto &v : vessels_) EvaluateContact(*v, *body_, dt_);
        touchdowns_.assign(vessels_.size(), Touchdown{});
        loads_.assign(vessels_.size(), Loads{});
        arrivalVel_.clear();
        for (const auto &v : vessels_) arrivalVel_.push_back(v->vel);
        focus_ = FindVessel(scenario.focus);
        if (!focus_) focus_ = vessels_.front().get();
        for (auto &v : vessels_)
            if (v->object) v->object->clbkPostCreation();
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
    v.def.touchdown = {Vec3(0.0, -r, r), Vec3(-r, -r, -r), Vec3(r, -r, -r)};
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

bool World::IsVessel(OBJHANDLE h) const {
    for (const auto &v : vessels_)
        if (v.get() == h) return true;
    return false;
}

const Touchdown &World::TouchdownOf(const Vessel &v) const {
    for (std::size_t i = 0; i < vessels_.size(); ++i)
        if (vessels_[i].get() == &v) return touchdowns_[i];
    static const Touchdown none;
    return none;
}

void World::RecordTouchdowns() {
    for (std::size_t i = 0; i < vessels_.size(); ++i) {
        const Vessel &v = *vessels_[i];
        Touchdown &t = touchdowns_[i];
        if (t.happened || !v.groundContact) continue;
        const Vec3 up = v.pos.normalized();
        const Vec3 &vel = arrivalVel_[i];
        t.happened = true;
        t.time = simTime_;
        t.verticalSpeed = vel.dot(up);
        t.horizontalSpeed = (vel - vel.dot(up) * up).norm();
        t.pitchDeg = Pitch(v) / kRadPerDeg;
        t.bankDeg = Bank(v) / kRadPerDeg;
        t.headingDeg = Heading(v) / kRadPerDeg;
    }
}

void World::Step() {
    ++frame_;
    simTime_ = static_cast<double>(frame_) * dt_;
    const double mjd = Mjd();
    for (auto &v : vessels_)
        if (v->object) v->object->clbkPreStep(simTime_, dt_, mjd);
    for (std::size_t i = 0; i < vessels_.size(); ++i) {
        Vessel &v = *vessels_[i];
        ApplyNavmodeOverrides(v, dt_);
        loads_[i] = ApplyThrust(v, *body_, dt_);
        AddAerodynamics(v, *body_, loads_[i]);
    }
    for (std::size_t i = 0; i < vessels_.size(); ++i) {
        Integrate(*vessels_[i], *body_, loads_[i], dt_);
        arrivalVel_[i] = vessels_[i]->vel;  // before the ground can stop it
    }
    for (auto &v : vessels_) EvaluateContact(*v, *body_, dt_);
    RecordTouchdowns();
    for (auto &v : vessels_)
        if (v->object) v->object->clbkPostStep(simTime_, dt_, mjd);
    ProcessKeys();
}

void World::ProcessKeys() {
    if (!focus_ || options_.keys.empty()) return;
    const double t = simTime_ + kKeyTimeTolerance;
    std::fill(std::begin(keyState_), std::end(keyState_), 0);
    const auto &keys = options_.keys;
    // Held keys: every hold whose interval covers this frame.
    for (const KeyEvent &e : keys) {
        if (e.start > t) break;
        if (e.hold && simTime_ <= e.end + kKeyTimeTolerance) {
            keyState_[e.scanCode] = static_cast<char>(0x80);
            if (e.shift) keyState_[OAPI_KEY_LSHIFT] = static_cast<char>(0x80);
        }
    }
    // Presses (and the start of holds) that fall due in this frame.
    const std::size_t firstPress = nextPress_;
    while (nextPress_ < keys.size() && keys[nextPress_].start <= t) ++nextPress_;
    for (std::size_t i = firstPress; i < nextPress_; ++i) {
        const KeyEvent &e = keys[i];
        keyState_[e.scanCode] = static_cast<char>(0x80);
        if (e.shift) keyState_[OAPI_KEY_LSHIFT] = static_cast<char>(0x80);
    }
    Vessel &v = *focus_;
    for (std::size_t i = firstPress; i < nextPress_; ++i) {
        const KeyEvent &e = keys[i];
        const int consumed = v.object ? v.object->clbkConsumeBufferedKey(static_cast<DWORD>(e.scanCode), true, keyState_) : 0;
        if (!consumed && !e.shift) HostBufferedKey(v, e.scanCode);
    }
    if (v.object) v.object->clbkConsumeDirectKey(keyState_);
    HostDirectKeys(v);
}

void World::HostBufferedKey(Vessel &v, int scanCode) {
    for (const HostNavKey &k : kHostNavKeys)
        if (k.code == scanCode) ToggleNavmode(v, k.mode);
}

void World::HostDirectKeys(Vessel &v) {
    for (const HostAttitudeKey &k : kHostAttitudeKeys)
        if (KEYDOWN(keyState_, k.code)) v.keyOverride[k.group] = 1.0;
    if (KEYDOWN(keyState_, OAPI_KEY_ADD)) SetGroupLevel(v, THGROUP_MAIN, MainGroupLevel(v) + kMainLevelRatePerSecond * dt_);
    if (KEYDOWN(keyState_, OAPI_KEY_SUBTRACT))
        SetGroupLevel(v, THGROUP_MAIN, MainGroupLevel(v) - kMainLevelRatePerSecond * dt_);
    if (KEYDOWN(keyState_, OAPI_KEY_MULTIPLY)) SetGroupLevel(v, THGROUP_MAIN, 0.0);
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

std::string World::SaveScenario() {
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
    return out;
}

}  // namespace vtal::sim
