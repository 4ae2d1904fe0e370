// The flight plot: angles drawn without walls at ±180 deg, the yaw
// thrusters' duty cycle, five panels on one time axis with the run's title
// and its touchdown and crash-notice markers, and gnuplot's own messages
// kept off the terminal unless it fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <sys/wait.h>

#include "SimTestSupport.h"
#include "sim/run/Flight.h"
#include "sim/run/Plot.h"

namespace vtal::simtest {
namespace {

constexpr double kFrame = 1.0 / 60.0;  // s

// Every line of the script that sets `what` (e.g. "lmargin"), its value.
std::vector<double> ScreenMargins(const std::string &script, const std::string &what) {
    std::vector<double> values;
    const std::regex line("set " + what + " at screen ([-0-9.e]+)");
    for (auto it = std::sregex_iterator(script.begin(), script.end(), line); it != std::sregex_iterator(); ++it)
        values.push_back(std::stod((*it)[1]));
    return values;
}

// The time of `set arrow TAG from T, graph 0 ...`, or NaN without it.
double MarkerTime(const std::string &script, int tag) {
    std::smatch m;
    const std::regex arrow("set arrow " + std::to_string(tag) + " from ([-0-9.e]+), graph 0");
    return std::regex_search(script, m, arrow) ? std::stod(m[1]) : std::nan("");
}

double LargestStep(const std::vector<double> &x) {
    double largest = 0.0;
    for (std::size_t i = 1; i < x.size(); ++i) largest = std::max(largest, std::fabs(x[i] - x[i - 1]));
    return largest;
}

TEST(PlotAngles, TurnsThroughPlusMinus180AndThrough0To360GoOnWithoutAJump) {
    const std::vector<double> bank = {170, 179, -179, -170, -179, 179, 175};
    const std::vector<double> unwrapped = sim::UnwrappedDegrees(bank);
    const std::vector<double> expected = {170, 179, 181, 190, 181, 179, 175};
    ASSERT_EQ(unwrapped.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(unwrapped[i], expected[i], 1e-12) << i;

    const std::vector<double> heading = {350, 359.5, 0.5, 10, 359, 340};
    const std::vector<double> h = sim::UnwrappedDegrees(heading);
    EXPECT_NEAR(h[2], 360.5, 1e-12);
    EXPECT_NEAR(h[5], 340, 1e-12);
    EXPECT_LE(LargestStep(h), 180.0);
    // Nothing is lost: each value is the original up to whole turns.
    for (std::size_t i = 0; i < heading.size(); ++i)
        EXPECT_NEAR(std::remainder(h[i] - heading[i], 360.0), 0.0, 1e-9) << i;
}

TEST(PlotAngles, ASpinOfManyTurnsKeepsCounting) {
    std::vector<double> wrapped;
    for (int k = 0; k <= 100; ++k) wrapped.push_back(std::remainder(k * 25.0, 360.0));  // 2500 deg in steps of 25
    const std::vector<double> u = sim::UnwrappedDegrees(wrapped);
    EXPECT_NEAR(u.back() - u.front(), 2500.0, 1e-9);
    EXPECT_LE(LargestStep(u), 180.0);
}

TEST(PlotDutyCycle, AThrusterSwitchedEveryFrameShowsItsMeanLevel) {
    std::vector<double> time, level;
    for (int k = 0; k < 600; ++k) {
        time.push_back(k * kFrame);
        level.push_back(k % 4 == 0 ? 1.0 : 0.0);  // on one frame in four
    }
    const std::vector<double> mean = sim::CentredMean(time, level, 1.0);
    for (std::size_t k = 60; k < 540; ++k) EXPECT_NEAR(mean[k], 0.25, 0.02) << k;
    for (double m : mean) EXPECT_TRUE(m >= 0.0 && m <= 1.0);
}

TEST(PlotDutyCycle, RowsFartherApartThanTheWindowKeepTheirOwnLevel) {
    const std::vector<double> time = {0, 5, 10, 15}, level = {0, 1, 0.3, 0};
    const std::vector<double> mean = sim::CentredMean(time, level, 1.0);
    ASSERT_EQ(mean.size(), level.size());
    for (std::size_t k = 0; k < level.size(); ++k) EXPECT_NEAR(mean[k], level[k], 1e-12) << k;
    EXPECT_TRUE(sim::CentredMean({}, {}, 1.0).empty());
}

// A run of the default descent as a Flight, whose world is still there to
// label the plot as the run's own plot is labelled.
struct FlownRun {
    sim::PlotSeries series;
    sim::PlotLabels labels;
    sim::RunResult result;
};

FlownRun Fly(const std::string &keys, double until, const std::string &name) {
    sim::RunOptions o;
    o.root = Root();
    o.keys = keys;
    o.until = until;
    o.quiet = true;
    o.telemetryPath = TempPath(name + ".csv");
    sim::Flight flight(o);
    while (flight.Continues()) flight.Step();
    FlownRun run;
    run.result = flight.Finish();
    run.labels = sim::PlotLabelsOf(run.result, flight.GetWorld(), flight.ScenarioPath());
    const std::string header = ReadFile(o.telemetryPath).substr(0, ReadFile(o.telemetryPath).find('\n'));
    std::vector<std::string> columns;
    std::stringstream split(header);
    for (std::string c; std::getline(split, c, ',');) columns.push_back(c);
    run.series = sim::ReadPlotSeries(o.telemetryPath, columns);
    std::remove(o.telemetryPath.c_str());
    return run;
}

TEST(PlotScript, TheDefaultDescentHasAlignedPanelsItsTitleAndATouchdownMarker) {
    const FlownRun run = Fly("", -1.0, "plot-descent");
    ASSERT_TRUE(run.result.vessels.front().touchdown.happened);
    const std::string script = sim::PlotScript(run.series, run.labels, "/tmp/plot-data");

    // Five panels, all with the same left and right edge, stacked without overlap.
    const std::vector<double> left = ScreenMargins(script, "lmargin"), right = ScreenMargins(script, "rmargin");
    const std::vector<double> top = ScreenMargins(script, "tmargin"), bottom = ScreenMargins(script, "bmargin");
    ASSERT_EQ(left.size(), 5u);
    ASSERT_EQ(right.size(), 5u);
    ASSERT_EQ(top.size(), 5u);
    ASSERT_EQ(bottom.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(left[k], left[0]);
        EXPECT_EQ(right[k], right[0]);
        EXPECT_LT(bottom[k], top[k]);
        if (k > 0) {
            EXPECT_LE(top[k], bottom[k - 1]);
        }
    }
    EXPECT_NE(script.find("set xrange [0:" ), std::string::npos);
    EXPECT_EQ(script.find("set autoscale x"), std::string::npos);

    // The title names the scenario, the body and the report's outcome.
    const std::string title = script.substr(script.find("set multiplot title"), 120);
    EXPECT_NE(title.find("Descent.scn (Moon)"), std::string::npos) << title;
    EXPECT_NE(title.find("outcome (Lander): soft landing"), std::string::npos) << title;

    // The touchdown marker at the report's touchdown, no crash notice marker.
    EXPECT_NEAR(MarkerTime(script, 1), run.result.vessels.front().touchdown.time, 1e-6);
    EXPECT_TRUE(std::isnan(MarkerTime(script, 2)));
    char label[40];
    std::snprintf(label, sizeof label, "'touchdown %.2f s'", run.result.vessels.front().touchdown.time);
    EXPECT_NE(script.find(label), std::string::npos) << label;

    // The yaw thrusters have a panel of their own with their duty cycle.
    EXPECT_NE(script.find("yaw thrusters"), std::string::npos);
    EXPECT_NE(script.find("mean over 1 s"), std::string::npos);
}

TEST(PlotScript, ACrashMarksTheCrashNoticeAndItsDataHasNoAngleJumps) {
    // Manual override at 5 s: the lander falls unpowered and crashes.
    const FlownRun run = Fly("5:M", -1.0, "plot-crash");
    const std::string script = sim::PlotScript(run.series, run.labels, "/tmp/plot-data");
    double notice = -1.0;
    for (const auto &a : run.result.annotations)
        if (a.text.find("Crash") != std::string::npos) notice = a.createdAt;
    ASSERT_GE(notice, 0.0) << "the module showed no crash notice";
    EXPECT_NEAR(MarkerTime(script, 2), notice, 1e-6);
    EXPECT_NEAR(MarkerTime(script, 1), run.result.vessels.front().touchdown.time, 1e-6);
    EXPECT_NE(script.find("outcome (Lander): crash"), std::string::npos);

    // The data file: bank (column 6) and heading (column 7) never jump by
    // more than half a turn from one row to the next.
    const std::string data = sim::PlotDataText(run.series);
    std::stringstream rows(data);
    std::vector<double> bank, heading;
    std::size_t count = 0;
    for (std::string line; std::getline(rows, line); ++count) {
        std::stringstream cells(line);
        std::vector<double> v;
        for (double x; cells >> x;) v.push_back(x);
        ASSERT_EQ(v.size(), 11u + run.series.engines.size()) << line;
        bank.push_back(v[5]);
        heading.push_back(v[6]);
    }
    EXPECT_EQ(count, run.series.time.size());
    EXPECT_LE(LargestStep(bank), 180.0);
    EXPECT_LE(LargestStep(heading), 180.0);
}

TEST(PlotScript, ARunWithoutTouchdownHasNoMarkersAndAnAxisEvenWithoutFrames) {
    sim::PlotSeries series;
    series.time = {0.0};
    series.altitude = {2000};
    series.verticalSpeed = {-20};
    series.horizontalSpeed = {0};
    series.pitch = series.bank = series.heading = series.yawLeft = series.yawRight = {0};
    sim::PlotLabels labels;
    labels.scenario = "it's.scn";
    labels.outcome = "outcome (Lander): still flying";
    const std::string script = sim::PlotScript(series, labels, "/tmp/d");
    EXPECT_EQ(script.find("set arrow"), std::string::npos);
    EXPECT_NE(script.find("set xrange [0:1]"), std::string::npos);
    EXPECT_NE(script.find("'it''s.scn"), std::string::npos) << "quotes doubled inside gnuplot's quotes";
    EXPECT_NE(script.find("no main engines"), std::string::npos);
}

// vtal-sim as a user runs it, with its standard error.
struct Ran {
    int status = -1;
    std::string err;
};

Ran RunSim(const std::string &args) {
    const std::string errPath = TempPath("plot-stderr.txt");
    const int rc = std::system((std::string(VTAL_SIM_EXE) + " " + args + " >/dev/null 2>" + errPath).c_str());
    Ran r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(errPath)};
    std::remove(errPath.c_str());
    return r;
}

TEST(PlotGnuplot, RunsTooShortForARangePrintNothingOfGnuplots) {
    // A run of no frame or one: every panel's range is a single value, on
    // which gnuplot warns.
    for (const char *until : {"0", "0.01"}) {
        const std::string png = TempPath(std::string("short-") + until + ".png");
        const Ran r = RunSim(std::string("--quiet --until ") + until + " --plot " + png);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "") << "--until " << until;
        EXPECT_EQ(ReadFile(png).substr(1, 3), "PNG");
        std::remove(png.c_str());
    }
}

TEST(PlotGnuplot, AFailureCarriesGnuplotsOwnMessage) {
    const std::string path = TempPath("failing.png");
    sim::AtomicFile png(path);
    const std::string problem = sim::RunGnuplot("set terminal pngcairo\n", "plot 1 with nosuchstyle\n", png);
    EXPECT_NE(problem.find("gnuplot failed to draw"), std::string::npos) << problem;
    EXPECT_NE(problem.find("nosuchstyle"), std::string::npos) << "gnuplot's message is in the error: " << problem;

    sim::AtomicFile good(TempPath("good.png"));
    // One point: gnuplot warns of empty ranges, and draws.
    EXPECT_EQ(sim::RunGnuplot("set terminal pngcairo\n", "plot '-' with lines\n0 1\ne\n", good), "")
        << "a warning alone is no failure";
    EXPECT_TRUE(sim::IsCompletePng(good.WorkingPath()));
}

}  // namespace
}  // namespace vtal::simtest
