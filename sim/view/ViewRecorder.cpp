#include "sim/view/ViewRecorder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include <nlohmann/json.hpp>

#include "sim/base/Numbers.h"
#include "sim/view/RecordParts.h"

namespace vtal::sim {
namespace {

using namespace viewparts;

constexpr double kTimeTolerance = 1e-9;  // s

// The record's size, estimated before the run: a channel's value takes
// about this many bytes per sample (a difference in whole steps and a
// comma; measured 2.1 to 2.6 on descents sampled 30 times a second, 4 at
// three a second, where the differences are larger), the time channel about 8.
constexpr double kBytesPerRecordedValue = 4.0;
constexpr double kBytesPerTime = 8.0;
// The head-up display (the focus vessel's) changes with its readout: up to
// a frame and a new text run per sample (measured 130 in a descent).
constexpr double kHudBytesPerSample = 160.0;
// What the record says once of the run (format, body, origin, step, the
// navigation modes' names) besides the scenario's path: measured 350.
constexpr double kRunBytes = 1000.0;
// Values a vessel records per sample besides one per animation and thruster:
// position 3, attitude 4, navigation modes, contact, propellant and six instruments.
constexpr double kValuesPerSample = 16.0;
constexpr double kBytesPerMegabyte = 1e6;

double SampleBytes(const Vessel &v) {
    return kBytesPerRecordedValue * (kValuesPerSample + static_cast<double>(v.actuators.animations.size()) +
                                     static_cast<double>(v.actuators.thrusters.size()));
}

// The vessel's fixed description as the record holds it (its stand-in model
// above all), measured once per class.
double DescriptionBytes(const Vessel &v, std::map<std::string, double> &byClass) {
    const auto found = byClass.find(v.className);
    if (found != byClass.end()) return found->second;
    const bool hasModel = HasStandInModel(v);
    const StandInModel model = hasModel ? BuildStandInModel(v) : StandInModel{};
    const double bytes = static_cast<double>(Dump(VesselDescription(v, hasModel ? &model : nullptr)).size());
    byClass.emplace(v.className, bytes);
    return bytes;
}

// The world's vessels, the focus first, then by distance from it at the
// start (the scenario's order among equals).
std::vector<std::size_t> NearestToFocus(const World &world) {
    const auto &vessels = world.Vessels();
    const std::size_t focus = FocusIndex(world);
    const Vec3 at = vessels[focus]->motion.positionGlobal;
    std::vector<double> distance(vessels.size());
    for (std::size_t i = 0; i < vessels.size(); ++i)
        distance[i] = i == focus ? -1.0 : (vessels[i]->motion.positionGlobal - at).norm();
    std::vector<std::size_t> order(vessels.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return distance[a] < distance[b]; });
    return order;
}

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, bytes < 10 * kBytesPerMegabyte ? "%.1f MB" : "%.0f MB", bytes / kBytesPerMegabyte);
    return text;
}

}  // namespace

ViewPlan FullViewPlan(const World &world) {
    ViewPlan plan;
    plan.worldVessels = world.Vessels().size();
    plan.vessels.resize(plan.worldVessels);
    std::iota(plan.vessels.begin(), plan.vessels.end(), std::size_t{0});
    return plan;
}

ViewPlan PlanView(const World &world, double expectedEnd, double budgetBytes) {
    ViewPlan plan;
    const auto &vessels = world.Vessels();
    plan.worldVessels = vessels.size();
    if (vessels.empty()) return plan;
    const double end = std::isfinite(expectedEnd) ? std::max(expectedEnd, 0.0) : 0.0;
    // The first sample, one per interval, and the last.
    const auto sampleCount = [&](double interval) { return std::floor(end / interval) + 2.0; };
    const double samples = sampleCount(kViewSampleInterval);
    const double shared = kBytesPerTime + kHudBytesPerSample;  // per sample, whatever the vessels
    std::map<std::string, double> descriptions;
    std::vector<double> fixed(vessels.size()), perSample(vessels.size());
    const double run = kRunBytes + static_cast<double>(world.Source().path.size());
    plan.everythingBytes = run + samples * shared;
    for (std::size_t i = 0; i < vessels.size(); ++i) {
        fixed[i] = DescriptionBytes(*vessels[i], descriptions);
        perSample[i] = SampleBytes(*vessels[i]);
        plan.everythingBytes += fixed[i] + samples * perSample[i];
    }
    double bytes = run + samples * shared;
    for (std::size_t i : NearestToFocus(world)) {
        const double cost = fixed[i] + samples * perSample[i];
        if (!plan.vessels.empty() && (plan.vessels.size() >= kViewMaxVessels || bytes + cost > budgetBytes)) break;
        plan.vessels.push_back(i);
        bytes += cost;
    }
    if (bytes > budgetBytes) {
        // The focus alone is too much: as many samples as fit, evenly spread.
        const std::size_t focus = plan.vessels.front();
        const double each = perSample[focus] + shared;
        const double fit = std::max(3.0, std::floor((budgetBytes - run - fixed[focus]) / each));
        plan.sampleInterval = std::max(kViewSampleInterval, end / (fit - 2.0));
        bytes = run + fixed[focus] + sampleCount(plan.sampleInterval) * each;
    }
    std::sort(plan.vessels.begin(), plan.vessels.end());
    plan.estimatedBytes = bytes;
    return plan;
}

std::string ViewPlanNotice(const ViewPlan &plan, const World &world) {
    const auto &vessels = world.Vessels();
    const std::size_t focus = FocusIndex(world);
    const bool fewer = plan.vessels.size() < plan.worldVessels;
    const bool sparser = plan.sampleInterval > kViewSampleInterval;
    std::string text = "--view: a page of ";
    text += fewer ? "all " + std::to_string(plan.worldVessels) + " vessels" : std::string("this run");
    if (sparser) text += " sampled 30 times a second";
    text += " would be about " + Megabytes(plan.everythingBytes) + ", more than a browser opens well; the page";
    if (fewer) {
        const std::size_t others = plan.vessels.size() - 1;
        text += " holds the focus vessel (" + (focus < vessels.size() ? vessels[focus]->name : std::string("?")) + ")";
        if (others > 0) text += " and the " + std::to_string(others) + " vessel" + (others == 1 ? "" : "s") + " nearest to it";
    }
    if (sparser) {
        text += std::string(fewer ? " and" : "") + " samples every " + Plain(plan.sampleInterval, 3) + " s instead";
    }
    text += ", about " + Megabytes(plan.estimatedBytes) + ".";
    if (sparser) text += " A shorter --until samples more often.";
    if (fewer)
        text += " The report and the telemetry keep every vessel; to see another in the page, make it the "
                "scenario's focus (BEGIN_FOCUS).";
    return text;
}

VesselSample SampleOf(const World &world, const Vessel &v) {
    VesselSample s;
    s.pos = BodyFixedPosition(world, v);
    s.attitude = BodyFixedAttitude(world, v);
    for (const Animation &a : v.actuators.animations) s.animations.push_back(a.state);
    for (const auto &t : v.actuators.thrusters) s.thrusters.push_back(t->effective);
    s.navmodes = v.actuators.navmodes;
    s.propellant = v.PropellantMass();
    static_cast<Instruments &>(s) = InstrumentsOf(v, world.Body());
    s.contact = v.contact.groundContact;
    return s;
}

ViewRecorder::ViewRecorder(World &world) : ViewRecorder(world, FullViewPlan(world)) {}

ViewRecorder::ViewRecorder(World &world, ViewPlan plan) : plan_(std::move(plan)) {
    for (std::size_t index : plan_.vessels) {
        if (index >= world.Vessels().size()) continue;
        const Vessel &v = *world.Vessels()[index];
        VesselTrack track;
        track.index = index;
        track.hasModel = HasStandInModel(v);
        if (track.hasModel) track.model = BuildStandInModel(v);
        tracks_.push_back(std::move(track));
    }
    Sample(world);
}

const Vessel *ViewRecorder::VesselOf(const World &world, const VesselTrack &track) const {
    return track.index < world.Vessels().size() ? world.Vessels()[track.index].get() : nullptr;
}

std::size_t ViewRecorder::FocusTrack(const World &world) const {
    const std::size_t focus = FocusIndex(world);
    for (std::size_t k = 0; k < tracks_.size(); ++k)
        if (tracks_[k].index == focus) return k;
    return 0;
}

bool ViewRecorder::EventHappened(const World &world) const {
    for (const VesselTrack &t : tracks_) {
        const Vessel *v = VesselOf(world, t);
        if (!v || t.samples.empty()) continue;
        if (v->contact.groundContact != t.samples.back().contact) return true;
        if (world.TouchdownOf(*v).happened != t.touchedDown) return true;
    }
    return false;
}

void ViewRecorder::Frame(World &world) {
    if (world.SimTime() + kTimeTolerance >= nextSample_ || EventHappened(world)) Sample(world);
}

void ViewRecorder::Sample(World &world) {
    const double time = world.SimTime();
    if (time <= lastTime_ + kTimeTolerance) return;
    lastTime_ = time;
    times_.push_back(time);
    const double interval = plan_.sampleInterval;
    nextSample_ = (std::floor((time + kTimeTolerance) / interval) + 1.0) * interval;
    for (VesselTrack &track : tracks_) {
        const Vessel *v = VesselOf(world, track);
        if (!v) continue;
        track.samples.push_back(SampleOf(world, *v));
        track.touchedDown = world.TouchdownOf(*v).happened;
        SamplePoses(*v, track, time);
    }
    SampleHud(world, time);
}

void ViewRecorder::SamplePoses(const Vessel &v, VesselTrack &track, double time) {
    const std::vector<GroupPose> poses = EvaluateGroupPoses(v);
    PoseFrame frame;
    frame.time = time;
    for (const GroupPose &p : poses) {
        bool changed = true;
        for (const GroupPose &old : track.lastPoses)
            if (old.mesh == p.mesh && old.group == p.group) changed = !SamePose(old.transform, p.transform);
        if (changed) AddToPoseSets(frame.sets, p);
    }
    track.lastPoses = poses;
    if (!frame.sets.empty() || track.poses.empty()) track.poses.push_back(std::move(frame));
}

void ViewRecorder::SampleHud(World &world, double time) {
    world.PaintHud();
    const auto &runs = world.Canvas().runs;
    if (!hud_.empty() && SameRuns(hud_.back().runs, runs)) return;
    hud_.push_back({time, runs});
}

std::string ViewRecorder::Finish(World &world) {
    Sample(world);
    const std::size_t focus = FocusTrack(world);
    const LocalFrame frame = LocalFrameBelow(LandingPoint(world, focus), world.Body().radius);
    Json vessels = Json::array();
    std::size_t focusShown = 0;  // the focus among the vessels written
    for (std::size_t k = 0; k < tracks_.size(); ++k) {
        if (!VesselOf(world, tracks_[k])) continue;
        if (k == focus) focusShown = vessels.size();
        vessels.push_back(VesselJson(world, tracks_[k], frame));
    }
    Json out = RunJson(world, focusShown, frame);
    out["vessels"] = std::move(vessels);
    out["hud"] = HudJson(world);
    out["annotations"] = AnnotationsJson(world);
    return Dump(out);
}

// Where the focus vessel touched down, else where it ended (body-fixed); the
// record's local frame is on the ground below it.
Vec3 ViewRecorder::LandingPoint(const World &world, std::size_t focus) const {
    if (focus >= tracks_.size() || tracks_[focus].samples.empty() || !VesselOf(world, tracks_[focus])) return Vec3::Zero();
    const VesselTrack &t = tracks_[focus];
    const Touchdown &td = world.TouchdownOf(*VesselOf(world, t));
    const VesselSample *at = &t.samples.back();
    if (td.happened)
        for (std::size_t k = 0; k < times_.size() && k < t.samples.size(); ++k)
            if (std::abs(times_[k] - td.time) < kTimeTolerance) at = &t.samples[k];
    return at->pos;
}

// What holds for the whole run: its source, body, step, end, focus, origin and sample times.
Json ViewRecorder::RunJson(const World &world, std::size_t focus, const LocalFrame &frame) const {
    Json out;
    out["format"] = "vtal-view 1";
    out["scenario"] = world.Source().path;
    out["body"] = {{"name", world.Body().name}, {"radius", world.Body().radius}};
    out["dt"] = world.Dt();
    out["endTime"] = world.SimTime();
    out["focus"] = focus;
    out["origin"] = frame.OriginJson();
    out["time"] = Channel(times_, kTimeStep);
    out["poseStep"] = kPoseStep;
    out["navmodeNames"] = NavmodeNamesJson();
    // A page kept within its bound says what it left out.
    if (plan_.Thinned())
        out["thinned"] = {{"vessels", plan_.worldVessels}, {"sampleInterval", Rounded(plan_.sampleInterval, kTimeStep)}};
    return out;
}

Json ViewRecorder::VesselJson(const World &world, const VesselTrack &track, const LocalFrame &frame) const {
    const Vessel &v = *VesselOf(world, track);
    Json jv = VesselDescription(v, track.hasModel ? &track.model : nullptr);
    const Touchdown &td = world.TouchdownOf(v);
    jv["touchdown"] = td.happened ? Json(td.time) : Json(nullptr);
    jv["channels"] = ChannelsJson(track, v, frame);
    jv["poses"] = PosesJson(track);
    return jv;
}

// Every sample's values, a channel each, in the local frame.
Json ViewRecorder::ChannelsJson(const VesselTrack &track, const Vessel &v, const LocalFrame &frame) {
    const std::size_t n = track.samples.size();
    std::vector<double> px(n), py(n), pz(n), qx(n), qy(n), qz(n), qw(n), nav(n), contact(n), prop(n), alt(n), vs(n),
        hs(n), pitch(n), bank(n), heading(n);
    const std::size_t animCount = v.actuators.animations.size(), thrCount = v.actuators.thrusters.size();
    std::vector<std::vector<double>> anims(animCount, std::vector<double>(n)), thr(thrCount, std::vector<double>(n));
    Quat previous = Quat::Identity();
    for (std::size_t k = 0; k < n; ++k) {
        const VesselSample &s = track.samples[k];
        const Vec3 p = frame.Position(s.pos);
        px[k] = p.x();
        py[k] = p.y();
        pz[k] = p.z();
        Quat q = frame.Attitude(s.attitude);
        if (k > 0 && q.dot(previous) < 0.0) q.coeffs() = -q.coeffs();  // the shorter way to the next
        previous = q;
        qx[k] = q.x();
        qy[k] = q.y();
        qz[k] = q.z();
        qw[k] = q.w();
        for (std::size_t a = 0; a < animCount && a < s.animations.size(); ++a) anims[a][k] = s.animations[a];
        for (std::size_t t = 0; t < thrCount && t < s.thrusters.size(); ++t) thr[t][k] = s.thrusters[t];
        nav[k] = s.navmodes;
        contact[k] = s.contact ? 1.0 : 0.0;
        prop[k] = s.propellant;
        alt[k] = s.altitude;
        vs[k] = s.verticalSpeed;
        hs[k] = s.horizontalSpeed;
        pitch[k] = s.pitchDeg;
        bank[k] = s.bankDeg;
        heading[k] = s.headingDeg;
    }
    Json ch;
    ch["pos"] = Json::array({Channel(px, kPositionStep), Channel(py, kPositionStep), Channel(pz, kPositionStep)});
    ch["quat"] = Json::array({Channel(qx, kQuaternionStep), Channel(qy, kQuaternionStep), Channel(qz, kQuaternionStep),
                              Channel(qw, kQuaternionStep)});
    Json ja = Json::array(), jt = Json::array();
    for (const auto &a : anims) ja.push_back(Channel(a, kStateStep));
    for (const auto &t : thr) jt.push_back(Channel(t, kLevelStep));
    ch["anim"] = std::move(ja);
    ch["thrust"] = std::move(jt);
    ch["navmodes"] = Channel(nav, 1.0);
    ch["contact"] = Channel(contact, 1.0);
    ch["propellant"] = Channel(prop, kInstrumentStep);
    ch["altitude"] = Channel(alt, kInstrumentStep);
    ch["verticalSpeed"] = Channel(vs, kInstrumentStep);
    ch["horizontalSpeed"] = Channel(hs, kInstrumentStep);
    ch["pitch"] = Channel(pitch, kInstrumentStep);
    ch["bank"] = Channel(bank, kInstrumentStep);
    ch["heading"] = Channel(heading, kInstrumentStep);
    return ch;
}

// The pose entries: each time some group's pose changed, the changed ones.
Json ViewRecorder::PosesJson(const VesselTrack &track) {
    Json poses = Json::array();
    for (const PoseFrame &f : track.poses)
        poses.push_back({{"t", Rounded(f.time, kTimeStep)}, {"sets", PoseSetsJson(f.sets)}});
    return poses;
}

// Each distinct text run once; a frame lists the runs it shows.
Json ViewRecorder::HudJson(const World &world) const {
    Json hudRuns = Json::array(), hudFrames = Json::array();
    std::vector<VtalCanvas::TextRun> distinct;
    for (const HudFrame &f : hud_) {
        Json shown = Json::array();
        for (const auto &r : f.runs) {
            auto it = std::find_if(distinct.begin(), distinct.end(),
                                   [&](const VtalCanvas::TextRun &d) { return SameRun(d, r); });
            if (it == distinct.end()) {
                distinct.push_back(r);
                hudRuns.push_back(HudRunJson(r));
                it = distinct.end() - 1;
            }
            shown.push_back(it - distinct.begin());
        }
        hudFrames.push_back({{"t", Rounded(f.time, kTimeStep)}, {"runs", std::move(shown)}});
    }
    return {{"width", world.Canvas().width},
            {"height", world.Canvas().height},
            {"runs", std::move(hudRuns)},
            {"frames", std::move(hudFrames)}};
}

// Every annotation of the run, with the times it appeared and went.
Json ViewRecorder::AnnotationsJson(const World &world) {
    Json notes = Json::array();
    for (const auto &a : world.AllAnnotations())
        notes.push_back({{"text", a->text},
                         {"from", Finite(a->createdAt)},
                         {"to", a->deleted ? Json(Finite(a->deletedAt)) : Json(nullptr)},
                         {"colour", Hex(a->colour)},
                         {"size", Finite(a->size)},
                         {"box", {Finite(a->box[0]), Finite(a->box[1]), Finite(a->box[2]), Finite(a->box[3])}}});
    return notes;
}

}  // namespace vtal::sim
