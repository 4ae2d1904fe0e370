// The simulated world of one run: the central body, the vessels created from
// a scenario (each driven by its freshly loaded module or passive), the
// annotations, the head-up display canvas and the frame loop.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
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

struct Touchdown {
    bool happened = false;
    double time = 0.0;
    double verticalSpeed = 0.0;    // m/s, positive up
    double horizontalSpeed = 0.0;  // m/s
    double pitchDeg = 0.0, bankDeg = 0.0, headingDeg = 0.0;
};

struct WorldOptions {
    double dt = 1.0 / 60.0;
    std::vector<KeyEvent> keys;
    std::ostream *log = nullptr;       // annotations as they appear; null: silent
    std::ostream *warnings = nullptr;  // warnings as they arise; null: kept only
    int hudWidth = 1280;
    int hudHeight = 1024;
};

class World {
public:
    // Loads the modules, creates every vessel as the host does and runs their
    // post-creation. Throws InputError (with nothing left loaded) on bad input.
    World(const Scenario &scenario, const Installation &installation, const WorldOptions &options);
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    // One frame: pre-steps, navigation modes and thrust, integration, surface
    // contact, post-steps, then the keyboard of the focus vessel.
    void Step();

    double SimTime() const { return simTime_; }
    double Mjd() const { return mjd0_ + simTime_ / 86400.0; }
    long Frame() const { return frame_; }
    double Dt() const { return dt_; }
    const CentralBody &Body() const { return *body_; }
    const std::vector<std::unique_ptr<Vessel>> &Vessels() const { return vessels_; }
    Vessel *Focus() const { return focus_; }
    Vessel *FindVessel(const std::string &name) const;
    bool IsVessel(OBJHANDLE h) const;
    const Touchdown &TouchdownOf(const Vessel &v) const;
    const std::vector<std::unique_ptr<Annotation>> &Annotations() const { return annotations_; }
    const std::vector<std::string> &Warnings() const { return warnings_; }
    const Scenario &Source() const { return scenario_; }

    // Paints the focus vessel's head-up display onto the canvas.
    void PaintHud();
    const VtalCanvas &Canvas() const { return canvas_; }

    // The whole scenario as it stands, in the host's format.
    std::string SaveScenario();
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
    void ProcessKeys();
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
    std::vector<Touchdown> touchdowns_;
    std::vector<Loads> loads_;
    std::vector<Vec3> arrivalVel_;  // per vessel: velocity after integration, before contact
    Vessel *focus_ = nullptr;
    std::vector<std::unique_ptr<Annotation>> annotations_;
    std::vector<std::unique_ptr<std::string>> textures_;
    VtalCanvas canvas_;
    std::vector<std::string> warnings_;

    // Keyboard script state.
    std::size_t nextPress_ = 0;
    char keyState_[256] = {};
};

}  // namespace vtal::sim
