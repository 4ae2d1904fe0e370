#include "sim/view/LiveView.h"

#include <nlohmann/json.hpp>

#include "sim/view/RecordParts.h"
#include "sim/view/ViewRecorder.h"

namespace vtal::sim {
namespace {

using namespace viewparts;

// Decimals of the state's numbers: the record's steps.
constexpr int kTimeDecimals = 6;        // s
constexpr int kPositionDecimals = 4;    // m
constexpr int kQuaternionDecimals = 6;
constexpr int kStateDecimals = 5;       // animation states
constexpr int kLevelDecimals = 4;       // thruster levels
constexpr int kInstrumentDecimals = 5;  // m, m/s, deg, kg
constexpr int kWarpDecimals = 3;

Json Decimals(const std::vector<double> &values, int decimals) {
    Json out = Json::array();
    for (double x : values) out.push_back(Decimal(x, decimals));
    return out;
}

// Every animated group's pose as the evaluator gives it now.
Json CurrentPosesJson(const Vessel &v) {
    std::vector<PoseSet> sets;
    for (const GroupPose &p : EvaluateGroupPoses(v)) AddToPoseSets(sets, p);
    return PoseSetsJson(sets);
}

Json InstrumentsInto(Json jv, const VesselSample &s) {
    jv["altitude"] = Decimal(s.altitude, kInstrumentDecimals);
    jv["verticalSpeed"] = Decimal(s.verticalSpeed, kInstrumentDecimals);
    jv["horizontalSpeed"] = Decimal(s.horizontalSpeed, kInstrumentDecimals);
    jv["pitch"] = Decimal(s.pitchDeg, kInstrumentDecimals);
    jv["bank"] = Decimal(s.bankDeg, kInstrumentDecimals);
    jv["heading"] = Decimal(s.headingDeg, kInstrumentDecimals);
    return jv;
}

Json HudRunsJson(const std::vector<VtalCanvas::TextRun> &runs) {
    Json out = Json::array();
    for (const auto &r : runs) out.push_back(HudRunJson(r));
    return out;
}

Json LiveAnnotationsJson(const World &world) {
    Json notes = Json::array();
    for (const auto &a : world.AllAnnotations()) {
        if (a->deleted) continue;
        notes.push_back({{"text", a->text},
                         {"colour", Hex(a->colour)},
                         {"size", Finite(a->size)},
                         {"box", {Finite(a->box[0]), Finite(a->box[1]), Finite(a->box[2]), Finite(a->box[3])}},
                         {"from", Finite(a->createdAt)}});
    }
    return notes;
}

}  // namespace

LiveView::LiveView(World &world) {
    const auto &vessels = world.Vessels();
    const std::size_t focus = FocusIndex(world);
    const Vec3 above = focus < vessels.size() ? BodyFixedPosition(world, *vessels[focus]) : Vec3::Zero();
    const LocalFrame frame = LocalFrameBelow(above, world.Body().radius);
    origin_ = frame.origin;
    toLocal_ = frame.toLocal;
    for (const auto &v : vessels) {
        hasModel_.push_back(HasStandInModel(*v));
        models_.push_back(hasModel_.back() ? BuildStandInModel(*v) : StandInModel{});
    }
    lastAttitudes_.assign(vessels.size(), Quat::Identity());
}

const StandInModel *LiveView::ModelOf(std::size_t index) const {
    return index < models_.size() && hasModel_[index] ? &models_[index] : nullptr;
}

std::string LiveView::Hello(World &world) {
    const LocalFrame frame{origin_, toLocal_};
    Json out;
    out["type"] = "hello";
    out["format"] = "vtal-live 1";
    out["scenario"] = world.Source().path;
    out["body"] = {{"name", world.Body().name}, {"radius", Finite(world.Body().radius)}};
    out["dt"] = Finite(world.Dt());
    out["focus"] = FocusIndex(world);
    out["origin"] = frame.OriginJson();
    out["poseStep"] = kPoseStep;
    out["navmodeNames"] = NavmodeNamesJson();
    out["hud"] = {{"width", world.Canvas().width}, {"height", world.Canvas().height}, {"runs", HudRunsJson(hudRuns_)}};
    out["annotations"] = Json::parse(annotations_);
    Json vessels = Json::array();
    for (std::size_t i = 0; i < world.Vessels().size(); ++i)
        vessels.push_back(VesselDescription(*world.Vessels()[i], ModelOf(i)));
    out["vessels"] = std::move(vessels);
    return Dump(out);
}

std::string LiveView::State(World &world, const LiveStatus &status) {
    const LocalFrame frame{origin_, toLocal_};
    const auto &vessels = world.Vessels();
    lastAttitudes_.resize(vessels.size(), Quat::Identity());
    Json jvessels = Json::array();
    for (std::size_t i = 0; i < vessels.size(); ++i) {
        const Vessel &v = *vessels[i];
        const VesselSample s = SampleOf(world, v);
        const Vec3 p = frame.Position(s.pos);
        Quat q = frame.Attitude(s.attitude);
        if (q.dot(lastAttitudes_[i]) < 0.0) q.coeffs() = -q.coeffs();  // the shorter way from the last
        lastAttitudes_[i] = q;
        Json jv;
        jv["pos"] = Decimals({p.x(), p.y(), p.z()}, kPositionDecimals);
        jv["quat"] = Decimals({q.x(), q.y(), q.z(), q.w()}, kQuaternionDecimals);
        jv["anim"] = Decimals(s.animations, kStateDecimals);
        jv["thrust"] = Decimals(s.thrusters, kLevelDecimals);
        jv["navmodes"] = s.navmodes;
        jv["propellant"] = Decimal(s.propellant, kInstrumentDecimals);
        jv["contact"] = s.contact;
        jv = InstrumentsInto(std::move(jv), s);
        jv["poses"] = CurrentPosesJson(v);
        jv["streams"] = StreamsJson(v);
        jvessels.push_back(std::move(jv));
    }
    Json out;
    out["type"] = "state";
    out["time"] = Decimal(world.SimTime(), kTimeDecimals);
    out["focus"] = FocusIndex(world);
    out["warp"] = Decimal(status.warp, kWarpDecimals);
    out["reachedWarp"] = Decimal(status.reachedWarp, kWarpDecimals);
    out["paused"] = status.paused;
    out["vessels"] = std::move(jvessels);
    return Dump(out);
}

std::string LiveView::HudIfChanged(World &world) {
    world.PaintHud();
    const auto &runs = world.Canvas().runs;
    const std::size_t focus = FocusIndex(world);
    if (hudReturned_ && focus == hudFocus_ && SameRuns(runs, hudRuns_)) return "";
    hudReturned_ = true;
    hudFocus_ = focus;
    hudRuns_ = runs;
    return Dump({{"type", "hud"},
                 {"focus", focus},
                 {"width", world.Canvas().width},
                 {"height", world.Canvas().height},
                 {"runs", HudRunsJson(runs)}});
}

std::string LiveView::AnnotationsIfChanged(World &world) {
    std::string now = Dump(LiveAnnotationsJson(world));
    if (now == annotations_) return "";
    annotations_ = std::move(now);
    return Dump({{"type", "annotations"}, {"annotations", Json::parse(annotations_)}});
}

}  // namespace vtal::sim
