// Runs of many vessels: the text report gives every vessel's account up to
// a few dozen, beyond that the focus vessel's and a summary of the others,
// while the JSON report keeps each; the replay page is planned within a
// size bound (the focus and its nearest neighbours, samples spaced for very
// long runs), and says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "SimTestSupport.h"
#include "TextParts.h"
#include "sim/run/Flight.h"
#include "sim/view/ViewPage.h"
#include "sim/view/ViewRecorder.h"

namespace vtal::simtest {
namespace {

using testtext::Has;

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
    std::string report;  // --report's JSON
};

Reported Fly(const std::string &scenario, double until, const std::string &viewPath = "", std::string *warnings = nullptr) {
    std::ostringstream out, err;
    sim::RunOptions o;
    o.viewPath = viewPath;
    o.root = Root();
    o.scenario = "many.scn";
    o.scenarioText = scenario;
    o.until = until;
    o.out = &out;
    o.err = &err;
    o.progress = false;
    o.reportPath = TempPath("many-report.json");
    Reported r;
    r.result = sim::Fly(o);
    r.report = ReadFile(o.reportPath);
    std::remove(o.reportPath.c_str());
    r.text = out.str();
    if (warnings) *warnings = err.str();
    std::istringstream split(r.text);
    for (std::string line; std::getline(split, line);) r.lines.push_back(line);
    return r;
}

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
    // The five that crashed were pushed back out of the ground and fly on.
    EXPECT_TRUE(Has(r.text, "    in flight 40, landed 0, on the ground 0; touched down 5, of them 0 "
                            "within the soft-landing limits"))
        << r.text;
    EXPECT_TRUE(Has(r.text, "  outcome (Lander7): still flying\n")) << r.text;
    EXPECT_TRUE(Has(r.text, "  outcomes of the other 40 landers: ")) << r.text;
    EXPECT_TRUE(Has(r.text, "crash 5")) << r.text;
    EXPECT_TRUE(Has(r.text, "still flying 35")) << r.text;
    EXPECT_LE(r.lines.size(), 13u) << r.text;

    // The JSON report still has every vessel, the crashed ones with their touchdown.
    const nlohmann::json report = nlohmann::json::parse(r.report);
    ASSERT_EQ(report["vessels"].size(), 41u);
    for (int k : crashing) EXPECT_FALSE(report["vessels"][k - 1]["touchdown"].is_null()) << k;
}

TEST(ManyVesselsReport, TheOtherLandersOutcomesAreCountedNotListed) {
    std::vector<int> crashing;
    for (int k = 2; k <= 33; ++k) crashing.push_back(k);
    const Reported r = Fly(ManyLanders(33, "Lander1", crashing), 2.0);
    EXPECT_TRUE(Has(r.text, "  outcomes of the other 32 landers: crash 32\n")) << r.text;
    EXPECT_FALSE(Has(r.text, "outcome (Lander2)")) << r.text;
}

// ---- the replay page's bound

std::vector<std::string> Names(const sim::World &w, const std::vector<std::size_t> &indices) {
    std::vector<std::string> names;
    for (std::size_t i : indices) names.push_back(w.Vessels()[i]->name);
    return names;
}

// The record as the page's data slot holds it.
nlohmann::json RecordIn(const std::string &page) {
    const std::string open = "<script id=\"vtal-record\" type=\"application/json\">";
    const std::size_t from = page.find(open) + open.size();
    return nlohmann::json::parse(page.substr(from, page.find("</script>", from) - from));
}

TEST(ViewPlan, AFewVesselsForMinutesAreEachRecordedThirtyTimesASecond) {
    auto w = MakeWorld(ManyLanders(3, "Lander2"));
    const sim::ViewPlan plan = sim::PlanView(*w, sim::kDefaultTimeLimit);
    EXPECT_EQ(plan.vessels, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(plan.sampleInterval, sim::kViewSampleInterval);
    EXPECT_FALSE(plan.Thinned());
    EXPECT_EQ(plan.estimatedBytes, plan.everythingBytes);
    EXPECT_LT(plan.estimatedBytes, sim::kViewPageBudgetBytes);
}

TEST(ViewPlan, ManyVesselsKeepTheFocusAndItsNearestNeighbours) {
    // 101 in a line, the focus the 30th: the farthest from it is the last.
    auto w = MakeWorld(ManyLanders(101, "Lander30"));
    const sim::ViewPlan plan = sim::PlanView(*w, 1.0);
    ASSERT_EQ(plan.vessels.size(), sim::kViewMaxVessels);
    EXPECT_TRUE(plan.Thinned());
    const std::vector<std::string> kept = Names(*w, plan.vessels);
    EXPECT_EQ(kept.front(), "Lander1") << "in the scenario's order";
    EXPECT_EQ(kept.back(), "Lander100");

    // Within a smaller budget: the focus and the vessels on either side of it.
    const sim::ViewPlan full = sim::PlanView(*w, 1.0, 1e12);
    const double oneVessel = (full.everythingBytes) / 101.0;
    const sim::ViewPlan tight = sim::PlanView(*w, 1.0, 3.5 * oneVessel);
    EXPECT_EQ(Names(*w, tight.vessels), (std::vector<std::string>{"Lander29", "Lander30", "Lander31"}));
    EXPECT_LE(tight.estimatedBytes, 3.5 * oneVessel);
    EXPECT_GT(tight.everythingBytes, 3.5 * oneVessel);
    EXPECT_NE(sim::ViewPlanNotice(tight, *w).find("holds the focus vessel (Lander30) and the 2 vessels nearest to it"),
              std::string::npos)
        << sim::ViewPlanNotice(tight, *w);
}

TEST(ViewPlan, ARunTooLongForTheBoundIsSampledLessOftenAndItsRecordKeepsToIt) {
    auto w = MakeWorld(ManyLanders(1, "Lander1"));
    const double seconds = 10.0;
    const sim::ViewPlan thirty = sim::PlanView(*w, seconds, 1e12);
    // Room for 32 samples, about a tenth of the 302 that 30 a second would take.
    const double perSample = (thirty.everythingBytes - sim::PlanView(*w, 0.0, 1e12).everythingBytes) / 300.0;
    const double budget = (thirty.everythingBytes - 300 * perSample) + 30 * perSample;
    const sim::ViewPlan plan = sim::PlanView(*w, seconds, budget);
    EXPECT_EQ(plan.vessels.size(), 1u);
    EXPECT_NEAR(plan.sampleInterval, seconds / 30.0, 1e-9);
    EXPECT_LE(plan.estimatedBytes, budget);
    EXPECT_NE(sim::ViewPlanNotice(plan, *w).find("samples every 0.333 s instead"), std::string::npos)
        << sim::ViewPlanNotice(plan, *w);

    sim::ViewRecorder recorder(*w, plan);
    for (int k = 0; k < 600; ++k) {
        w->Step();
        recorder.Frame(*w);
    }
    const nlohmann::json record = nlohmann::json::parse(recorder.Finish(*w));
    EXPECT_NEAR(static_cast<double>(recorder.SampleCount()), 32.0, 1.0);
    EXPECT_LE(static_cast<double>(recorder.Finish(*w).size()), budget) << "the estimate bounds the record";
    EXPECT_NEAR(record["thinned"]["sampleInterval"].get<double>(), plan.sampleInterval, 1e-6);
    EXPECT_EQ(record["thinned"]["vessels"], 1);
}

TEST(ViewPlan, TheEstimateIsNearTheRecordItPlans) {
    auto w = MakeWorld(ManyLanders(4, "Lander1"));
    const double seconds = 5.0;
    const sim::ViewPlan plan = sim::PlanView(*w, seconds);
    ASSERT_FALSE(plan.Thinned());
    sim::ViewRecorder recorder(*w, plan);
    for (int k = 0; k < 300; ++k) {
        w->Step();
        recorder.Frame(*w);
    }
    const double actual = static_cast<double>(recorder.Finish(*w).size());
    EXPECT_GE(plan.estimatedBytes, actual);
    EXPECT_LE(plan.estimatedBytes, 1.6 * actual);
}

TEST(ViewPlan, APageOfMoreThanAHundredVesselsHoldsAHundredAndSaysSo) {
    if (!std::filesystem::exists(sim::ViewerTemplatePath(Root()))) GTEST_SKIP() << "a build without the replay page";
    const std::string page = TempPath("many.html");
    std::string warnings;
    const Reported r = Fly(ManyLanders(120, "Lander60"), 0.5, page, &warnings);
    EXPECT_NE(warnings.find("--view: a page of all 120 vessels would be about "), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("holds the focus vessel (Lander60) and the 99 vessels nearest to it"), std::string::npos)
        << warnings;
    const nlohmann::json record = RecordIn(ReadFile(page));
    std::remove(page.c_str());
    ASSERT_EQ(record["vessels"].size(), 100u);
    EXPECT_EQ(record["thinned"]["vessels"], 120);
    EXPECT_EQ(record["vessels"][record["focus"].get<std::size_t>()]["name"], "Lander60");
    // The ten on either end farthest from the focus are left out, the report keeps them.
    EXPECT_EQ(record["vessels"].front()["name"], "Lander11");
    EXPECT_EQ(record["vessels"].back()["name"], "Lander110");
    EXPECT_EQ(nlohmann::json::parse(r.report)["vessels"].size(), 120u);
    bool warned = false;
    for (const std::string &w : r.result.warnings) warned |= w.rfind("--view:", 0) == 0;
    EXPECT_TRUE(warned) << "the JSON report's warnings have it too";
}

}  // namespace
}  // namespace vtal::simtest
