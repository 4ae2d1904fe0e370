// The flight plot (--plot): altitude, speeds, main engine levels, the yaw
// thrusters and the attitude of the focus vessel against time, five panels
// with one time axis, drawn by gnuplot from the run's telemetry. Also the
// gnuplot runner that the campaigns' envelope plot shares.
#pragma once

#include <string>
#include <vector>

#include "sim/base/SafeFiles.h"
#include "sim/run/Flight.h"

namespace vtal::sim {

// What the plot marks beside the telemetry.
struct PlotLabels {
    std::string scenario;      // as the title names it (the file's name)
    std::string body;
    std::string outcome;       // the report's outcome line, e.g. "outcome (Lander): soft landing"
    double endTime = 0.0;      // s: the time axis runs from 0 to here
    double touchdown = -1.0;   // s; negative: no touchdown
    double crashNotice = -1.0; // s: the module's crash notice appeared; negative: none
};

// The labels of a finished run: the scenario file's name, the report's
// outcome, the focus vessel's touchdown (its telemetry is what the plot
// draws) and the module's crash notice.
PlotLabels PlotLabelsOf(const RunResult &result, const World &world, const std::string &scenarioPath);

// The telemetry's values that the plot draws, one entry per row.
struct PlotSeries {
    std::vector<double> time, altitude, verticalSpeed, horizontalSpeed, pitch, bank, heading;
    std::vector<std::vector<double>> engines;  // the main group's thrusters, each a series
    std::vector<double> yawLeft, yawRight;
};

// Reads the plotted columns of a telemetry file with these columns. Throws
// std::runtime_error naming the line if a value is not a number or a
// column is missing.
PlotSeries ReadPlotSeries(const std::string &telemetryPath, const std::vector<std::string> &columns);

// Angles in degrees made continuous: each differs from the one before by at
// most 180 degrees (a turn through ±180 or 0/360 goes on past it instead of
// drawing a wall across the panel).
std::vector<double> UnwrappedDegrees(const std::vector<double> &degrees);

// The mean of `values` over the `window` seconds centred on each time (a
// thruster switched on and off fast: its duty cycle). Times are increasing.
std::vector<double> CentredMean(const std::vector<double> &time, const std::vector<double> &values, double window);

// The window of the yaw thrusters' duty cycle, s.
constexpr double kDutyCycleWindow = 1.0;

// The plot's data file: one line per row, whitespace separated, in the
// order PlotScript reads (time, altitude, vertical and horizontal speed,
// pitch, unwrapped bank and heading, yaw left and right, their duty cycles,
// then each main engine).
std::string PlotDataText(const PlotSeries &series);

// The gnuplot commands that draw the panels from `dataPath` (the terminal
// and output excepted).
std::string PlotScript(const PlotSeries &series, const PlotLabels &labels, const std::string &dataPath);

// The terminal line of the flight plot (size in pixels).
extern const char *const kFlightPlotTerminal;

// Draws the flight plot of a telemetry file into the png's working file (the
// caller commits it); returns an error message, empty on success.
std::string DrawPlot(const std::string &telemetryPath, const std::vector<std::string> &columns,
                     const PlotLabels &labels, AtomicFile &png);

// Runs gnuplot on a script (a terminal line and the plot commands) that draws
// into the png's working file, and checks that a whole picture came out;
// returns an error message, empty on success. What gnuplot prints is kept
// from the terminal, and is part of the message only when it fails. The
// caller commits the file.
std::string RunGnuplot(const std::string &terminal, const std::string &commands, AtomicFile &png);

// A string in gnuplot's single quotes.
std::string GnuplotQuoted(const std::string &text);

// Whether a program is found on the search path.
bool ProgramAvailable(const std::string &name);

}  // namespace vtal::sim
