// Records a run for the replay page: at 30 samples a second (every frame if
// frames are longer), and at every touchdown and at the end, each vessel's
// position and attitude, animation states, thruster levels, navigation modes,
// propellant and flight instruments, the poses of the animated mesh groups as
// the host's animation evaluator places them, and the painted head-up
// display; once, the stand-in model, exhausts and particle streams.
//
// Positions are kept in a local frame at the landing point (the focus
// vessel's touchdown, or where it ends): x east, y up, z south, so that the
// page's numbers stay small and its frame is right-handed; the vessel frame
// (x right, y up, z forward) is shown with z turned the same way.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/vessel/AnimationEvaluator.h"
#include "sim/vessel/FlightState.h"
#include "sim/view/StandInModel.h"
#include "sim/world/World.h"

namespace vtal::sim {

namespace viewparts {
struct LocalFrame;
}

constexpr double kViewSampleInterval = 1.0 / 30.0;  // s
// A replay page larger than this loads slowly, if at all, in a browser, and
// costs several times its size in memory while it is written.
constexpr double kViewPageBudgetBytes = 64e6;
// The page draws every part of each vessel it holds: more make it slow.
constexpr std::size_t kViewMaxVessels = 100;

// What the page of a run holds: which vessels and how often they are
// sampled, with the page's estimated size and that of a page of every
// vessel at kViewSampleInterval.
struct ViewPlan {
    std::vector<std::size_t> vessels;  // indices into the world's vessels, in its order
    double sampleInterval = kViewSampleInterval;
    double estimatedBytes = 0.0, everythingBytes = 0.0;
    std::size_t worldVessels = 0;  // how many the world has
    bool Thinned() const { return vessels.size() < worldVessels || sampleInterval > kViewSampleInterval; }
};

// Every vessel at kViewSampleInterval.
ViewPlan FullViewPlan(const World &world);
// The page of a run expected to last `expectedEnd` s within `budgetBytes`
// and kViewMaxVessels: every vessel if they fit, else the focus vessel and
// the vessels nearest to it at the start; for a run too long even for the
// focus alone, samples spaced farther apart.
ViewPlan PlanView(const World &world, double expectedEnd, double budgetBytes = kViewPageBudgetBytes);
// What a thinned plan leaves out, its sizes and what to do instead: for the
// run's warnings before it flies.
std::string ViewPlanNotice(const ViewPlan &plan, const World &world);

// A vessel as the pages show it at one moment: position and attitude in the
// body-fixed frame, animation states, every thruster's effective level,
// navigation modes, propellant, ground contact and the telemetry's instruments.
struct VesselSample : Instruments {
    Vec3 pos = Vec3::Zero();
    Quat attitude = Quat::Identity();
    std::vector<double> animations, thrusters;
    unsigned navmodes = 0;
    double propellant = 0.0;
    bool contact = false;
};
VesselSample SampleOf(const World &world, const Vessel &v);

// Mesh groups that move alike, and their pose.
struct PoseSet {
    std::vector<UINT> groups;
    Transform transform;
};

class ViewRecorder {
public:
    // Takes the first sample and the definitions of the plan's vessels
    // (every vessel without a plan).
    explicit ViewRecorder(World &world);
    ViewRecorder(World &world, ViewPlan plan);

    // After every frame: samples when due.
    void Frame(World &world);

    // Takes the last sample and returns the whole record as JSON.
    std::string Finish(World &world);

    std::size_t SampleCount() const { return times_.size(); }

private:
    struct PoseFrame {
        double time = 0.0;
        std::vector<PoseSet> sets;
    };
    struct HudFrame {
        double time = 0.0;
        std::vector<VtalCanvas::TextRun> runs;
    };
    struct VesselTrack {
        std::size_t index = 0;  // in the world's vessels
        StandInModel model;
        bool hasModel = false;
        std::vector<VesselSample> samples;
        std::vector<PoseFrame> poses;
        std::vector<GroupPose> lastPoses;
        bool touchedDown = false;
    };

    void Sample(World &world);
    // The record's parts (Finish).
    Vec3 LandingPoint(const World &world, std::size_t focus) const;
    nlohmann::json RunJson(const World &world, std::size_t focus, const viewparts::LocalFrame &frame) const;
    nlohmann::json VesselJson(const World &world, const VesselTrack &track, const viewparts::LocalFrame &frame) const;
    // The track of the world's focus vessel (the first track if it has none).
    std::size_t FocusTrack(const World &world) const;
    const Vessel *VesselOf(const World &world, const VesselTrack &track) const;
    static nlohmann::json ChannelsJson(const VesselTrack &track, const Vessel &v, const viewparts::LocalFrame &frame);
    static nlohmann::json PosesJson(const VesselTrack &track);
    nlohmann::json HudJson(const World &world) const;
    static nlohmann::json AnnotationsJson(const World &world);
    void SamplePoses(const Vessel &v, VesselTrack &track, double time);
    void SampleHud(World &world, double time);
    bool EventHappened(const World &world) const;

    ViewPlan plan_;
    std::vector<double> times_;
    std::vector<VesselTrack> tracks_;
    std::vector<HudFrame> hud_;
    double nextSample_ = 0.0;
    double lastTime_ = -1.0;
};

}  // namespace vtal::sim
