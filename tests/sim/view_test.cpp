// The replay page's side of the flight host: the stand-in model built from
// the lander's definition (a part for every animated group, each hinged where
// its animation turns it), the mesh file made of it, the record of a run (the
// poses of the parts as the animation evaluator gives them, the samples, the
// head-up display) and the page the record is put into.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "SimTestSupport.h"
#include "sim/base/InputError.h"
#include "sim/vessel/AnimationEvaluator.h"
#include "sim/view/StandInModel.h"
#include "sim/view/ViewPage.h"
#include "sim/view/ViewRecorder.h"

namespace vtal::simtest {
namespace {

using Json = nlohmann::json;
using sim::StandInModel;
using sim::Transform;
using sim::Vessel;

constexpr double kVisibleMotion = 0.03;  // m: a deployed part moves at least this far somewhere
constexpr double kAttached = 0.1;        // m: a hinged part reaches this close to its hinge line

enum LanderAnimation { kSolar = 0, kLegs, kFeet, kDeck, kCamera, kArmRot, kArmSlide, kArmElbow };

Vessel &LandedLander(std::unique_ptr<sim::World> &w, const std::string &keys = "") {
    w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")), keys);
    return *w->Focus();
}

double Distance(const sim::ModelPart &a, const Transform &ta, const Transform &tb) {
    double most = 0.0;
    for (const Vec3 &x : a.vertices) most = std::max(most, (ta * x - tb * x).norm());
    return most;
}

// ----- the model

TEST(StandInModel, EveryAnimatedGroupHasAPartOfItsOwnAndTheBodyUsesOtherGroups) {
    std::unique_ptr<sim::World> w;
    const Vessel &v = LandedLander(w);
    const StandInModel model = sim::BuildStandInModel(v);
    const auto animated = sim::AnimatedGroups(v);
    ASSERT_GT(animated.size(), 60u);  // panels, legs, feet, deck, camera and arm
    for (const auto &[mesh, group] : animated) {
        const sim::ModelPart *p = model.Find(mesh, group);
        ASSERT_NE(p, nullptr) << "group " << group;
        EXPECT_TRUE(p->animated);
        EXPECT_GE(p->triangles.size(), 2u) << "group " << group;
        EXPECT_EQ(p->vertices.size(), p->normals.size());
        for (const auto &t : p->triangles)
            for (unsigned i : t) EXPECT_LT(i, p->vertices.size());
    }
    int body = 0;
    for (const sim::ModelPart &p : model.parts) {
        if (p.animated) continue;
        ++body;
        EXPECT_EQ(std::count(animated.begin(), animated.end(), std::make_pair(p.mesh, p.group)), 0)
            << "body part " << p.label << " in animated group " << p.group;
    }
    EXPECT_EQ(body, 3);  // hull, engine bells, thrusters
    // Sized like the lander: its touchdown points 1 m out lie within the model's reach.
    EXPECT_GT(model.Radius(), 1.0);
    EXPECT_LT(model.Radius(), 3.0);
}

TEST(StandInModel, EachAnimationVisiblyMovesEveryGroupItListsAndRotatingPartsHangOnTheirHinge) {
    std::unique_ptr<sim::World> w;
    Vessel &v = LandedLander(w);
    const StandInModel model = sim::BuildStandInModel(v);
    for (auto &a : v.actuators.animations) a.state = a.initialState;
    for (const auto &c : v.actuators.components) {
        if (!c->transform || c->transform->ngrp == 0) continue;
        sim::Animation &anim = v.actuators.animations[c->animation];
        const double rest = anim.state;
        for (UINT i = 0; i < c->transform->ngrp; ++i) {
            const UINT g = c->transform->grp[i];
            const sim::ModelPart &part = *model.Find(0, g);
            // From where the mesh is modelled to points along the component's
            // range (a full turn comes back where it started).
            anim.state = rest;
            const Transform before = sim::GroupTransform(v, 0, g);
            double moved = 0.0;
            for (double f : {0.25, 0.5, 0.75, 1.0}) {
                anim.state = c->state0 + f * (c->state1 - c->state0);
                moved = std::max(moved, Distance(part, before, sim::GroupTransform(v, 0, g)));
            }
            EXPECT_GT(moved, kVisibleMotion)
                << "animation " << c->animation << " hardly moves group " << g << " (" << part.label << ")";
            anim.state = rest;
        }
        // The rotation's own part reaches its hinge line.
        if (c->transform->Type() != MGROUP_TRANSFORM::ROTATE) continue;
        const auto &r = static_cast<const MGROUP_ROTATE &>(*c->transform);
        const Vec3 ref = sim::ToVec(r.ref), axis = sim::ToVec(r.axis).normalized();
        const UINT g = c->transform->grp[0];
        bool placedHere = true;  // the part is placed by the first rotation that lists it
        for (const auto &o : v.actuators.components) {
            if (o.get() == c.get()) break;
            if (!o->transform || o->transform->Type() != MGROUP_TRANSFORM::ROTATE) continue;
            for (UINT k = 0; k < o->transform->ngrp; ++k) placedHere &= o->transform->grp[k] != g;
        }
        if (!placedHere) continue;
        double nearest = 1e9;
        for (const Vec3 &x : model.Find(0, g)->vertices) {
            const Vec3 d = x - ref;
            nearest = std::min(nearest, (d - d.dot(axis) * axis).norm());
        }
        EXPECT_LT(nearest, kAttached) << "group " << g << " is " << nearest << " m from its hinge line";
    }
}

TEST(StandInModel, TheMeshFileHoldsEveryGroupNumberWithThePartsGeometry) {
    std::unique_ptr<sim::World> w;
    const Vessel &v = LandedLander(w);
    const StandInModel model = sim::BuildStandInModel(v);
    std::istringstream in(sim::ToMeshFile(model));
    std::string word;
    in >> word;
    ASSERT_EQ(word, "MSHX1");
    unsigned groups = 0;
    in >> word >> groups;
    ASSERT_EQ(word, "GROUPS");
    unsigned highest = 0;
    for (const auto &g : sim::AnimatedGroups(v)) highest = std::max(highest, g.second);
    ASSERT_EQ(groups, highest + 1);
    unsigned materials = 0;
    for (unsigned g = 0; g < groups; ++g) {
        std::string label;
        unsigned material = 0, texture = 0, nv = 0, nt = 0;
        in >> word >> label;
        ASSERT_EQ(word, "LABEL") << "group " << g;
        in >> word >> material;
        ASSERT_EQ(word, "MATERIAL");
        in >> word >> texture;
        ASSERT_EQ(word, "TEXTURE");
        in >> word >> nv >> nt;
        ASSERT_EQ(word, "GEOM");
        materials = std::max(materials, material);
        const sim::ModelPart *p = model.Find(0, g);
        if (p) {
            EXPECT_EQ(nv, p->vertices.size());
            EXPECT_EQ(nt, p->triangles.size());
        } else {
            EXPECT_EQ(nt, 1u);
        }
        for (unsigned k = 0; k < nv; ++k) {
            double x[6];
            for (double &c : x) in >> c;
            ASSERT_TRUE(in) << "group " << g << " vertex " << k;
            if (p) {
                EXPECT_NEAR((Vec3(x[0], x[1], x[2]) - p->vertices[k]).norm(), 0.0, 1e-4);
            }
        }
        for (unsigned k = 0; k < nt; ++k) {
            unsigned a = 0, b = 0, c = 0;
            in >> a >> b >> c;
            ASSERT_TRUE(in);
            EXPECT_LT(std::max({a, b, c}), nv);
        }
    }
    unsigned listed = 0;
    in >> word >> listed;
    EXPECT_EQ(word, "MATERIALS");
    EXPECT_EQ(listed, materials);
}

// ----- the record

Json Record(sim::World &w, double seconds) {
    sim::ViewRecorder recorder(w);
    const long frames = std::lround(seconds / w.Dt());
    for (long i = 0; i < frames; ++i) {
        w.Step();
        recorder.Frame(w);
    }
    return Json::parse(recorder.Finish(w));
}

std::vector<double> Decode(const Json &channel) {
    std::vector<double> out;
    long long q = 0;
    for (const Json &d : channel["d"]) {
        q += d.get<long long>();
        out.push_back(static_cast<double>(q) * channel["step"].get<double>());
    }
    return out;
}

// A recorded pose in the vessel's frame (the record's frame turns z about).
Transform RecordedPose(const Json &set, double step) {
    Eigen::Matrix3d r;
    Vec3 x;
    if (set.contains("m")) {
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) r(row, col) = set["m"][4 * row + col].get<double>() * step;
            x[row] = set["m"][4 * row + 3].get<double>() * step;
        }
    } else {
        sim::Quat q(set["q"][3].get<double>() * step, set["q"][0].get<double>() * step,
                    set["q"][1].get<double>() * step, set["q"][2].get<double>() * step);
        r = q.normalized().toRotationMatrix();
        for (int i = 0; i < 3; ++i) x[i] = set["p"][i].get<double>() * step;
    }
    const Eigen::DiagonalMatrix<double, 3> flip(1.0, 1.0, -1.0);
    Transform t = Transform::Identity();
    t.linear() = flip * r * flip;
    t.translation() = flip * x;
    return t;
}

TEST(ViewRecord, ThePosesInForceAtTheEndAreTheEvaluatorsAndMoveEachPartAsItSays) {
    std::unique_ptr<sim::World> w;
    Vessel &v = LandedLander(w, "0.5:K,0.5:G,5:C,6-8:V,6-7:N");
    const Json rec = Record(*w, 12.0);
    const double step = rec["poseStep"].get<double>();
    const Json &poses = rec["vessels"][0]["poses"];
    std::map<UINT, Json> last;
    for (const Json &frame : poses)
        for (const Json &set : frame["sets"])
            for (const Json &g : set["g"]) last[g.get<UINT>()] = set;
    const StandInModel model = sim::BuildStandInModel(v);
    for (const sim::GroupPose &p : sim::EvaluateGroupPoses(v)) {
        ASSERT_TRUE(last.count(p.group)) << "group " << p.group << " has no recorded pose";
        const Transform recorded = RecordedPose(last[p.group], step);
        // Every vertex of the part lands where the evaluator's transform puts it.
        for (const Vec3 &x : model.Find(p.mesh, p.group)->vertices)
            EXPECT_LT((recorded * x - p.transform * x).norm(), 1e-4) << "group " << p.group;
    }
    // The deck turned the camera head on its mast, and it went on turning.
    EXPECT_GT(poses.size(), 100u);
}

TEST(ViewRecord, SamplesAt30HzTheTouchdownFrameAndTheEndWithTheInstrumentsOfThoseFrames) {
    Start s;
    s.alt = 30.0;
    s.vup = -2.0;
    std::unique_ptr<sim::World> w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 0\n")));
    sim::World &world = *w;
    Vessel &v = *world.Focus();
    sim::ViewRecorder recorder(world);
    std::vector<std::pair<double, double>> altitudes;  // each frame's time and altitude
    altitudes.emplace_back(0.0, sim::Altitude(v, world.Body()));
    for (int i = 0; i < 60 * 30; ++i) {
        world.Step();
        recorder.Frame(world);
        altitudes.emplace_back(world.SimTime(), sim::Altitude(v, world.Body()));
    }
    const Json rec = Json::parse(recorder.Finish(world));
    const std::vector<double> t = Decode(rec["time"]);
    ASSERT_TRUE(world.TouchdownOf(v).happened);
    const double touchdown = world.TouchdownOf(v).time;
    EXPECT_EQ(rec["vessels"][0]["touchdown"].get<double>(), touchdown);
    EXPECT_NEAR(t.front(), 0.0, 1e-9);
    EXPECT_NEAR(t.back(), world.SimTime(), 1e-6);
    EXPECT_TRUE(std::any_of(t.begin(), t.end(), [&](double x) { return std::abs(x - touchdown) < 1e-6; }));
    // 30 a second plus the touchdown frame.
    EXPECT_NEAR(static_cast<double>(t.size()), 30.0 * 30.0 + 1.0, 2.0);
    for (std::size_t k = 1; k < t.size(); ++k) EXPECT_LE(t[k] - t[k - 1], sim::kViewSampleInterval + 1e-6);
    const std::vector<double> alt = Decode(rec["vessels"][0]["channels"]["altitude"]);
    ASSERT_EQ(alt.size(), t.size());
    for (std::size_t k = 0; k < t.size(); ++k) {
        const auto at = std::min_element(altitudes.begin(), altitudes.end(), [&](const auto &a, const auto &b) {
            return std::abs(a.first - t[k]) < std::abs(b.first - t[k]);
        });
        EXPECT_NEAR(alt[k], at->second, 1e-5) << "sample at " << t[k];
    }
    // The last head-up display frame is what the module paints at the end.
    world.PaintHud();
    const Json &hud = rec["hud"];
    const Json &shown = hud["frames"].back()["runs"];
    ASSERT_EQ(shown.size(), world.Canvas().runs.size());
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(hud["runs"][shown[i].get<std::size_t>()]["text"], world.Canvas().runs[i].text);
}

TEST(ViewRecord, PositionsAreSmallNumbersAroundTheLandingPoint) {
    std::unique_ptr<sim::World> w;
    LandedLander(w);
    const Json rec = Record(*w, 1.0);
    const Json &ch = rec["vessels"][0]["channels"];
    for (int i = 0; i < 3; ++i)
        for (double x : Decode(ch["pos"][i])) EXPECT_LT(std::abs(x), 2.0);  // standing on the landing point
    // Standing level: the vessel's up is the frame's up.
    const double qx = Decode(ch["quat"][0]).back(), qz = Decode(ch["quat"][2]).back();
    EXPECT_LT(std::hypot(qx, qz), 0.01);
}

// ----- the page

TEST(ViewPage, TheRecordGoesIntoTheSlotWithNothingThatCouldEndItsScript) {
    const std::string dir = TempPath("viewer");
    std::filesystem::create_directories(dir);
    const std::string page = dir + "/page.html";
    {
        std::ofstream(page) << "<html><script id=\"d\" type=\"application/json\">__VTAL_FLIGHT_RECORD__</script></html>";
    }
    const std::string json = R"({"text":"</script><!-- x"})";
    const std::string out = sim::ComposeViewPage(page, json);
    EXPECT_EQ(out.find("</script><!--"), std::string::npos);
    EXPECT_NE(out.find(R"({"text":"\u003c/script>\u003c!-- x"})"), std::string::npos);
    EXPECT_EQ(Json::parse(sim::EscapeForScript(json))["text"], "</script><!-- x");

    EXPECT_THROW(sim::ComposeViewPage(dir + "/missing.html", json), sim::InputError);
    {
        std::ofstream(page) << "__VTAL_FLIGHT_RECORD__ __VTAL_FLIGHT_RECORD__";
    }
    EXPECT_THROW(sim::ComposeViewPage(page, json), sim::InputError);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vtal::simtest
