// A Monte-Carlo landing campaign: many descents from dispersed starts of one
// scenario, each flown by the flight host with the module freshly loaded,
// in worker processes that fly run after run, and each reproducible alone
// from the campaign seed and its index.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "montecarlo/Dispersion.h"
#include "montecarlo/Outcome.h"
#include "montecarlo/RunRecord.h"
#include "sim/files/Installation.h"
#include "sim/files/Scenario.h"

namespace vtal::montecarlo {

struct CampaignOptions {
    std::string root;      // installation; empty: next to the program
    std::string scenario;  // file or name under Scenarios/; empty: the default descent
    long runs = 1000;
    std::uint64_t seed = 1;
    int jobs = 0;          // processes at a time; 0: one per available core
    double dt = 1.0 / 60.0;  // s, frame step
    DispersionSet dispersions = DefaultDispersions();
    Thresholds thresholds = DefaultThresholds();
};

// Limits that every start is brought within (the run records which were).
constexpr double kMinStartAltitude = 2.0;     // m: the feet stand 0.58 m below the origin
constexpr double kMaxStartPitch = 89.0;       // deg either way: beyond, pitch and heading lose meaning

// The scenario a campaign flies, read and checked once before any run.
struct CampaignSetup {
    CampaignOptions options;
    std::string root;          // resolved installation folder
    std::string scenarioPath;  // resolved scenario file
    std::string scenarioText;  // its contents, flown by every run
    std::vector<std::string> modulePaths;  // the module libraries its vessels load
    std::string focusName;     // the vessel whose start is dispersed
    // Read once here; every run flies them (with its dispersion applied to
    // the focus vessel's start) without reading a file again.
    std::shared_ptr<const sim::Scenario> scenario;
    std::shared_ptr<const sim::Installation> installation;  // its answers remembered
};

// Reads and checks the installation and the scenario; throws sim::InputError.
CampaignSetup PrepareCampaign(const CampaignOptions &options);

// Flies run `index` in this process. The module must not be loaded here yet
// (its shared state would carry over from whatever ran before): call it in
// a process that has not loaded it, or has unloaded it completely, as the
// campaign's workers do. Throws std::logic_error if a module of the
// scenario is loaded already. If `scenarioPath` is not empty, the run's
// dispersed start is written there as an ordinary scenario.
// If `viewPath` is not empty, the run's replay page is written there. If
// `report` is not null, the account of the dispersed start and the flight's
// report, as vtal-sim prints a flight's, are written to it and the flight's
// warnings to `warnings` (both flushed).
RunRecord FlyRun(const CampaignSetup &setup, long index, const std::string &scenarioPath = "",
                 const std::string &viewPath = "", std::ostream *report = nullptr, std::ostream *warnings = nullptr);

// Runs may finish this far ahead of the lowest one still flying (or four
// times the processes, if more): the records waiting to be handed on in run
// order are bounded by it, whatever the number of runs.
constexpr long kReorderWindow = 4096;

// Why this process may not fly another run: a module of the campaign is
// still loaded although its run has ended and unloaded it (a library that
// cannot be unloaded, such as one linked with -z nodelete), so its shared
// state would carry over. Empty if every module is gone.
std::string ModulesLeftLoaded(const CampaignSetup &setup);

// Flies every run, in `jobs` worker processes at a time, and hands each
// record to take() in run order as soon as the runs before it are in;
// progress(done) is called as runs finish. Each worker flies run after run,
// loading the modules afresh for each; a worker whose modules stay loaded
// after a run flies no more, so every later run gets a fresh process, and
// warn() is told why, once. Once stop() is true no run starts, the runs
// flying are ended, the records of those finished are handed on (in run
// order) and it returns false; true when every run was flown.
bool FlyCampaign(const CampaignSetup &setup, const std::function<void(const RunRecord &)> &take,
                 const std::function<void(long done)> &progress, const std::function<bool()> &stop,
                 const std::function<void(const std::string &)> &warn = nullptr);

// Flies every run and returns the records in run order (a campaign small
// enough to keep whole: tests and benchmarks).
std::vector<RunRecord> RunCampaign(const CampaignSetup &setup, const std::function<void(long done)> &progress);

// What a run flown alone printed: the account of its start and the flight's
// report (standard output), the flight's warnings (standard error).
struct ReplayText {
    std::string out, err;
};

// Flies one run in a fresh worker process and returns its record; writes
// its start as a scenario to `scenarioPath` and its replay page to
// `viewPath` unless they are empty, and what it printed to `text` unless
// that is null.
RunRecord ReplayRun(const CampaignSetup &setup, long index, const std::string &scenarioPath,
                    const std::string &viewPath = "", ReplayText *text = nullptr);

}  // namespace vtal::montecarlo
