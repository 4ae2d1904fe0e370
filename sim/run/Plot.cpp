#include "sim/run/Plot.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/run/Outputs.h"

namespace vtal::sim {
namespace {

constexpr double kFullTurnDeg = 360.0;
constexpr double kLeastAngleSpanDeg = 10.0;  // the attitude panel's axes show at least this
constexpr int kPanels = 5;
// Where the panels sit on the picture, as fractions of it: every panel has
// the same left and right edge, so that their time axes line up whatever
// their tick labels' widths.
constexpr double kPanelLeft = 0.085, kPanelRight = 0.80;
constexpr double kPanelsTop = 0.945, kPanelsBottom = 0.045, kPanelGap = 0.012;
// The keys' distance from their panel, as a fraction of its width; past the
// right axis's numbers where a panel has one.
constexpr double kKeyGap = 0.015, kKeyGapPastRightAxis = 0.085;
// gnuplot's messages kept for an error, at most this many characters of their end.
constexpr std::size_t kMessageTail = 1500;

const char *const kTouchdownColour = "#1a7f37";
const char *const kCrashColour = "#c62828";

std::string Number(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", x);
    return buf;
}

std::string Fixed2(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.2f", x);
    return buf;
}

std::vector<std::string> SplitCsv(const std::string &line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        cells.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return cells;
        start = comma + 1;
    }
}

// A marker across a panel at time t, and (top panel only) its label.
std::string MarkerArrow(int tag, double t, const char *colour) {
    return "set arrow " + std::to_string(tag) + " from " + Number(t) + ", graph 0 to " + Number(t) +
           ", graph 1 nohead front lw 1.5 dt 2 lc rgb '" + colour + "'\n";
}

std::string MarkerLabel(int tag, double t, double height, const std::string &text, const char *colour, double end) {
    // Right of the line, or left of it near the panel's right edge.
    const bool nearEnd = t > 0.75 * end;
    return "set label " + std::to_string(tag) + " " + GnuplotQuoted(text) + " at " + Number(t) + ", graph " +
           Number(height) + (nearEnd ? " right offset -0.6,0" : " left offset 0.6,0") + " front tc rgb '" + colour +
           "'\n";
}

// An axis's range over the values, widened about its middle to at least
// `span`: a steady angle keeps a readable scale instead of magnifying the
// last digits' noise.
std::string RangeAtLeast(const std::vector<std::vector<double>> &series, double span) {
    double lo = 0.0, hi = 0.0;
    bool any = false;
    for (const auto &values : series)
        for (double x : values) {
            lo = any ? std::min(lo, x) : x;
            hi = any ? std::max(hi, x) : x;
            any = true;
        }
    if (!any || hi - lo >= span) return "[*:*]";
    const double middle = 0.5 * (lo + hi);
    return "[" + Number(middle - span / 2) + ":" + Number(middle + span / 2) + "]";
}

// Each panel's key just right of it, at the top, its lines before their names.
std::string KeyBeside(double gap) {
    return "set key at graph " + Number(1.0 + gap) + ", graph 1 left top Left reverse samplen 3\n";
}

// The margins of panel k (0 at the top).
std::string PanelPlace(int k) {
    const double height = (kPanelsTop - kPanelsBottom) / kPanels;
    const double top = kPanelsTop - k * height, bottom = top - height + kPanelGap;
    return "set lmargin at screen " + Number(kPanelLeft) + "\nset rmargin at screen " + Number(kPanelRight) +
           "\nset tmargin at screen " + Number(top) + "\nset bmargin at screen " + Number(bottom) + "\n";
}

std::string Series(const std::string &data, int column, const std::string &style, const std::string &title) {
    return data + " using 1:" + std::to_string(column) + " with lines " + style + " title " + GnuplotQuoted(title);
}

std::string Joined(const std::vector<std::string> &parts) {
    std::string out;
    for (const std::string &p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

// The data file's columns (1-based), as PlotDataLine writes them.
enum DataColumn {
    kTime = 1, kAltitude, kVerticalSpeed, kHorizontalSpeed, kPitch, kBank, kHeading,
    kYawLeft, kYawRight, kYawLeftMean, kYawRightMean, kFirstEngine
};

struct Derived {
    std::vector<double> bank, heading, yawLeftMean, yawRightMean;
};

Derived Derive(const PlotSeries &s) {
    return {UnwrappedDegrees(s.bank), UnwrappedDegrees(s.heading), CentredMean(s.time, s.yawLeft, kDutyCycleWindow),
            CentredMean(s.time, s.yawRight, kDutyCycleWindow)};
}

std::string PlotDataLine(const PlotSeries &s, const Derived &d, std::size_t i) {
    std::string line = Number(s.time[i]);
    for (double x : {s.altitude[i], s.verticalSpeed[i], s.horizontalSpeed[i], s.pitch[i], d.bank[i], d.heading[i],
                     s.yawLeft[i], s.yawRight[i], d.yawLeftMean[i], d.yawRightMean[i]})
        line += " " + Number(x);
    for (const auto &engine : s.engines) line += " " + Number(engine[i]);
    return line + "\n";
}

// Reads what gnuplot printed, at most its last kMessageTail characters.
std::string MessagesIn(int fd) {
    std::string text;
    if (lseek(fd, 0, SEEK_SET) != 0) return text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > 4 * kMessageTail) text.erase(0, text.size() - kMessageTail);
    }
    if (text.size() > kMessageTail) text.erase(0, text.size() - kMessageTail);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string WithMessages(const std::string &problem, const std::string &messages) {
    return messages.empty() ? problem : problem + "; gnuplot said:\n" + messages;
}

// Writes the whole text to a file that exists; false on any failure.
bool WriteWhole(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The temporary files of a plot: registered, so that an interruption of
// the program removes them too.
std::unique_ptr<TemporaryFile> MakeTemporary(const char *prefix, std::string &problem) {
    try {
        return std::make_unique<TemporaryFile>(prefix);
    } catch (const WriteError &e) {
        problem = e.what();
        return nullptr;
    }
}

}  // namespace

PlotLabels PlotLabelsOf(const RunResult &result, const World &world, const std::string &scenarioPath) {
    PlotLabels labels;
    labels.scenario = TextAsUtf8(std::filesystem::path(scenarioPath).filename().string());
    labels.body = world.Body().name;
    labels.outcome = TextAsUtf8(OutcomeText(result));
    labels.endTime = result.endTime;
    if (const Vessel *focus = world.Focus()) {
        const Touchdown &touchdown = world.TouchdownOf(*focus);
        if (touchdown.happened) labels.touchdown = touchdown.time;
    }
    labels.crashNotice = CrashNoticeAt(result);
    return labels;
}

const char *const kFlightPlotTerminal = "set terminal pngcairo noenhanced size 1200,1500 font ',10'\n";

PlotSeries ReadPlotSeries(const std::string &telemetryPath, const std::vector<std::string> &columns) {
    const auto column = [&](const std::string &name) {
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i] == name) return i;
        throw std::runtime_error("the telemetry has no column '" + name + "' to plot");
    };
    const std::size_t time = column("time"), altitude = column("altitude"), vs = column("vertical_speed"),
                      hs = column("horizontal_speed"), pitch = column("pitch_deg"), bank = column("bank_deg"),
                      heading = column("heading_deg"), left = column("yaw_left"), right = column("yaw_right");
    std::vector<std::size_t> engineColumns;
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i].rfind("engine", 0) == 0) engineColumns.push_back(i);

    std::ifstream in(telemetryPath);
    if (!in) throw std::runtime_error("cannot read the telemetry " + telemetryPath + " to plot it");
    PlotSeries s;
    s.engines.resize(engineColumns.size());
    std::string line;
    std::getline(in, line);  // the header
    for (long number = 2; std::getline(in, line); ++number) {
        if (line.empty()) continue;
        const std::vector<std::string> cells = SplitCsv(line);
        if (cells.size() < columns.size())
            throw std::runtime_error(telemetryPath + ":" + std::to_string(number) + ": fewer values than columns");
        const auto value = [&](std::size_t c) {
            char *end = nullptr;
            const double x = std::strtod(cells[c].c_str(), &end);
            if (cells[c].empty() || *end != '\0' || !std::isfinite(x))
                throw std::runtime_error(telemetryPath + ":" + std::to_string(number) + ": " + columns[c] + " '" +
                                         cells[c] + "' is not a number");
            return x;
        };
        s.time.push_back(value(time));
        s.altitude.push_back(value(altitude));
        s.verticalSpeed.push_back(value(vs));
        s.horizontalSpeed.push_back(value(hs));
        s.pitch.push_back(value(pitch));
        s.bank.push_back(value(bank));
        s.heading.push_back(value(heading));
        s.yawLeft.push_back(value(left));
        s.yawRight.push_back(value(right));
        for (std::size_t e = 0; e < engineColumns.size(); ++e) s.engines[e].push_back(value(engineColumns[e]));
    }
    return s;
}

std::vector<double> UnwrappedDegrees(const std::vector<double> &degrees) {
    std::vector<double> out(degrees.size());
    for (std::size_t i = 0; i < degrees.size(); ++i) {
        if (i == 0) {
            out[i] = degrees[i];
            continue;
        }
        double step = degrees[i] - degrees[i - 1];
        step -= kFullTurnDeg * std::round(step / kFullTurnDeg);
        out[i] = out[i - 1] + step;
    }
    return out;
}

std::vector<double> CentredMean(const std::vector<double> &time, const std::vector<double> &values, double window) {
    const std::size_t n = std::min(time.size(), values.size());
    std::vector<double> sum(n + 1, 0.0), out(n);
    for (std::size_t i = 0; i < n; ++i) sum[i + 1] = sum[i] + values[i];
    std::size_t lo = 0, hi = 0;  // the rows in the window: [lo, hi)
    for (std::size_t i = 0; i < n; ++i) {
        while (lo < i && time[lo] < time[i] - window / 2) ++lo;
        if (hi < i + 1) hi = i + 1;
        while (hi < n && time[hi] <= time[i] + window / 2) ++hi;
        out[i] = (sum[hi] - sum[lo]) / static_cast<double>(hi - lo);
    }
    return out;
}

std::string PlotDataText(const PlotSeries &series) {
    const Derived d = Derive(series);
    std::string text;
    for (std::size_t i = 0; i < series.time.size(); ++i) text += PlotDataLine(series, d, i);
    return text;
}

std::string PlotScript(const PlotSeries &series, const PlotLabels &labels, const std::string &dataPath) {
    const std::string data = GnuplotQuoted(dataPath);
    double end = labels.endTime;
    if (!series.time.empty()) end = std::max(end, series.time.back());
    if (!(end > 0.0)) end = 1.0;  // a run of no frames still gets an axis

    std::string s = "set encoding utf8\nset grid\nset xrange [0:" + Number(end) + "]\n" + KeyBeside(kKeyGap);
    s += "set xzeroaxis lt -1 lc rgb '#999999'\n";
    s += "set multiplot title " +
         GnuplotQuoted(labels.scenario + (labels.body.empty() ? "" : " (" + labels.body + ")") + "   " + labels.outcome) +
         " font ',14'\n";
    // The markers stand in every panel; their labels in the top one.
    if (labels.touchdown >= 0.0) {
        s += MarkerArrow(1, labels.touchdown, kTouchdownColour);
        s += MarkerLabel(1, labels.touchdown, 0.9, "touchdown " + Fixed2(labels.touchdown) + " s", kTouchdownColour, end);
    }
    if (labels.crashNotice >= 0.0) {
        s += MarkerArrow(2, labels.crashNotice, kCrashColour);
        s += MarkerLabel(2, labels.crashNotice, 0.75, "crash notice " + Fixed2(labels.crashNotice) + " s", kCrashColour,
                         end);
    }
    s += "set format x ''\nunset xlabel\n";

    s += PanelPlace(0) + "set ylabel 'altitude (m)'\nplot " +
         Series(data, kAltitude, "lw 2 lc rgb '#1f5fa8'", "altitude") + "\n";
    s += "unset label\n";

    s += PanelPlace(1) + "set ylabel 'speed (m/s)'\nplot " +
         Joined({Series(data, kVerticalSpeed, "lw 2 lc rgb '#1f5fa8'", "vertical (up +)"),
                 Series(data, kHorizontalSpeed, "lw 2 lc rgb '#e07b00'", "horizontal")}) +
         "\n";

    // Engines that run alike lie on one another: each is drawn thinner than
    // the one before, so that every one stays visible.
    s += PanelPlace(2) + "set ylabel 'main engines (level)'\nset yrange [-0.05:1.05]\n";
    if (series.engines.empty()) {
        s += "plot 0 with lines lc rgb '#bbbbbb' title 'no main engines'\n";
    } else {
        static const char *const colours[] = {"#b8860b", "#c0392b", "#6a3d9a", "#2e7d32"};
        std::vector<std::string> engines;
        for (std::size_t e = 0; e < series.engines.size(); ++e) {
            const double width = std::max(1.0, 4.0 - 1.5 * static_cast<double>(e));
            engines.push_back(Series(data, kFirstEngine + static_cast<int>(e),
                                     "lw " + Number(width) + " lc rgb '" + colours[e % 4] + "'",
                                     "engine " + std::to_string(e + 1)));
        }
        s += "plot " + Joined(engines) + "\n";
    }

    // The yaw thrusters switch on and off many times a second: each frame's
    // level thin and pale behind, their duty cycle over a second on top.
    s += PanelPlace(3) + "set ylabel 'yaw thrusters (level)'\n";
    s += "plot " +
         Joined({Series(data, kYawLeft, "lw 0.5 lc rgb '#eaa8a8'", "left, each frame"),
                 Series(data, kYawRight, "lw 0.5 lc rgb '#a8bce8'", "right, each frame"),
                 Series(data, kYawLeftMean, "lw 2.5 lc rgb '#c62828'", "left, mean over " + Number(kDutyCycleWindow) + " s"),
                 Series(data, kYawRightMean, "lw 2.5 lc rgb '#1f4fc6'", "right, mean over " + Number(kDutyCycleWindow) + " s")}) +
         "\n";

    const Derived d = Derive(series);
    s += PanelPlace(4) + "set yrange " + RangeAtLeast({series.pitch, d.bank}, kLeastAngleSpanDeg) +
         "\nset y2range " + RangeAtLeast({d.heading}, kLeastAngleSpanDeg) + "\nset format x '%g'\nset xlabel 'time (s)'\n";
    s += "set ylabel 'pitch, bank (deg)'\nset ytics nomirror\nset y2tics\nset y2label 'heading (deg)'\n" +
         KeyBeside(kKeyGapPastRightAxis);
    s += "plot " +
         Joined({Series(data, kPitch, "lw 2 lc rgb '#2e7d32'", "pitch"),
                 Series(data, kBank, "lw 2 lc rgb '#6a3d9a'", "bank"),
                 Series(data, kHeading, "lw 1.5 dt 3 lc rgb '#555555'", "heading (right)") + " axes x1y2"}) +
         "\n";
    s += "unset multiplot\n";
    return s;
}

std::string DrawPlot(const std::string &telemetryPath, const std::vector<std::string> &columns,
                     const PlotLabels &labels, AtomicFile &png) {
    PlotSeries series;
    try {
        series = ReadPlotSeries(telemetryPath, columns);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    std::string problem;
    const std::unique_ptr<TemporaryFile> data = MakeTemporary("vtal-plot-data", problem);
    if (!data) return problem;
    const int fd = open(data->Path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return "cannot open a temporary file for the plot's data";
    const Derived d = Derive(series);
    std::string chunk;
    bool written = true;
    for (std::size_t i = 0; i < series.time.size() && written; ++i) {
        chunk += PlotDataLine(series, d, i);
        if (chunk.size() > 1 << 16 || i + 1 == series.time.size()) {
            written = WriteWhole(fd, chunk);
            chunk.clear();
        }
    }
    if (close(fd) != 0 || !written) return "cannot write the plot's data (is " + TemporaryFolder() + " full?)";
    return RunGnuplot(kFlightPlotTerminal, PlotScript(series, labels, data->Path()), png);
}

std::string RunGnuplot(const std::string &terminal, const std::string &commands, AtomicFile &png) {
    // gnuplot writes a file itself: the picture's working file, or for a
    // target written in place (a pipe, a terminal) a temporary picture whose
    // bytes are copied into it once whole.
    std::string problem;
    std::unique_ptr<TemporaryFile> picture;
    std::string output = png.WorkingPath();
    if (png.InPlace()) {
        picture = MakeTemporary("vtal-plot-picture", problem);
        if (!picture) return problem;
        output = picture->Path();
    } else {
        try {
            png.Close();
        } catch (const WriteError &e) {
            return e.what();
        }
    }
    const std::unique_ptr<TemporaryFile> scriptFile = MakeTemporary("vtal-plot", problem);
    // gnuplot's own messages (warnings about the data, font notes) go to a
    // file of their own: shown only if it fails.
    const std::unique_ptr<TemporaryFile> messages = scriptFile ? MakeTemporary("vtal-plot-messages", problem) : nullptr;
    if (!messages) return problem;
    const std::string script = terminal + "set output " + GnuplotQuoted(output) + "\n" + commands;
    const int scriptFd = open(scriptFile->Path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const bool written = scriptFd >= 0 && WriteWhole(scriptFd, script);
    if (scriptFd < 0 || close(scriptFd) != 0 || !written)
        return "cannot write the plot script (is " + TemporaryFolder() + " full?)";
    const int messageFd = open(messages->Path().c_str(), O_RDWR | O_CLOEXEC);
    if (messageFd < 0) return "cannot open a temporary file for gnuplot's messages";
    const int status = RunHelperProgram({"gnuplot", scriptFile->Path()}, messageFd);
    const std::string said = MessagesIn(messageFd);
    close(messageFd);
    if (status < 0) return "gnuplot could not be started (is it installed?)";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return WithMessages("gnuplot failed to draw " + png.Target(), said);
    // gnuplot does not always report a picture it could not finish writing.
    if (!IsCompletePng(output))
        return WithMessages("gnuplot could not write the whole picture " + png.Target() + " (disk full or file size limit?)",
                            said);
    if (picture) {
        try {
            png.Write(ReadInputFile(output));
        } catch (const std::exception &e) {
            return e.what();
        }
    }
    return "";
}

std::string GnuplotQuoted(const std::string &text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "''";
        else if (static_cast<unsigned char>(c) < 0x20)
            out += ' ';  // a line break would end the command
        else
            out += c;
    }
    return out + "'";
}

bool ProgramAvailable(const std::string &name) {
    const char *path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace vtal::sim
