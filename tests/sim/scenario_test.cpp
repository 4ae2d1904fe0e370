// Scenario files in the host's format: what is read, what is carried, what is
// refused, and that writing and reading back keeps the state.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/base/InputError.h"
#include "sim/vessel/VesselStatus.h"

namespace vtal::simtest {
namespace {

std::string DataFile(const std::string &name) { return std::string(VTAL_SIM_TEST_DATA) + "/" + name; }

struct BadFile {
    const char *file;
    int line;             // 0: no particular line
    const char *problem;  // part of the message
};

class MalformedScenario : public ::testing::TestWithParam<BadFile> {};

TEST_P(MalformedScenario, IsRefusedNamingFileLineAndProblem) {
    const BadFile c = GetParam();
    const std::string path = DataFile(c.file);
    try {
        sim::ReadScenarioFile(path);
        FAIL() << "accepted " << c.file;
    } catch (const sim::InputError &e) {
        const std::string what = e.what();
        const std::string where = c.line > 0 ? path + ":" + std::to_string(c.line) + ":" : path + ":";
        EXPECT_EQ(what.rfind(where, 0), 0u) << what;
        EXPECT_NE(what.find(c.problem), std::string::npos) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedScenario,
    ::testing::Values(BadFile{"no_end.scn", 2, "has no END"}, BadFile{"bad_number.scn", 4, "'12x' is not a number"},
                      BadFile{"unknown_status.scn", 3, "unknown STATUS 'Hovering'"},
                      BadFile{"no_ships_end.scn", 1, "has no END_SHIPS"},
                      BadFile{"nan_value.scn", 4, "'nan' is not a number"},
                      BadFile{"bad_prplevel.scn", 5, "'full' is not a number"},
                      BadFile{"unclosed_section.scn", 1, "has no END_CAMERA"},
                      BadFile{"earth_only.scn", 0, "no vessel about a body this host models"},
                      BadFile{"no_status.scn", 2, "has no STATUS line"},
                      BadFile{"duplicate_name.scn", 6, "a second vessel named 'Lander'"},
                      BadFile{"bad_date.scn", 3, "'tomorrow' is not a number"},
                      BadFile{"does_not_exist.scn", 0, "cannot be read"}));

TEST(RealHostFile, IsAcceptedWithWhatTheHostModelsAndOneWarningPerKind) {
    const sim::Scenario scn = sim::ReadScenarioFile(DataFile("real_host.scn"));
    EXPECT_DOUBLE_EQ(scn.mjd, 52000.25);
    EXPECT_STREQ(scn.body->name, "Moon");
    ASSERT_EQ(scn.vessels.size(), 2u);  // the ISS about the Earth is left out
    EXPECT_EQ(scn.vessels[0].name, "Lander");
    EXPECT_EQ(scn.vessels[0].className, "Lander");  // written without a class
    EXPECT_TRUE(scn.vessels[0].status.hasFuel);
    EXPECT_EQ(scn.carriedVessels.size(), 1u);
    EXPECT_EQ(scn.carriedSections.size(), 3u);  // camera, HUD, MFD
    const auto count = [&](const std::string &needle) {
        return std::count_if(scn.warnings.begin(), scn.warnings.end(),
                             [&](const std::string &w) { return w.find(needle) != std::string::npos; });
    };
    EXPECT_EQ(count("NAVFREQ"), 0);  // read, not carried
    EXPECT_EQ(count("XPDR"), 1);
    EXPECT_EQ(count("ISS"), 1);
    EXPECT_EQ(count("Context"), 1);
    EXPECT_EQ(count("without a class"), 1);
}

TEST(RealHostFile, FlyingItPlacesTheBaseVesselAtTheOriginAndCarriesTheRest) {
    // The vessel named Lander has the class "Lander", which has no configuration: passive.
    sim::Scenario scn = sim::ReadScenarioFile(DataFile("real_host.scn"));
    sim::WorldOptions o;
    const auto owned = sim::MakeWorld(scn, sim::Installation(Root()), o);
    sim::World &w = *owned;
    const sim::Vessel &v = *w.FindVessel("Lander");
    // Longitude 0, latitude 0 of the turning Moon at the scenario's date.
    EXPECT_NEAR((w.Body().Orientation(w.Mjd()).transpose() * v.motion.positionGlobal.normalized()).x(), 1.0, 1e-12);
    EXPECT_NEAR(sim::Heading(v, w.Body()) / sim::kRadPerDeg, 45.0, 1e-6);
    EXPECT_DOUBLE_EQ(v.actuators.tanks[0]->mass, 0.0);  // the default class carries no fuel
    const std::string saved = w.SaveScenario();
    EXPECT_NE(saved.find("BEGIN_CAMERA"), std::string::npos);
    EXPECT_NE(saved.find("ISS:ProjectAlpha_ISS"), std::string::npos);
    EXPECT_NE(saved.find("NAVFREQ 402 94"), std::string::npos);
    EXPECT_NE(saved.find("MANUAL 1"), std::string::npos);  // a line the passive vessel carries
    bool warnedBase = false;
    for (const auto &msg : w.Warnings()) warnedBase |= msg.find("BASE Brighton") != std::string::npos;
    EXPECT_TRUE(warnedBase);
}

TEST(StandardLines, ParseTheHostsKeysAndRefuseNonNumbers) {
    sim::StandardStatus st;
    EXPECT_EQ(sim::ParseStandardLine("PRPLEVEL 0:0.5 1:1", st).kind, sim::LineKind::Standard);
    ASSERT_EQ(st.prplevel.size(), 2u);
    EXPECT_EQ(st.prplevel[1], std::make_pair(1, 1.0));
    EXPECT_TRUE(sim::ParseStandardLine("THLEVEL 5:0.25", st).error.empty());
    EXPECT_EQ(st.thlevel[0], std::make_pair(5, 0.25));
    // NAVMODE is no vessel line of the host: it goes the way of a module's own lines.
    EXPECT_EQ(sim::ParseStandardLine("NAVMODE HLEVEL KILLROT", st).kind, sim::LineKind::Other);
    EXPECT_EQ(sim::ParseStandardLine("SOLP 1 1.0", st).kind, sim::LineKind::Other);
    for (const char *bad : {"RPOS 1 2", "VROT 1 inf 0", "HEADING", "STATUS Landed", "THLEVEL -1:0.5"})
        EXPECT_FALSE(sim::ParseStandardLine(bad, st).error.empty()) << bad;
}

// Saving with every digit and reading back loses nothing of the state the
// host models; the host keeps no navigation modes in a scenario.
TEST(SaveAndReload, FlyingStateRoundTripsExactly) {
    Start s;
    s.alt = 3000.0;
    s.vup = -12.0;
    s.vfwd = 3.0;
    s.pitch = 7.0;
    s.bank = -4.0;
    s.ratesDeg = Vec3(0.5, -1.0, 0.25);
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 1\n  SOLP 3 0.4000\n")));
    sim::Vessel &v = *w->Focus();
    v.actuators.thrusters[5]->level = 0.3;
    sim::ActivateNavmode(v, NAVMODE_HLEVEL);
    RunFor(*w, 1.0);
    const std::string saved = w->SaveScenario();
    const sim::Vessel before = [&] {
        sim::Vessel copy;
        copy.motion.positionGlobal = v.motion.positionGlobal, copy.motion.velocityGlobal = v.motion.velocityGlobal, copy.motion.attitude = v.motion.attitude, copy.motion.bodyRates = v.motion.bodyRates;
        return copy;
    }();
    const double propellant = v.actuators.tanks[0]->mass;
    w.reset();
    auto again = MakeWorld(saved);
    const sim::Vessel &r = *again->Focus();
    EXPECT_EQ(r.motion.positionGlobal, before.motion.positionGlobal);
    EXPECT_EQ(r.motion.velocityGlobal, before.motion.velocityGlobal);
    EXPECT_LT((r.motion.bodyRates - before.motion.bodyRates).norm(), 1e-15);
    EXPECT_LT(r.motion.attitude.angularDistance(before.motion.attitude), 1e-13);
    EXPECT_NEAR(r.actuators.tanks[0]->mass, propellant, 1e-12);
    EXPECT_DOUBLE_EQ(r.actuators.thrusters[5]->level, 0.3);
    EXPECT_EQ(saved.find("NAVMODE"), std::string::npos);
    EXPECT_FALSE(r.NavmodeOn(NAVMODE_HLEVEL));
    EXPECT_EQ(ModuleValue(*again, *again->Focus(), "SOLP")[0], 3.0);
}

}  // namespace
}  // namespace vtal::simtest
