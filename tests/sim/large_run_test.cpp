// Runs of many vessels: the text report gives every vessel's account up to
// a few dozen, beyond that the focus vessel's and a summary of the others,
// while the JSON report keeps each; the replay page is planned within a
// size bound (the focus and its nearest neighbours, samples spaced for very
// long runs), and says so.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "SimTestSupport.h"
#include "sim/run/Flight.h"

namespace vtal::simtest {
namespace {

// `count` landers 30 m apart along a line of latitude; those in `crashing`
// start 20 m up, falling at 40 m/s with their engines off (manual), the
// others 1500 m up under the automatic descent.
std::string ManyLanders(int count, const std::string &focus, const std::vector<int> &crashing = {}) {
    std::string blocks;
    for (int k = 1; k <= count; ++k) {
        Start s;
        s.lng = -23.4 + k * 30.0 / 1738000.0 / sim::kRadPerDeg;
        const bool crash = std::find(crashing.begin(), crashing.end(), k) != crashing.end();
        s.alt = crash ? 20.0 : 1500.0;
        s.vup = crash ? -40.0 : -20.0;
        blocks += LanderBlock(FlyingLines(s), crash ? "  MANUAL 1\n" : "  MANUAL 0\n", "Lander" + std::to_string(k));
    }
    return ScenarioWith(blocks, focus);
}

struct Reported {
    sim::RunResult result;
    std::string text;
    std::vector<std::string> lines;
};

Reported Fly(const std::string &scenario, double until) {
    std::ostringstream out, err;
    sim::RunOptions o;
    o.root = Root();
    o.scenario = "many.scn";
    o.scenarioText = scenario;
    o.until = until;
    o.out = &out;
    o.err = &err;
    o.progress = false;
    Reported r;
    r.result = sim::Fly(o);
    r.text = out.str();
    std::istringstream split(r.text);
    for (std::string line; std::getline(split, line);) r.lines.push_back(line);
    return r;
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST(ManyVesselsReport, UpToThirtyVesselsEachHasItsAccount) {
    const Reported r = Fly(ManyLanders(30, "Lander1"), 1.0);
    for (int k = 1; k <= 30; ++k) EXPECT_TRUE(Has(r.text, "  Lander" + std::to_string(k) + " (vtal): ")) << k;
    EXPECT_FALSE(Has(r.text, "other vessels"));
}

TEST(ManyVesselsReport, BeyondThirtyTheFocusKeepsItsAccountAndTheOthersAreCounted) {
    // The focus is not the first vessel; five others crash.
    const std::vector<int> crashing = {3, 9, 20, 21, 40};
    const Reported r = Fly(ManyLanders(41, "Lander7", crashing), 3.0);
    EXPECT_EQ(r.result.vessels.size(), 41u);
    EXPECT_EQ(r.result.vessels[r.result.focus].name, "Lander7");

    // The focus vessel's whole account: state, touchdown line and module values.
    EXPECT_TRUE(Has(r.text, "  Lander7 (vtal): altitude ")) << r.text;
    EXPECT_TRUE(Has(r.text, "    no touchdown"));
    EXPECT_TRUE(Has(r.text, "    module state: MANUAL 0;"));
    for (int k : {1, 2, 8, 41}) EXPECT_FALSE(Has(r.text, "  Lander" + std::to_string(k) + " (vtal)")) << k;

    EXPECT_TRUE(Has(r.text, "  40 other vessels (each in the JSON report, --report):")) << r.text;
    EXPECT_TRUE(Has(r.text, "    in flight 35, landed 0, on the ground 0, in the ground 5; touched down 5, of them 0 "
                            "within the soft-landing limits"))
        << r.text;
    EXPECT_TRUE(Has(r.text, "    in the ground: Lander3, Lander9, Lander20, Lander21, Lander40\n")) << r.text;
    EXPECT_LE(r.lines.size(), 12u) << r.text;

    // The JSON report still has every vessel, the crashed ones stopped in the ground.
    const nlohmann::json report = nlohmann::json::parse(r.result.reportJson);
    ASSERT_EQ(report["vessels"].size(), 41u);
    for (int k : crashing) EXPECT_FALSE(report["vessels"][k - 1]["stopped_in_ground_at"].is_null()) << k;
}

TEST(ManyVesselsReport, TheSummaryNamesTenVesselsInTheGroundAtMost) {
    std::vector<int> crashing;
    for (int k = 2; k <= 33; ++k) crashing.push_back(k);
    const Reported r = Fly(ManyLanders(33, "Lander1", crashing), 2.0);
    EXPECT_TRUE(Has(r.text, "in the ground 32;")) << r.text;
    EXPECT_TRUE(Has(r.text, "    in the ground: Lander2, Lander3, Lander4, Lander5, Lander6, Lander7, Lander8, Lander9, "
                            "Lander10, Lander11, ...\n"))
        << r.text;
}

}  // namespace
}  // namespace vtal::simtest
