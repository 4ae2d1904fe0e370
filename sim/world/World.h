// The simulated world of one run: the turning central body, the vessels
// created from a scenario (each driven by its freshly loaded module or
// passive), the annotations, the head-up display canvas and the frame loop in
// the host's order of work.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "sim/world/CentralBody.h"
#include "sim/vessel/Dynamics.h"
#include "sim/hostapi/HudCanvas.h"
#include "sim/files/Installation.h"
#include "sim/files/KeyScript.h"
#include "sim/hostapi/ModuleLibrary.h"
#include "sim/files/Scenario.h"
#include "sim/vessel/Vessel.h"

namespace vtal::sim {

class SimBackend;

struct Annotation {
    bool exclusive = false;
    double size = 1.0;
    Vec3 colour = Vec3::Ones();
    double box[4] = {0.0, 0.0, 1.0, 1.0};  // left, top, right, bottom, fractions of the window
    std::string text;
    double createdAt = 0.0;
    bool deleted = false;
    double deletedAt = 0.0;
};

struct WorldOptions {
    double dt = 1.0 / 60.0;
    std::vector<KeyEvent> keys;
    std::ostream *log = nullptr;       // annotations as they appear; null: silent
    std::ostream *warnings = nullptr;  // warnings as they arise; null: kept only
    int hudWidth = 1280;
    int hudHeight = 1024;
    bool preciseSave = false;  // saved states with 17 significant digits, for exact continuation
};

class World {
public:
    // Loads the modules, creates every vessel as the host does and runs their
    // post-creation. Throws InputError (with nothing left loaded) on bad input.
    World(const Scenario &scenario, const Installation &installation, const WorldOptions &options);
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    // One frame, in the host's order: pre-steps; navigation modes, thrust and
    // aerodynamics; integration with surface contact (or the landed update)
    // and the new surface quantities; post-steps; ground contact and the
    // rest test; then the keyboard of the focus vessel.
    void Step();

    // The time at the start of the step being computed (oapiGetSimTime);
    // between frames, the time reached.
    double SimTime() const { return simTime_; }
    double Mjd() const { return MjdAt(simTime_); }
    double MjdAt(double t) const { return mjd0_ + t / kSecondsPerDay; }
    // Inside a post-step the host still answers position, velocity, attitude
    // and rates with the state from before the step.
    bool InPostStep() const { return inPostStep_; }
    bool PreciseSave() const { return savingPrecise_; }
    long Frame() const { return frame_; }
    double Dt() const { return dt_; }
    const CentralBody &Body() const { return *body_; }
    const std::vector<std::unique_ptr<Vessel>> &Vessels() const { return vessels_; }
    Vessel *Focus() const { return focus_; }
    Vessel *FindVessel(const std::string &name) const;
    bool IsVessel(OBJHANDLE h) const;
    const Touchdown &TouchdownOf(const Vessel &v) const { return v.touchdown; }
    const std::vector<std::unique_ptr<Annotation>> &Annotations() const { return annotations_; }
    const std::vector<std::string> &Warnings() const { return warnings_; }
    const Scenario &Source() const { return scenario_; }

    // Paints the focus vessel's head-up display onto the canvas.
    void PaintHud();
    const VtalCanvas &Canvas() const { return canvas_; }

    // The whole scenario as it stands, in the host's format: with the host's
    // decimals, or (precise, or the world's preciseSave option) every digit.
    std::string SaveScenario();
    std::string SaveScenario(bool precise);
    // A vessel's own scenario lines (those its module writes after the standard ones).
    void ModuleLines(Vessel &v, std::string &text);

    void Warn(const std::string &message);        // every time
    void WarnOnce(const std::string &message);    // once per message

private:
    friend class SimBackend;

    void LoadModules(const Installation &installation);
    void CreateVessel(const VesselBlock &block);
    void CreateModuleVessel(Vessel &v, ModuleLibrary &module, const VesselClass &vc, const VesselBlock &block,
                            StandardStatus &status);
    void DefinePassiveVessel(Vessel &v, const VesselClass &vc, const VesselBlock &block, StandardStatus &status);
    void Teardown();
    void RecordTouchdowns();
    void UpdateVessel(Vessel &v, Loads &loads);
    void ReportNavmodeChanges();
    void ProcessKeys();
    void BuildKeyTransitions();
    void HostBufferedKey(Vessel &v, int scanCode);
    void HostDirectKeys(Vessel &v);

    Scenario scenario_;
    const CentralBody *body_ = nullptr;
    double dt_;
    double mjd0_;
    double simTime_ = 0.0;
    long frame_ = 0;
    WorldOptions options_;

    std::unique_ptr<SimBackend> backend_;
    std::vector<std::pair<std::string, std::unique_ptr<ModuleLibrary>>> modules_;
    std::vector<VesselClass> classes_;           // per scenario vessel block
    std::vector<ModuleLibrary *> blockModules_;  // per block: its module, or null
    std::vector<std::unique_ptr<Vessel>> vessels_;
    std::unordered_set<const void *> vesselHandles_;
    std::vector<Loads> loads_;
    Vessel *focus_ = nullptr;
    bool inPostStep_ = false;
    bool savingPrecise_ = false;
    std::vector<std::unique_ptr<Annotation>> annotations_;
    std::vector<std::unique_ptr<std::string>> textures_;
    VtalCanvas canvas_;
    std::vector<std::string> warnings_;

    // Keyboard script state: the next key-down and key-up events due.
    struct KeyTransition {
        double time;
        int scanCode;
        bool down, shift, ctrl;
    };
    std::vector<KeyTransition> transitions_;
    std::size_t nextTransition_ = 0;
    int heldCount_[256] = {};
    char keyState_[256] = {};
};

}  // namespace vtal::sim
