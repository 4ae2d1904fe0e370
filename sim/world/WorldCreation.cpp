// How the host makes a world from a scenario: the modules loaded, each
// vessel created by its module (or defined passive from its configuration),
// its scenario status applied, and the post-creation run.
#include <algorithm>

#include "sim/base/InputError.h"
#include "sim/base/Numbers.h"
#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"
#include "sim/vessel/Landed.h"
#include "sim/world/World.h"

namespace vtal::sim {
namespace {

// The host API is process-wide (one installed backend, one loaded copy of
// each module), so only one world may exist at a time.
bool worldExists = false;

// The scenario's body, standing at the scenario's date.
CentralBody BodyOf(const Scenario &scenario) {
    if (!scenario.body) throw InputError(At(scenario.path, 0, "no central body"));
    return scenario.body->At(scenario.mjd);
}

}  // namespace

World::World(const Scenario &scenario, const Installation &installation, const WorldOptions &options,
             const BackendFactory &makeBackend)
    : scenario_(scenario),
      body_(BodyOf(scenario)),
      dt_(options.dt),
      mjd0_(scenario.mjd),
      options_(options),
      notes_(options.log),
      script_(options.keys, options.dt) {
    if (worldExists) throw std::logic_error("only one world can exist at a time: the host API is process-wide");
    worldExists = true;
    canvas_.width = options.hudWidth;
    canvas_.height = options.hudHeight;
    keyboardRuns_ = !script_.Empty() || options.liveKeyboard;
    try {
        backend_ = makeBackend(*this);
        host::InstallBackend(backend_.get());
        for (const std::string &w : scenario.warnings) Warn(w);
        LoadModules(installation);
        vessels_.reserve(scenario.vessels.size());
        for (const VesselBlock &block : scenario.vessels) CreateVessel(block);
        loads_.assign(vessels_.size(), Loads{});
        DeriveStartState();
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

// What the host derives of each vessel's start before anything flies.
void World::DeriveStartState() {
    for (auto &v : vessels_) {
        vesselHandles_.insert(v.get());
        v->contact.touchdownPointsChanged = false;  // points set while defining the vessel release nothing
        UpdateSurface(*v, body_);
        if (!v->Landed()) v->contact.groundContact = PointBelowSurface(*v, v->motion, body_);
        v->contact.lastVerticalSpeed = VerticalSpeed(*v);
    }
}

void World::LoadModules(const Installation &installation) {
    for (const VesselBlock &block : scenario_.vessels) {
        VesselClass vc = installation.FindClass(block.className);
        for (const std::string &w : vc.warnings) WarnOnce(w);
        if (!vc.known)
            WarnOnce("vessel class '" + block.className + "' has no configuration file; it flies as a passive vessel of " +
                     Plain(kDefaultPassiveSize) + " m and " + Plain(kDefaultPassiveEmptyMass) + " kg");
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

StatusContext World::StatusContextNow() {
    return {body_, Mjd(), [this](const std::string &message) { WarnOnce(message); }};
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
    ApplyStandardStatus(v, status, StatusContextNow());
    if (options_.adjustStart) options_.adjustStart(v, body_);
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
    v.actuators.tanks.push_back(std::move(tank));
    for (const ScenarioLine &line : block.lines) {
        const LineResult parsed = ParseStandardLine(line.text, status);
        if (parsed.kind == LineKind::Other && !parsed.key.empty()) {
            WarnOnce("vessel line " + parsed.key + " means nothing to a passive vessel; carried unchanged");
            status.carried.emplace_back(parsed.key, line.text);
        }
    }
}

}  // namespace vtal::sim
