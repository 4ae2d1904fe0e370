#include "montecarlo/Command.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <cstdio>
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "montecarlo/Campaign.h"
#include "montecarlo/Progress.h"
#include "montecarlo/Report.h"
#include "montecarlo/Tally.h"
#include "sim/base/ExitCodes.h"
#include "sim/base/InputError.h"
#include "sim/run/Outputs.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/Scenario.h"
#include "sim/view/ViewPage.h"

namespace vtal::montecarlo {

namespace {

using sim::kExitBadInput;
using sim::kExitFailed;
using sim::kExitOk;
using sim::kExitSignalBase;

const char *const kDescription =
    "Flies many descents of the lander from dispersed starts of one scenario (the default descent\n"
    "unless one is given), each with the module freshly loaded, in worker processes, and reports\n"
    "from which starts it lands. Any run can be flown again alone with --seed S --replay I.";

std::string DispersionHelp() {
    std::string text =
        "Dispersions (--disperse NAME=DIST, repeatable; DIST is uniform:LO:HI, normal:SIGMA,\n"
        "normal:MEAN:SIGMA or none). All but the horizontal velocity are offsets from the scenario's\n"
        "start; a horizontal velocity of the drawn speed and direction is added to the scenario's.\n"
        "A --dispersions FILE.json names quantities the same way, e.g.\n"
        "  {\"altitude\": {\"distribution\": \"uniform\", \"min\": -100, \"max\": 100},\n"
        "   \"pitch\": {\"distribution\": \"normal\", \"sigma\": 3}, \"heading\": {\"distribution\": \"none\"}}\n"
        "The file is applied first, then --disperse arguments in order.\n\n"
        "  quantity               default\n";
    const DispersionSet defaults = DefaultDispersions();
    for (int i = 0; i < kQuantityCount; ++i) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-22s %-32s %s\n", Info(QuantityAt(i)).name,
                      Describe(defaults[i], QuantityAt(i)).c_str(), Info(QuantityAt(i)).meaning);
        text += line;
    }
    text += "\nA start drawn outside its limits is brought within them (altitude at least 2 m, pitch\n"
            "within +-89 deg, propellant within the tank) and the run is counted as clamped.\n\n";
    text += "Outcomes:\n" + DescribeThresholds(DefaultThresholds());
    return text;
}

// Limits of the counts on the command line. The campaign's memory does not
// grow with the runs (records are streamed, statistics bounded), so the
// limit on runs is one of time alone.
constexpr long kMaxRuns = 100000000;
constexpr long kMaxJobs = 1024;
constexpr long kMaxReplayIndex = kMaxRuns - 1;

struct Arguments {
    CampaignOptions campaign;
    std::string seedText = "1";
    std::string runsText, jobsText, replayText, dtText;  // read by ReadNumbers
    std::string dispersionFile;
    std::vector<std::string> disperse;
    long replay = -1;
    std::string writeScenario, csvPath, plotPath, viewPath;
    bool noProgress = false;
};

DispersionSet BuildDispersions(const Arguments &a) {
    DispersionSet set = DefaultDispersions();
    if (!a.dispersionFile.empty()) ApplyDispersionFile(set, a.dispersionFile);
    for (const std::string &d : a.disperse) ApplyDispersionArgument(set, d);
    return set;
}

// A seed is a whole number that fits 64 bits; a sign is refused rather than
// wrapped around.
std::uint64_t ParseSeed(const std::string &text) {
    const bool digits = !text.empty() && text.size() <= 20 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    errno = 0;
    const unsigned long long value = digits ? std::strtoull(text.c_str(), nullptr, 10) : 0;
    if (!digits || errno == ERANGE)
        throw sim::InputError("--seed must be a whole number from 0 to 18446744073709551615, not '" + text + "'");
    return value;
}

// Numbers are taken as text and read here, so that every bad value gets the
// same message with the accepted range in plain numbers.
void ReadNumbers(Arguments &a) {
    a.campaign.seed = ParseSeed(a.seedText);
    if (!a.runsText.empty()) a.campaign.runs = sim::ParseArgumentCount(a.runsText, "--runs", 1, kMaxRuns);
    if (!a.jobsText.empty())
        a.campaign.jobs = static_cast<int>(sim::ParseArgumentCount(a.jobsText, "--jobs", 1, kMaxJobs));
    if (!a.replayText.empty()) a.replay = sim::ParseArgumentCount(a.replayText, "--replay", 0, kMaxReplayIndex);
    if (!a.dtText.empty()) a.campaign.dt = sim::ParseArgumentNumber(a.dtText, "--dt", 0.0, 1.0, true);
}

void CheckArguments(const Arguments &a) {
    if (!a.writeScenario.empty() && a.replay < 0)
        throw sim::InputError("--write-scenario needs --replay I: it writes that run's start");
    if (!a.viewPath.empty() && a.replay < 0) throw sim::InputError("--view needs --replay I: it shows that run");
    sim::CheckOutputPath(a.writeScenario, "--write-scenario");
    sim::CheckOutputPath(a.csvPath, "--csv");
    sim::CheckOutputPath(a.plotPath, "--plot");
    sim::CheckOutputPath(a.viewPath, "--view");
    if (!a.plotPath.empty() && !sim::ProgramAvailable("gnuplot"))
        throw sim::InputError("--plot needs gnuplot (Debian package gnuplot-nox), which is not installed");
}

// The signal that asked the campaign to stop, or 0. Set by the handler only.
volatile std::sig_atomic_t stopSignal = 0;

void NoteStopSignal(int signal) {
    if (stopSignal == 0) stopSignal = signal;
}

// While a campaign flies, SIGINT and SIGTERM stop it rather than kill it:
// what was flown is written before it exits. Restores the handlers there
// were on leaving.
class StopOnSignals {
public:
    StopOnSignals() {
        stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = NoteStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;  // the pool's wait returns on a signal all the same
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopOnSignals() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;
    static bool Stopped() { return stopSignal != 0; }
    static int Signal() { return stopSignal; }

private:
    struct sigaction oldInt_ {}, oldTerm_ {};
};

const char *SignalName(int signal) { return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a signal"; }

CampaignInfo InfoOf(const CampaignSetup &setup) {
    CampaignInfo info;
    info.scenario = setup.scenarioPath;
    info.seed = setup.options.seed;
    info.dispersions = setup.options.dispersions;
    info.thresholds = setup.options.thresholds;
    info.plannedRuns = setup.options.runs;
    return info;
}

// Reports a problem with an output; returns the status it leaves.
int OutputProblem(const std::string &problem) {
    if (problem.empty()) return kExitOk;
    std::cerr << "vtal-sim montecarlo: " << problem << "\n";
    return kExitFailed;
}

void WarnOutsideCampaign(const CampaignSetup &setup, const Arguments &a) {
    if (a.replay < setup.options.runs) return;
    std::cerr << "vtal-sim montecarlo: warning: run " << a.replay << " lies outside the campaign as given ("
              << setup.options.runs << " runs, 0 to " << setup.options.runs - 1
              << (a.runsText.empty() ? ", the default --runs" : "") << "); it is flown all the same, from seed "
              << setup.options.seed << " and its index\n";
}

// No output may replace a file the campaign reads, nor another output.
void CheckOutputsApart(const Arguments &a, const CampaignSetup &setup) {
    const sim::Installation installation(setup.root);
    const sim::Scenario scenario = sim::ParseScenarioText(setup.scenarioText, setup.scenarioPath);
    std::vector<sim::NamedFile> inputs = sim::InputsOfRun(
        scenario, setup.scenarioPath, installation, a.viewPath.empty() ? "" : sim::ViewerTemplatePath(setup.root), "");
    inputs.push_back({"--dispersions", a.dispersionFile});
    sim::CheckOutputsApart({{"--csv", a.csvPath}, {"--plot", a.plotPath}, {"--write-scenario", a.writeScenario},
                            {"--view", a.viewPath}},
                           inputs);
}

int Replay(const CampaignSetup &setup, const Arguments &a) {
    WarnOutsideCampaign(setup, a);
    ReplayText text;
    const RunRecord r = ReplayRun(setup, a.replay, a.writeScenario, a.viewPath, &text);
    std::cout << text.out << std::flush;
    std::cerr << text.err;
    if (r.outcome == Outcome::Error) {
        std::cerr << "vtal-sim montecarlo: run " << a.replay << " could not be flown: " << r.failure << "\n";
        return kExitFailed;
    }
    std::cerr << "run " << a.replay << " of seed " << setup.options.seed << ": " << Label(r.outcome) << "\n";
    int status = kExitOk;
    CampaignInfo info = InfoOf(setup);
    info.plannedRuns = 1;  // the replayed run is the whole of what these files report
    if (!a.csvPath.empty()) {
        CsvStream csv(a.csvPath);
        csv.Row(r);
        const int s = OutputProblem(csv.Finish(info, 1));
        if (s == kExitOk) std::cerr << "its CSV row written to " << a.csvPath << "\n";
        status = std::max(status, s);
    }
    if (!a.plotPath.empty()) {
        Tally tally;
        tally.Add(r);
        const int s = OutputProblem(DrawEnvelope(a.plotPath, info, tally));
        if (s == kExitOk) std::cerr << "its start drawn in " << a.plotPath << "\n";
        status = std::max(status, s);
    }
    if (!a.writeScenario.empty()) std::cerr << "its start written to " << a.writeScenario << "\n";
    if (!a.viewPath.empty()) std::cerr << "its replay page written to " << a.viewPath << "\n";
    return status;
}

// Reports the first failed runs' reasons and how many failed in all.
class FailureLog {
public:
    void Note(const RunRecord &r) {
        if (r.outcome != Outcome::Error) return;
        if (failed_++ < kShown) std::cerr << "vtal-sim montecarlo: run " << r.index << " failed: " << r.failure << "\n";
    }
    void Finish() const {
        if (failed_ > kShown) std::cerr << "vtal-sim montecarlo: " << failed_ << " runs failed in all\n";
    }
    bool Any() const { return failed_ > 0; }

private:
    static constexpr long kShown = 3;
    long failed_ = 0;
};

int Campaign(const CampaignSetup &setup, const Arguments &a) {
    const std::string coarse = sim::CoarseStepWarning(setup.options.dt);
    if (!coarse.empty()) std::cerr << "vtal-sim montecarlo: warning: " << coarse << "\n";
    CampaignInfo info = InfoOf(setup);
    Tally tally;
    FailureLog failures;
    std::unique_ptr<CsvStream> csv = a.csvPath.empty() ? nullptr : std::make_unique<CsvStream>(a.csvPath);
    ProgressBar bar(setup.options.runs, stderr, !a.noProgress && isatty(STDERR_FILENO));
    const auto started = std::chrono::steady_clock::now();
    bool complete = false;
    {
        // Only while runs fly does a signal stop the campaign; once its
        // results are being written a signal ends the program as any run's,
        // removing the temporary files and ending gnuplot.
        const StopOnSignals signals;
        complete = FlyCampaign(
            setup,
            [&](const RunRecord &r) {
                tally.Add(r);
                failures.Note(r);
                if (csv) csv->Row(r);
            },
            [&bar](long done) { bar.update(done); }, &StopOnSignals::Stopped,
            [](const std::string &why) { std::cerr << "vtal-sim montecarlo: warning: " << why << "\n"; });
    }
    bar.finish();
    if (!complete) info.interruption = SignalName(StopOnSignals::Signal());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::cout << Summary(info, tally) << std::flush;
    std::fprintf(stderr, "flown in %.2f s: %.1f runs/s with %d processes at a time\n", seconds,
                 static_cast<double>(tally.Runs()) / seconds, setup.options.jobs);
    failures.Finish();
    int status = failures.Any() ? kExitFailed : kExitOk;
    if (csv) status = std::max(status, OutputProblem(csv->Finish(info, tally.Runs())));
    if (!a.plotPath.empty()) status = std::max(status, OutputProblem(DrawEnvelope(a.plotPath, info, tally)));
    if (complete) return status;
    std::cerr << "vtal-sim montecarlo: interrupted by " << info.interruption << " after " << tally.Runs() << " of "
              << setup.options.runs << " runs; what they gave is written, marked partial\n";
    return kExitSignalBase + StopOnSignals::Signal();
}

}  // namespace

int RunMonteCarloCommand(int argc, char **argv) {
    Arguments a;
    CLI::App app(kDescription, "vtal-sim montecarlo");
    app.footer(DispersionHelp());
    app.add_option("scenario", a.campaign.scenario,
                   "Scenario file, or its name under the installation's Scenarios/ (default: the default descent)")
        ->type_name("FILE|NAME");
    app.add_option("--runs", a.runsText, "Number of runs, 1 to 100000000 (default 1000)")->type_name("N");
    app.add_option("--seed", a.seedText,
                   "Campaign seed, 0 to 2^64-1; run I draws from a seed derived from it and I "
                   "(default 1)")
        ->type_name("N");
    app.add_option("--jobs", a.jobsText,
                   "Runs flown at a time, each in its own process, 1 to 1024 (default: all cores)")
        ->type_name("N");
    app.add_option("--replay", a.replayText,
                   "Fly only run I (counted from 0) and print its start and report as vtal-sim prints a flight's; --csv "
                   "and --plot then write that run's")
        ->type_name("I");
    app.add_option("--write-scenario", a.writeScenario, "With --replay: write that run's start as a scenario FILE, described as that run's")
        ->type_name("FILE");
    app.add_option("--view", a.viewPath, "With --replay: write that run's replay page to FILE.html")->type_name("FILE");
    app.add_option("--disperse", a.disperse, "NAME=DIST: a quantity's dispersion (see below); repeatable")
        ->allow_extra_args(false)
        ->type_name("NAME=DIST");
    app.add_option("--dispersions", a.dispersionFile, "JSON file of dispersions (see below)")->type_name("FILE");
    app.add_option("--csv", a.csvPath,
                   "Write one row per run to FILE.csv (an interrupted campaign's ends with a '# partial' line)")
        ->type_name("FILE");
    app.add_option("--plot", a.plotPath, "Draw the landing envelope into FILE.png (gnuplot)")->type_name("FILE");
    app.add_option("--dt", a.dtText, "Frame step, s (default 1/60; above 0, at most 1)")->type_name("SECONDS");
    app.add_option("--root", a.campaign.root, "Installation folder (default: next to the program)")->type_name("DIR");
    app.add_flag("--no-progress", a.noProgress, "No progress bar");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::cerr << "vtal-sim montecarlo: " << e.what() << "\n"
                  << "Run 'vtal-sim montecarlo --help' for the options.\n";
        return kExitBadInput;
    }

    CampaignSetup setup;
    try {
        ReadNumbers(a);
        a.campaign.dispersions = BuildDispersions(a);
        CheckArguments(a);
        setup = PrepareCampaign(a.campaign);
        CheckOutputsApart(a, setup);
    } catch (const DispersionError &e) {
        std::cerr << "vtal-sim montecarlo: error: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const sim::InputError &e) {
        std::cerr << "vtal-sim montecarlo: error: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::exception &e) {
        std::cerr << "vtal-sim montecarlo: failed: " << e.what() << "\n";
        return kExitFailed;
    }
    int status = kExitOk;
    try {
        status = a.replay >= 0 ? Replay(setup, a) : Campaign(setup, a);
    } catch (const std::exception &e) {
        std::cerr << "vtal-sim montecarlo: failed: " << e.what() << "\n";
        return kExitFailed;
    }
    if (!(std::cout << std::flush)) {
        std::cerr << "vtal-sim montecarlo: failed: cannot write the summary to standard output\n";
        return kExitFailed;
    }
    return status;
}

}  // namespace vtal::montecarlo
