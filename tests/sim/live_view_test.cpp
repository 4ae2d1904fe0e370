// The live session's messages (sim/view/LiveView): positions in the replay's
// frame, the poses the animation evaluator gives, the head-up display and
// annotations only when they change, and nothing but finite numbers.
#include <gtest/gtest.h>

#include <limits>

#include <nlohmann/json.hpp>

#include "SimTestSupport.h"
#include "sim/vessel/AnimationEvaluator.h"
#include "sim/view/LiveView.h"
#include "sim/view/ViewRecorder.h"

namespace vtal::simtest {
namespace {

using Json = nlohmann::json;
using sim::LiveStatus;
using sim::LiveView;
using sim::Vessel;

constexpr double kPositionStep = 1e-4;  // m: positions are rounded to this
constexpr double kQuaternionStep = 1e-6;

std::vector<double> Decode(const Json &channel) {
    std::vector<double> out;
    long long q = 0;
    for (const Json &d : channel["d"]) {
        q += d.get<long long>();
        out.push_back(static_cast<double>(q) * channel["step"].get<double>());
    }
    return out;
}

// Every number finite, and null only where a vessel has no model.
void ExpectOnlyFiniteNumbers(const Json &j, const std::string &where = "") {
    if (j.is_number()) {
        EXPECT_TRUE(std::isfinite(j.get<double>())) << where;
    } else if (j.is_null()) {
        EXPECT_TRUE(where.size() >= 6 && where.compare(where.size() - 6, 6, "/model") == 0) << "null at " << where;
    } else if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) ExpectOnlyFiniteNumbers(it.value(), where + "/" + it.key());
    } else if (j.is_array()) {
        for (std::size_t i = 0; i < j.size(); ++i) ExpectOnlyFiniteNumbers(j[i], where + "/" + std::to_string(i));
    }
}

Json Parsed(const std::string &message, const std::string &type) {
    const Json j = Json::parse(message);
    EXPECT_EQ(j["type"], type);
    ExpectOnlyFiniteNumbers(j);
    return j;
}

Vec3 PosOf(const Json &state, std::size_t vessel) {
    const Json &p = state["vessels"][vessel]["pos"];
    return Vec3(p[0].get<double>(), p[1].get<double>(), p[2].get<double>());
}

// The record's position of vessel 0 at sample k.
Vec3 RecordPos(const Json &record, std::size_t k) {
    const Json &ch = record["vessels"][0]["channels"]["pos"];
    return Vec3(Decode(ch[0])[k], Decode(ch[1])[k], Decode(ch[2])[k]);
}

// Flies `seconds` with a recorder and a live view side by side, keeping each
// frame's state; returns the record.
Json FlyBoth(sim::World &w, LiveView &live, double seconds, std::vector<Json> &states) {
    sim::ViewRecorder recorder(w);
    states.push_back(Parsed(live.State(w, {}), "state"));
    const long frames = std::lround(seconds / w.Dt());
    for (long i = 0; i < frames; ++i) {
        w.Step();
        recorder.Frame(w);
        states.push_back(Parsed(live.State(w, {}), "state"));
    }
    return Json::parse(recorder.Finish(w));
}

// ----- positions

TEST(LiveView, ALandedVesselStandsStillWhereTheRecordPutsIt) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")));
    LiveView live(*w);
    const Json hello = Parsed(live.Hello(*w), "hello");
    std::vector<Json> states;
    const Json record = FlyBoth(*w, live, 1.0, states);
    // Both frames lie below the lander, which has not moved.
    EXPECT_NEAR(hello["origin"]["longitude_deg"].get<double>(), record["origin"]["longitude_deg"].get<double>(), 1e-9);
    EXPECT_NEAR(hello["origin"]["latitude_deg"].get<double>(), record["origin"]["latitude_deg"].get<double>(), 1e-9);
    const Vec3 first = PosOf(states.front(), 0);
    EXPECT_LT(std::hypot(first.x(), first.z()), 1e-3);
    EXPECT_GT(first.y(), 0.5);  // standing on its legs
    EXPECT_LT(first.y(), 5.0);
    for (const Json &s : states) EXPECT_LT((PosOf(s, 0) - first).norm(), 1e-9) << "at " << s["time"];
    // The same place and attitude as the record's last sample.
    const std::size_t last = Decode(record["time"]).size() - 1;
    EXPECT_LT((PosOf(states.back(), 0) - RecordPos(record, last)).norm(), kPositionStep);
    const Json &quat = record["vessels"][0]["channels"]["quat"];
    double dot = 0.0;
    for (int c = 0; c < 4; ++c) dot += Decode(quat[c])[last] * states.back()["vessels"][0]["quat"][c].get<double>();
    EXPECT_GT(std::abs(dot), 1.0 - 4 * kQuaternionStep);
}

TEST(LiveView, TheFrameIsBelowTheStartAndMovesWithTheRecordsFrame) {
    Start s;
    s.alt = 40.0;
    s.vup = -3.0;
    s.vfwd = 4.0;  // drifts east: the record's frame (at touchdown) is metres from the live one
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 0\n")));
    LiveView live(*w);
    std::vector<Json> states;
    const Json record = FlyBoth(*w, live, 30.0, states);
    // Above the origin at the start, at the altitude the instruments give.
    const Vec3 start = PosOf(states.front(), 0);
    EXPECT_LT(std::hypot(start.x(), start.z()), 1e-3);
    EXPECT_NEAR(start.y(), states.front()["vessels"][0]["altitude"].get<double>(), 0.01);
    // The record samples each frame here or every other; the live state was
    // taken after every frame: the same moves between any two samples.
    const std::vector<double> times = Decode(record["time"]);
    auto stateAt = [&](double t) {
        return *std::min_element(states.begin(), states.end(), [&](const Json &a, const Json &b) {
            return std::abs(a["time"].get<double>() - t) < std::abs(b["time"].get<double>() - t);
        });
    };
    const Vec3 recordStart = RecordPos(record, 0);
    EXPECT_GT(std::hypot(recordStart.x(), recordStart.z()), 1.0);  // the record's frame is elsewhere
    for (std::size_t k = 1; k < times.size(); k += 37) {
        const Json state = stateAt(times[k]);
        ASSERT_NEAR(state["time"].get<double>(), times[k], 1e-6);
        const Vec3 moved = PosOf(state, 0) - start, recorded = RecordPos(record, k) - recordStart;
        // The frames' axes differ by the angle between their origins seen from the centre.
        EXPECT_LT((moved - recorded).norm(), 5e-3) << "at " << times[k];
        // The instruments are the record's.
        EXPECT_NEAR(state["vessels"][0]["altitude"].get<double>(),
                    Decode(record["vessels"][0]["channels"]["altitude"])[k], 2e-5);
    }
    EXPECT_LT(PosOf(states.back(), 0).y(), start.y() - 30.0);
}

// ----- poses

TEST(LiveView, ThePanelsAndTheDeckUnfoldInThePosesAsTheEvaluatorPlacesThem) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")), "0.5:K,0.5:G");
    LiveView live(*w);
    const Json hello = Parsed(live.Hello(*w), "hello");
    const Json before = Parsed(live.State(*w, {}), "state");
    RunFor(*w, 15.0);
    const Json after = Parsed(live.State(*w, {}), "state");
    const double step = hello["poseStep"].get<double>();
    // group -> its pose's 7 numbers (or 12 if it stretches)
    auto posesOf = [](const Json &state) {
        std::map<UINT, std::vector<long long>> out;
        for (const Json &set : state["vessels"][0]["poses"]) {
            std::vector<long long> numbers;
            for (const char *key : {"q", "p", "m"})
                if (set.contains(key))
                    for (const Json &x : set[key]) numbers.push_back(x.get<long long>());
            for (const Json &g : set["g"]) out[g.get<UINT>()] = numbers;
        }
        return out;
    };
    const auto was = posesOf(before), is = posesOf(after);
    const std::vector<sim::GroupPose> evaluated = sim::EvaluateGroupPoses(*w->Focus());
    ASSERT_EQ(is.size(), evaluated.size());
    std::size_t moved = 0;
    for (const sim::GroupPose &p : evaluated) {
        ASSERT_TRUE(was.count(p.group) && is.count(p.group)) << "group " << p.group;
        if (was.at(p.group) != is.at(p.group)) ++moved;
        // The shift as the evaluator gives it, turned into the page's frame.
        const std::vector<long long> &n = is.at(p.group);
        if (n.size() != 7) continue;
        const Vec3 shift = p.transform.translation();
        EXPECT_NEAR(n[4] * step, shift.x(), step) << "group " << p.group;
        EXPECT_NEAR(n[5] * step, shift.y(), step) << "group " << p.group;
        EXPECT_NEAR(n[6] * step, -shift.z(), step) << "group " << p.group;
    }
    EXPECT_GT(moved, 40u);  // the panel segments and the deck's parts
    // The animation states went from stowed to out.
    const Json &a0 = before["vessels"][0]["anim"], &a1 = after["vessels"][0]["anim"];
    EXPECT_EQ(a0[0].get<double>(), 0.0);
    EXPECT_EQ(a1[0].get<double>(), 1.0);
}

// ----- head-up display and annotations

TEST(LiveView, TheHudIsReturnedOnlyWhenItsRunsOrTheFocusChange) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")), "1:M");
    LiveView live(*w);
    ASSERT_NE(live.HudIfChanged(*w), "");  // the first is returned whatever it shows
    RunFor(*w, 0.4);                        // settled: the host's readout holds still
    live.HudIfChanged(*w);
    const Json first = Parsed(live.Hello(*w), "hello")["hud"];
    EXPECT_EQ(first["width"], 1280);
    auto overrideColour = [](const Json &hud) {
        for (const Json &r : hud["runs"])
            if (r["text"].get<std::string>().rfind("M = ", 0) == 0) return r["colour"].get<std::string>();
        return std::string("none");
    };
    EXPECT_EQ(overrideColour(first), "#00ff00");
    EXPECT_EQ(live.HudIfChanged(*w), "");
    RunFor(*w, 0.4);
    EXPECT_EQ(live.HudIfChanged(*w), "");
    // A late page starts from the legend last returned.
    EXPECT_EQ(Parsed(live.Hello(*w), "hello")["hud"]["runs"], first["runs"]);
    RunFor(*w, 0.5);  // M at 1 s: the override row turns red
    const std::string changed = live.HudIfChanged(*w);
    ASSERT_NE(changed, "");
    EXPECT_EQ(overrideColour(Parsed(changed, "hud")), "#ff0000");
    EXPECT_EQ(live.HudIfChanged(*w), "");
}

TEST(LiveView, TheFocusMovingToAnotherVesselReturnsItsHudEvenIfItLooksAlike) {
    const std::string blocks = LanderBlock(LandedLines(), "  MANUAL 0\n") +
                               LanderBlock(LandedLines(180.0, -23.3999), "  MANUAL 0\n", "Second");
    auto w = MakeWorld(ScenarioWith(blocks));
    LiveView live(*w);
    ASSERT_NE(live.HudIfChanged(*w), "");
    w->SetFocus(*w->Vessels()[1]);
    const std::string hud = live.HudIfChanged(*w);
    ASSERT_NE(hud, "");
    EXPECT_EQ(Parsed(hud, "hud")["focus"], 1);
    EXPECT_EQ(live.HudIfChanged(*w), "");
    // Two landers a few metres apart, both with the panels and deck out: a
    // state of a few KB.
    for (auto &v : w->Vessels())
        for (auto &a : v->actuators.animations) a.state = 1.0;
    const std::string state = live.State(*w, {});
    const Json parsed = Parsed(state, "state");
    EXPECT_EQ(parsed["focus"], 1);
    const Vec3 second = PosOf(parsed, 1);
    EXPECT_NEAR(second.x(), 0.0001 * sim::kRadPerDeg * w->Body().radius, 0.1);  // east of the first
    EXPECT_LT(state.size(), 16000u) << state.size() << " bytes";
    RecordProperty("two_lander_state_bytes", static_cast<int>(state.size()));
}

TEST(LiveView, AnnotationsAreReturnedWhenTheyAppearAndGo) {
    Start s;
    s.alt = 12.0;
    s.vup = -15.0;  // a crash: the host puts up a notice
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 1\n")));
    LiveView live(*w);
    EXPECT_EQ(live.AnnotationsIfChanged(*w), "");  // none yet: nothing to tell
    RunFor(*w, 3.0);
    const std::string crash = live.AnnotationsIfChanged(*w);
    ASSERT_NE(crash, "");
    const Json notes = Parsed(crash, "annotations")["annotations"];
    ASSERT_GE(notes.size(), 1u);
    bool found = false;
    for (const Json &n : notes) {
        found |= n["text"].get<std::string>().find("Crash") != std::string::npos;
        EXPECT_EQ(n["box"].size(), 4u);
        EXPECT_EQ(n["colour"].get<std::string>().size(), 7u);
    }
    EXPECT_TRUE(found) << crash;
    EXPECT_EQ(live.AnnotationsIfChanged(*w), "");
    EXPECT_EQ(Parsed(live.Hello(*w), "hello")["annotations"], notes);
    // Gone: returned once more, without it.
    for (const auto &a : w->AllAnnotations()) {
        if (!a->deleted) w->Notes().Delete(*a, w->SimTime());
    }
    EXPECT_EQ(Parsed(live.AnnotationsIfChanged(*w), "annotations")["annotations"].size(), 0u);
}

// ----- numbers

TEST(LiveView, ValuesTheHostHasNoNumberForAreSentAsZeroAndTheStatusAsGiven) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")));
    LiveView live(*w);
    Vessel &v = *w->Focus();
    v.actuators.thrusters[0]->effective = std::numeric_limits<double>::quiet_NaN();
    v.actuators.thrusters[1]->effective = std::numeric_limits<double>::infinity();
    v.actuators.animations[0].state = -std::numeric_limits<double>::infinity();
    v.actuators.thrusters[2]->effective = 1e305;  // too large to round: sent as it is
    LiveStatus status;
    status.warp = 10.0;
    status.reachedWarp = std::numeric_limits<double>::quiet_NaN();
    status.paused = true;
    const Json state = Parsed(live.State(*w, status), "state");
    EXPECT_EQ(state["vessels"][0]["thrust"][0].get<double>(), 0.0);
    EXPECT_EQ(state["vessels"][0]["thrust"][1].get<double>(), 0.0);
    EXPECT_EQ(state["vessels"][0]["anim"][0].get<double>(), 0.0);
    EXPECT_EQ(state["vessels"][0]["thrust"][2].get<double>(), 1e305);
    EXPECT_EQ(state["warp"].get<double>(), 10.0);
    EXPECT_EQ(state["reachedWarp"].get<double>(), 0.0);
    EXPECT_EQ(state["paused"], true);
    ExpectOnlyFiniteNumbers(Parsed(live.Hello(*w), "hello"));
}

TEST(LiveView, HelloDescribesEachVesselAsTheRecordDoes) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")));
    LiveView live(*w);
    const Json hello = Parsed(live.Hello(*w), "hello");
    sim::ViewRecorder recorder(*w);
    const Json record = Json::parse(recorder.Finish(*w));
    const Json &fromRecord = record["vessels"][0];
    Json described = hello["vessels"][0];
    for (const char *key : {"name", "className", "size", "touchdownPoints", "model", "thrusters", "engines", "yawLeft",
                            "yawRight", "exhausts", "streams"})
        EXPECT_EQ(described[key], fromRecord[key]) << key;
    EXPECT_EQ(hello["navmodeNames"], record["navmodeNames"]);
    EXPECT_EQ(hello["poseStep"], record["poseStep"]);
    EXPECT_EQ(hello["hud"]["height"], record["hud"]["height"]);
    EXPECT_EQ(described["engines"].size(), 3u);
}

}  // namespace
}  // namespace vtal::simtest
