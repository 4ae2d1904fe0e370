#include "sim/files/Outputs.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "sim/vessel/Dynamics.h"
#include "sim/vessel/FlightState.h"
#include "sim/run/SoftLanding.h"
#include "sim/files/InputError.h"

extern char **environ;

namespace vtal::sim {
namespace {

using Json = nlohmann::ordered_json;

std::string NavmodeText(unsigned modes) {
    std::string out;
    for (int m = kFirstNavmode; m <= kLastNavmode; ++m)
        if (modes & (1u << m)) out += (out.empty() ? "" : "+") + std::string(NavmodeName(m));
    return out.empty() ? "-" : out;
}

double Round(double x, double unit) { return std::round(x / unit) * unit; }

}  // namespace

std::vector<std::pair<std::string, std::vector<double>>> ParseModuleValues(const std::string &text) {
    std::vector<std::pair<std::string, std::vector<double>>> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const char *p = text.c_str() + pos;
        const char *lineEnd = text.c_str() + end;
        while (p < lineEnd && (*p == ' ' || *p == '\t')) ++p;
        const char *keyEnd = p;
        while (keyEnd < lineEnd && *keyEnd != ' ' && *keyEnd != '\t') ++keyEnd;
        if (keyEnd > p) {
            std::pair<std::string, std::vector<double>> entry{std::string(p, keyEnd), {}};
            const char *q = keyEnd;
            while (q < lineEnd) {
                char *after = nullptr;
                const double v = std::strtod(q, &after);
                if (after == q || after > lineEnd) break;
                entry.second.push_back(v);
                q = after;
            }
            out.push_back(std::move(entry));
        }
        pos = end + 1;
    }
    return out;
}

TelemetryWriter::TelemetryWriter(const std::string &path, World &world) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) throw InputError(At(path, 0, "cannot be written"));
    columns_ = {"time", "altitude", "vertical_speed", "horizontal_speed", "pitch_deg", "bank_deg", "heading_deg"};
    Vessel &v = *world.Focus();
    if (const ThrusterGroup *main = v.Group(THGROUP_MAIN)) engines_ = main->members;
    for (std::size_t i = 0; i < engines_.size(); ++i) columns_.push_back("engine" + std::to_string(i + 1));
    columns_.insert(columns_.end(), {"yaw_left", "yaw_right", "navmodes", "propellant_kg", "ground_contact", "landed"});
    world.ModuleLines(v, moduleText_);
    for (const auto &[key, values] : ParseModuleValues(moduleText_)) {
        moduleColumns_.emplace_back(key, static_cast<int>(values.size()));
        if (values.size() == 2) {
            columns_.push_back(key + "_status");
            columns_.push_back(key + "_state");
        } else {
            for (std::size_t i = 0; i < values.size(); ++i)
                columns_.push_back(values.size() == 1 ? key : key + "_" + std::to_string(i + 1));
        }
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) std::fprintf(file_, "%s%s", i ? "," : "", columns_[i].c_str());
    std::fputc('\n', file_);
}

TelemetryWriter::~TelemetryWriter() {
    if (file_) std::fclose(file_);
}

void TelemetryWriter::Row(World &world) {
    Vessel &v = *world.Focus();
    const CentralBody &body = world.Body();
    std::fprintf(file_, "%.6f,%.6f,%.6f,%.6f,%.5f,%.5f,%.5f", world.SimTime(), Altitude(v, body), VerticalSpeed(v),
                 HorizontalSpeed(v, body), Pitch(v) / kRadPerDeg, Bank(v) / kRadPerDeg, Heading(v) / kRadPerDeg);
    for (const Thruster *t : engines_) std::fprintf(file_, ",%.6f", t->effective);
    const ThrusterGroup *left = v.Group(THGROUP_ATT_YAWLEFT), *right = v.Group(THGROUP_ATT_YAWRIGHT);
    std::fprintf(file_, ",%.6f,%.6f,%s,%.6f,%d,%d", GroupLevel(left), GroupLevel(right), NavmodeText(v.navmodes).c_str(),
                 v.PropellantMass(), v.groundContact ? 1 : 0, v.Landed() ? 1 : 0);
    if (!moduleColumns_.empty()) {
        world.ModuleLines(v, moduleText_);
        const auto values = ParseModuleValues(moduleText_);
        for (const auto &[key, count] : moduleColumns_) {
            const std::vector<double> *found = nullptr;
            for (const auto &entry : values)
                if (entry.first == key) found = &entry.second;
            for (int i = 0; i < count; ++i) {
                if (found && static_cast<std::size_t>(i) < found->size())
                    std::fprintf(file_, ",%.6g", (*found)[static_cast<std::size_t>(i)]);
                else
                    std::fputs(",", file_);
            }
        }
    }
    std::fputc('\n', file_);
}

bool TelemetryWriter::Close() {
    if (!file_) return true;
    const bool ok = std::ferror(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok && closed;
}

std::string ReportJson(const RunResult &result, const World &world) {
    Json report;
    report["scenario"] = result.scenarioPath;
    report["body"] = world.Body().name;
    report["dt"] = world.Dt();
    report["end_time"] = result.endTime;
    report["frames"] = result.frames;
    Json vessels = Json::array();
    for (const VesselSummary &v : result.vessels) {
        Json jv;
        jv["name"] = v.name;
        jv["class"] = v.className;
        jv["ground_contact"] = v.groundContact;
        if (v.touchdown.happened) {
            jv["touchdown"] = {{"time", v.touchdown.time},
                               {"vertical_speed", v.touchdown.verticalSpeed},
                               {"vertical_speed_frame_before", v.touchdown.verticalSpeedBefore},
                               {"horizontal_speed", v.touchdown.horizontalSpeed},
                               {"pitch_deg", v.touchdown.pitchDeg},
                               {"bank_deg", v.touchdown.bankDeg},
                               {"heading_deg", v.touchdown.headingDeg}};
        } else {
            jv["touchdown"] = nullptr;
        }
        jv["landed"] = v.landed;
        jv["landed_at"] = v.landedAt >= 0.0 ? Json(v.landedAt) : Json(nullptr);
        jv["propellant_kg"] = v.propellantKg;
        Json mechanisms = Json::object(), settings = Json::object();
        for (const auto &[key, values] : v.moduleValues) {
            if (values.size() == 2)
                mechanisms[key] = {{"status", static_cast<int>(values[0])}, {"state", values[1]}};
            else if (values.size() == 1 && key != "MANUAL")
                mechanisms[key] = {{"state", values[0]}};
            else if (values.size() == 1)
                settings[key] = values[0];
        }
        jv["mechanisms"] = mechanisms;
        jv["settings"] = settings;
        jv["final"] = {{"altitude", v.altitude},         {"vertical_speed", v.verticalSpeed},
                       {"horizontal_speed", v.horizontalSpeed}, {"pitch_deg", v.pitchDeg},
                       {"bank_deg", v.bankDeg},          {"heading_deg", v.headingDeg}};
        vessels.push_back(jv);
    }
    report["vessels"] = vessels;
    Json notes = Json::array();
    for (const AnnotationSummary &a : result.annotations) {
        Json ja;
        ja["text"] = a.text;
        ja["created_at"] = a.createdAt;
        ja["deleted_at"] = a.deleted ? Json(a.deletedAt) : Json(nullptr);
        notes.push_back(ja);
    }
    report["annotations"] = notes;
    report["warnings"] = result.warnings;
    return report.dump(2) + "\n";
}

void PrintHumanReport(std::ostream &out, const RunResult &result, const World &world) {
    char line[512];
    std::snprintf(line, sizeof line, "vtal-sim: %s (%s), %.2f s of simulation in %ld frames of %.4f s\n",
                  result.scenarioPath.c_str(), world.Body().name, result.endTime, result.frames, world.Dt());
    out << line;
    for (const VesselSummary &v : result.vessels) {
        double propellant = 0.0;
        for (double p : v.propellantKg) propellant += p;
        std::snprintf(line, sizeof line, "  %s (%s): altitude %.2f m, %s, propellant %.2f kg\n", v.name.c_str(),
                      v.className.c_str(), v.altitude,
                      v.landed ? "landed" : v.groundContact ? "on the ground" : "in flight", propellant);
        out << line;
        if (v.touchdown.happened) {
            std::snprintf(line, sizeof line,
                          "    touchdown at t = %.2f s: sink %.2f m/s, drift %.2f m/s, pitch %.1f deg, bank %.1f deg, "
                          "heading %.1f deg\n",
                          v.touchdown.time, -v.touchdown.verticalSpeed, v.touchdown.horizontalSpeed, v.touchdown.pitchDeg,
                          v.touchdown.bankDeg, v.touchdown.headingDeg);
            out << line;
            if (v.landedAt >= 0.0) {
                std::snprintf(line, sizeof line, "    landed (at rest on the ground) from t = %.2f s\n", v.landedAt);
                out << line;
            }
        } else {
            out << "    no touchdown\n";
        }
        if (!v.moduleValues.empty()) {
            out << "    module state:";
            for (const auto &[key, values] : v.moduleValues) {
                out << " " << key;
                for (double x : values) {
                    std::snprintf(line, sizeof line, " %g", Round(x, 1e-4));
                    out << line;
                }
                out << ";";
            }
            out << "\n";
        }
    }
    for (const AnnotationSummary &a : result.annotations) {
        if (a.deleted)
            std::snprintf(line, sizeof line, "  annotation \"%s\" shown from t = %.2f s to %.2f s\n", a.text.c_str(),
                          a.createdAt, a.deletedAt);
        else
            std::snprintf(line, sizeof line, "  annotation \"%s\" shown from t = %.2f s\n", a.text.c_str(), a.createdAt);
        out << line;
    }
    if (!result.vessels.empty()) {
        const VesselSummary &f = result.vessels.front();
        bool crashNotice = false;
        for (const AnnotationSummary &a : result.annotations) crashNotice |= a.text.find("Crash") != std::string::npos;
        const char *verdict = !f.touchdown.happened ? "still flying"
                              : crashNotice          ? "landed with a crash notice"
                              : IsSoftTouchdown(-f.touchdown.verticalSpeed, f.touchdown.horizontalSpeed,
                                                f.touchdown.pitchDeg, f.touchdown.bankDeg)
                                  ? "soft landing"
                                  : "hard landing";
        out << "  outcome (" << f.name << "): " << verdict << "\n";
    }
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

std::string DrawPlot(const std::string &telemetryPath, const std::vector<std::string> &columns,
                     const std::string &pngPath) {
    const auto column = [&](const std::string &name) {
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i] == name) return static_cast<int>(i) + 1;
        return 0;
    };
    const auto quoted = [](const std::string &s) {
        std::string out = "'";
        for (char c : s) out += (c == '\'') ? std::string("''") : std::string(1, c);
        return out + "'";
    };
    std::string script = "set terminal pngcairo noenhanced size 1200,1400 font ',10'\nset output " + quoted(pngPath) +
                         "\nset datafile separator ','\nset key outside right\nset grid\nset xlabel 'time (s)'\n"
                         "set multiplot layout 4,1\n";
    const std::string data = quoted(telemetryPath);
    script += "set ylabel 'altitude (m)'\nplot " + data + " every ::1 using 1:" + std::to_string(column("altitude")) +
              " with lines title 'altitude'\n";
    script += "set ylabel 'speed (m/s)'\nplot " + data + " every ::1 using 1:" +
              std::to_string(column("vertical_speed")) + " with lines title 'vertical', " + data + " every ::1 using 1:" +
              std::to_string(column("horizontal_speed")) + " with lines title 'horizontal'\n";
    std::string levels;
    for (const std::string &c : columns)
        if (c.rfind("engine", 0) == 0 || c == "yaw_left" || c == "yaw_right")
            levels += (levels.empty() ? "" : ", ") + data + " every ::1 using 1:" + std::to_string(column(c)) +
                      " with lines title '" + c + "'";
    script += "set ylabel 'level'\nset yrange [-0.05:1.05]\n";
    script += levels.empty() ? "plot 0 title 'no engines'\n" : "plot " + levels + "\n";
    script += "set yrange [*:*]\nset ylabel 'attitude (deg)'\nplot " + data + " every ::1 using 1:" +
              std::to_string(column("pitch_deg")) + " with lines title 'pitch', " + data + " every ::1 using 1:" +
              std::to_string(column("bank_deg")) + " with lines title 'bank'\nunset multiplot\n";

    return RunGnuplot(script, pngPath);
}

std::string RunGnuplot(const std::string &script, const std::string &pngPath) {
    char scriptPath[] = "/tmp/vtal-plot-XXXXXX";
    const int fd = mkstemp(scriptPath);
    if (fd < 0) return "cannot create a temporary file for the plot script";
    const bool written = write(fd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
    close(fd);
    if (!written) {
        unlink(scriptPath);
        return "cannot write the plot script";
    }
    pid_t pid = 0;
    char program[] = "gnuplot";
    char *argv[] = {program, scriptPath, nullptr};
    int status = 0;
    const int rc = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
    if (rc == 0) waitpid(pid, &status, 0);
    unlink(scriptPath);
    if (rc != 0) return "gnuplot could not be started (is it installed?)";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "gnuplot failed to draw " + pngPath;
    return "";
}

}  // namespace vtal::sim
