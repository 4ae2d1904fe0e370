// The simulated world of one run: the turning central body, the vessels
// created from a scenario (each driven by its freshly loaded module or
// passive), the annotations, the host's keyboard, the head-up display
// canvas, and the frame in the host's order of work.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "host/Orbitersdk.h"
#include "hostlib/Backend.h"
#include "sim/base/CentralBody.h"
#include "sim/files/Installation.h"
#include "sim/files/KeyScript.h"
#include "sim/files/Scenario.h"
#include "sim/vessel/Actuation.h"
#include "sim/vessel/Vessel.h"
#include "sim/world/Annotations.h"
#include "sim/world/HudCanvas.h"
#include "sim/world/Keyboard.h"
#include "sim/world/ModuleLibrary.h"

namespace vtal::sim {

class World;

// Changes a vessel's start once its scenario status is applied, before its
// module's post-creation and before the host derives ground contact from
// it (a campaign's dispersion of the start).
using StartAdjustment = std::function<void(Vessel &, const CentralBody &)>;

// Makes the host API's backend for a world; it is installed while the world lives.
using BackendFactory = std::function<std::unique_ptr<host::Backend>(World &)>;

struct WorldOptions {
    double dt = 1.0 / 60.0;
    std::vector<KeyEvent> keys;  // the key script
    bool liveKeyboard = false;   // keys come from outside (Keyboard()) as well: the keyboard runs every frame
    std::ostream *log = nullptr;       // annotations as they appear; null: silent
    std::ostream *warnings = nullptr;  // warnings as they arise; null: kept only
    int hudWidth = 1280;
    int hudHeight = 1024;
    bool preciseSave = false;  // saved states with 17 significant digits, for exact continuation
    StartAdjustment adjustStart;
};

// What a module's clbkLoadStateEx reads from: one vessel block, line by line.
struct ScenarioLineFeed {
    const std::vector<ScenarioLine> *lines = nullptr;
    std::size_t next = 0;
    std::vector<char> buffer;
};

class World {
public:
    // Installs the backend that `makeBackend` makes, loads the modules,
    // creates every vessel as the host does and runs their post-creation.
    // Throws InputError (with nothing left loaded) on bad input.
    World(const Scenario &scenario, const Installation &installation, const WorldOptions &options,
          const BackendFactory &makeBackend);
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    // One frame, in the host's order of work.
    void Step();

    // The time at the start of the step being computed (oapiGetSimTime);
    // between frames, the time reached.
    double SimTime() const { return simTime_; }
    double Mjd() const { return MjdAt(simTime_); }
    double MjdAt(double t) const { return mjd0_ + t / kSecondsPerDay; }
    // Inside a post-step the host still answers position, velocity, attitude
    // and rates with the state from before the step.
    bool InPostStep() const { return inPostStep_; }
    long Frame() const { return frame_; }
    double Dt() const { return dt_; }
    const CentralBody &Body() const { return body_; }
    const std::vector<std::unique_ptr<Vessel>> &Vessels() const { return vessels_; }
    Vessel *Focus() const { return focus_; }
    // Gives the focus to another vessel and tells both modules, as the host
    // does. The keyboard is the host's, not a vessel's: keys held stay held
    // and act on the new focus from the next key phase.
    void SetFocus(Vessel &v);
    Vessel *FindVessel(const std::string &name) const;
    bool IsVessel(OBJHANDLE h) const;
    const Touchdown &TouchdownOf(const Vessel &v) const { return v.contact.touchdown; }
    Annotations &Notes() { return notes_; }
    const std::vector<std::unique_ptr<Annotation>> &AllAnnotations() const { return notes_.All(); }
    const std::vector<std::string> &Warnings() const { return warnings_; }
    const Scenario &Source() const { return scenario_; }
    // The host's keyboard; events pushed here reach the focus vessel's module
    // in the next frame's key phase.
    Keyboard &Keys() { return keyboard_; }
    // The scripted keys that have not gone down yet (due after the time reached).
    std::vector<KeyEvent> UnpressedKeys() const { return script_.NotPressed(); }
    // Whether the key script has been played to its last key-up.
    bool KeyScriptFinished() const { return script_.Finished(); }

    // Paints the focus vessel's head-up display onto the canvas.
    void PaintHud();
    const VtalCanvas &Canvas() const { return canvas_; }

    // The whole scenario as it stands, in the host's format: with the host's
    // decimals, or (precise, or the world's preciseSave option) every digit.
    std::string SaveScenario();
    std::string SaveScenario(bool precise);
    // The same with another description than the scenario's own.
    std::string SaveScenario(bool precise, const std::vector<std::string> &description);
    // A vessel's own scenario lines (those its module writes after the standard ones).
    void ModuleLines(Vessel &v, std::string &text);

    void Warn(const std::string &message);        // every time
    void WarnOnce(const std::string &message);    // once per message

private:
    // Creation (WorldCreation.cpp).
    void LoadModules(const Installation &installation);
    void CreateVessel(const VesselBlock &block);
    void CreateModuleVessel(Vessel &v, ModuleLibrary &module, const VesselClass &vc, const VesselBlock &block,
                            StandardStatus &status);
    void DefinePassiveVessel(Vessel &v, const VesselClass &vc, const VesselBlock &block, StandardStatus &status);
    void DeriveStartState();
    void Teardown();

    // The phases of a frame, in order.
    void RunPreSteps(double t0, double mjd0);
    void ApplyActuation();
    void AdvanceVessels(double t1);
    void RunPostSteps(double t1, double mjd1);
    void UpdateContactAndRest(double t0, double t1, double mjd1);
    void AdvanceClock();
    void RecordTouchdowns();
    void ProcessKeys();
    void ReportNavmodeChanges();

    void AdvanceVessel(Vessel &v, Loads &loads, double t1);
    StatusContext StatusContextNow();

    Scenario scenario_;
    // The scenario's body, standing at the date of the state last computed.
    CentralBody body_;
    double dt_;
    double mjd0_;
    double simTime_ = 0.0;
    long frame_ = 0;
    WorldOptions options_;

    std::unique_ptr<host::Backend> backend_;
    std::vector<std::pair<std::string, std::unique_ptr<ModuleLibrary>>> modules_;
    std::vector<VesselClass> classes_;           // per scenario vessel block
    std::vector<ModuleLibrary *> blockModules_;  // per block: its module, or null
    std::vector<std::unique_ptr<Vessel>> vessels_;
    std::unordered_set<const void *> vesselHandles_;
    std::vector<Loads> loads_;
    Vessel *focus_ = nullptr;
    bool inPostStep_ = false;
    Annotations notes_;
    VtalCanvas canvas_;
    std::vector<std::string> warnings_;
    Keyboard keyboard_;
    ScriptedKeys script_;
    bool keyboardRuns_ = false;
};

}  // namespace vtal::sim
