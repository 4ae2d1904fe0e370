#include <algorithm>
#include "sim/run/Outputs.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "sim/vessel/Actuation.h"
#include "sim/vessel/FlightState.h"
#include "sim/run/LandingOutcome.h"
#include "sim/base/InputError.h"

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

// A report of more vessels than this gives the focus vessel's account and a
// summary of the others.
constexpr std::size_t kReportVesselsInFull = 30;
// The module's values in the report's "module state" line, after rounding to 1e-4.
constexpr int kModuleValueDigits = 6;

// A mechanism status as a whole number when it is one that an int holds.
Json StatusNumber(double status) {
    if (std::isfinite(status) && std::fabs(status) <= static_cast<double>(INT_MAX) && status == std::floor(status))
        return static_cast<int>(status);
    return status;
}

// Every number in the report must be finite: JSON has no non-numbers, and a
// reader would get null where a value belongs.
void CheckNumbers(const Json &node, const std::string &where) {
    if (node.is_number_float() && !std::isfinite(node.get<double>()))
        throw std::runtime_error("the report would hold a non-number at " + where + "; it is not written");
    if (node.is_object())
        for (auto it = node.begin(); it != node.end(); ++it) CheckNumbers(it.value(), where + "/" + it.key());
    if (node.is_array())
        for (std::size_t i = 0; i < node.size(); ++i) CheckNumbers(node[i], where + "/" + std::to_string(i));
}

// Length of the UTF-8 sequence starting at s[i], or 0 if none starts there.
std::size_t Utf8SequenceAt(const std::string &s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c == 0xE0) n = 3, lo = 0xA0;
    else if (c == 0xED) n = 3, hi = 0x9F;  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF) n = 3;
    else if (c == 0xF0) n = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) n = 4;
    else if (c == 0xF4) n = 4, hi = 0x8F;
    else return 0;
    if (i + n > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return n;
}

}  // namespace

std::string TextAsUtf8(const std::string &text) {
    bool valid = true;
    for (std::size_t i = 0; i < text.size() && valid;) {
        const std::size_t n = Utf8SequenceAt(text, i);
        valid = n > 0;
        i += n;
    }
    if (valid) return text;
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

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

TelemetryWriter::TelemetryWriter(const std::string &path, World &world)
    : file_(std::make_unique<AtomicFile>(path)), timeDecimals_(DecimalsForStep(world.Dt(), kTimeDecimals)) {
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
    std::string header;
    for (std::size_t i = 0; i < columns_.size(); ++i) header += (i ? "," : "") + columns_[i];
    file_->Write(header + "\n");
}

void TelemetryWriter::Row(World &world) {
    Vessel &v = *world.Focus();
    const CentralBody &body = world.Body();
    const ThrusterGroup *left = v.Group(THGROUP_ATT_YAWLEFT), *right = v.Group(THGROUP_ATT_YAWRIGHT);
    const Instruments in = InstrumentsOf(v, body);
    const double flight[] = {world.SimTime(), in.altitude, in.verticalSpeed,  in.horizontalSpeed, in.pitchDeg,
                             in.bankDeg,      in.headingDeg, GroupLevel(left), GroupLevel(right), v.PropellantMass()};
    const auto checked = [&](double x, const char *what) {
        if (!std::isfinite(x))
            throw std::runtime_error("telemetry at t = " + Plain(world.SimTime()) + " s: " + what + " of vessel '" +
                                     v.name + "' is not a number; the telemetry is not written");
        return x;
    };
    for (double x : flight) checked(x, "the flight state");
    std::FILE *f = file_->Stream();
    std::fprintf(f, "%.*f,%.6f,%.6f,%.6f,%.5f,%.5f,%.5f", timeDecimals_, flight[0], flight[1], flight[2], flight[3],
                 flight[4], flight[5], flight[6]);
    for (const Thruster *t : engines_) std::fprintf(f, ",%.6f", checked(t->effective, "an engine level"));
    std::fprintf(f, ",%.6f,%.6f,%s,%.6f,%d,%d", flight[7], flight[8], NavmodeText(v.actuators.navmodes).c_str(), flight[9],
                 v.contact.groundContact ? 1 : 0, v.Landed() ? 1 : 0);
    if (!moduleColumns_.empty()) {
        world.ModuleLines(v, moduleText_);
        const auto values = ParseModuleValues(moduleText_);
        for (const auto &[key, count] : moduleColumns_) {
            const std::vector<double> *found = nullptr;
            for (const auto &entry : values)
                if (entry.first == key) found = &entry.second;
            for (int i = 0; i < count; ++i) {
                if (found && static_cast<std::size_t>(i) < found->size())
                    std::fprintf(f, ",%.6g", checked((*found)[static_cast<std::size_t>(i)], "a module value"));
                else
                    std::fputs(",", f);
            }
        }
    }
    std::fputc('\n', f);
    file_->CheckStream();
}

std::string ReportJson(const RunResult &result, const World &world) {
    Json report;
    report["scenario"] = TextAsUtf8(result.scenarioPath);
    report["body"] = world.Body().name;
    report["dt"] = world.Dt();
    report["end_time"] = result.endTime;
    report["frames"] = result.frames;
    const double crashNotice = CrashNoticeAt(result);
    report["crash_notice_at"] = crashNotice >= 0.0 ? Json(crashNotice) : Json(nullptr);
    Json vessels = Json::array();
    for (const VesselSummary &v : result.vessels) {
        Json jv;
        jv["name"] = TextAsUtf8(v.name);
        jv["class"] = TextAsUtf8(v.className);
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
        jv["ended"] = Ending(v);
        jv["propellant_kg"] = v.propellantKg;
        Json mechanisms = Json::object(), settings = Json::object();
        for (const auto &[key, values] : v.moduleValues) {
            if (values.size() == 2)
                mechanisms[key] = {{"status", StatusNumber(values[0])}, {"state", values[1]}};
            else if (values.size() == 1 && key != "MANUAL")
                mechanisms[key] = {{"state", values[0]}};
            else if (values.size() == 1)
                settings[key] = values[0];
        }
        jv["mechanisms"] = mechanisms;
        jv["settings"] = settings;
        jv["final"] = {{"altitude", v.altitude},         {"vertical_speed", v.verticalSpeed},
                       {"horizontal_speed", v.horizontalSpeed}, {"pitch_deg", v.pitchDeg},
                       {"bank_deg", v.bankDeg},          {"heading_deg", v.headingDeg},
                       {"tilt_deg", v.tiltDeg}};
        vessels.push_back(jv);
    }
    report["vessels"] = vessels;
    Json notes = Json::array();
    for (const AnnotationSummary &a : result.annotations) {
        Json ja;
        ja["text"] = TextAsUtf8(a.text);
        ja["created_at"] = a.createdAt;
        ja["deleted_at"] = a.deleted ? Json(a.deletedAt) : Json(nullptr);
        notes.push_back(ja);
    }
    report["annotations"] = notes;
    Json warnings = Json::array();
    for (const std::string &w : result.warnings) warnings.push_back(TextAsUtf8(w));
    report["warnings"] = warnings;
    CheckNumbers(report, "");
    return report.dump(2) + "\n";
}

namespace {

// One vessel's account: its state at the end, its touchdown, how it ended
// on the ground and its module's values.
void PrintVesselAccount(std::ostream &out, const VesselSummary &v, double crashNotice) {
    // Fixed decimals with the sign of a value that rounds to zero dropped: a
    // sink of -0.000001 m/s reads "sink 0.00 m/s", not "-0.00".
    double propellant = 0.0;
    for (double p : v.propellantKg) propellant += p;
    out << "  " << v.name << " (" << v.className << "): altitude " << Fixed(v.altitude, 2) << " m, "
        << (v.landed ? "landed" : v.groundContact ? "on the ground" : "in flight") << ", propellant "
        << Fixed(propellant, 2) << " kg\n";
    if (v.touchdown.happened) {
        const Touchdown &t = v.touchdown;
        out << "    touchdown at t = " << Fixed(t.time, 2) << " s: sink " << Fixed(-t.verticalSpeed, 2) << " m/s, drift "
            << Fixed(t.horizontalSpeed, 2) << " m/s, pitch " << Fixed(t.pitchDeg, 1) << " deg, bank "
            << Fixed(t.bankDeg, 1) << " deg, heading " << Fixed(t.headingDeg, 1) << " deg\n";
        if (v.landedAt >= 0.0) out << "    landed (at rest on the ground) from t = " << Fixed(v.landedAt, 2) << " s\n";
        // Nothing stops a crash but the contact law: how the vessel ended.
        if (crashNotice >= 0.0 && v.lander)
            out << "    crash notice at t = " << Fixed(crashNotice, 2) << " s; ended " << Ending(v) << ", " << Posture(v)
                << " (tilt " << Fixed(v.tiltDeg, 1) << " deg)\n";
    } else {
        out << "    no touchdown\n";
    }
    if (!v.moduleValues.empty()) {
        out << "    module state:";
        for (const auto &[key, values] : v.moduleValues) {
            out << " " << key;
            for (double x : values) out << " " << Plain(Round(x, 1e-4), kModuleValueDigits);
            out << ";";
        }
        out << "\n";
    }
}

// What the vessels other than the focus came to, counted: a run of
// thousands reads in a few lines (the JSON report keeps each vessel).
void PrintOthersSummary(std::ostream &out, const RunResult &result) {
    std::size_t count = 0, inFlight = 0, landed = 0, onGround = 0, touchedDown = 0, soft = 0;
    double altLow = 0.0, altHigh = 0.0, propLow = 0.0, propHigh = 0.0;
    for (std::size_t i = 0; i < result.vessels.size(); ++i) {
        if (i == result.focus) continue;
        const VesselSummary &v = result.vessels[i];
        double propellant = 0.0;
        for (double p : v.propellantKg) propellant += p;
        altLow = count ? std::min(altLow, v.altitude) : v.altitude;
        altHigh = count ? std::max(altHigh, v.altitude) : v.altitude;
        propLow = count ? std::min(propLow, propellant) : propellant;
        propHigh = count ? std::max(propHigh, propellant) : propellant;
        ++count;
        if (v.landed) {
            ++landed;
        } else if (v.groundContact) {
            ++onGround;
        } else {
            ++inFlight;
        }
        if (v.touchdown.happened) {
            ++touchedDown;
            soft += IsSoftTouchdown(-v.touchdown.verticalSpeed, v.touchdown.horizontalSpeed, v.touchdown.pitchDeg,
                                    v.touchdown.bankDeg);
        }
    }
    char line[512];
    std::snprintf(line, sizeof line, "  %zu other vessels (each in the JSON report, --report):\n", count);
    out << line;
    std::snprintf(line, sizeof line,
                  "    in flight %zu, landed %zu, on the ground %zu; touched down %zu, of them %zu "
                  "within the soft-landing limits\n",
                  inFlight, landed, onGround, touchedDown, soft);
    out << line;
    out << "    altitude " << Fixed(altLow, 2) << " to " << Fixed(altHigh, 2) << " m, propellant " << Fixed(propLow, 2)
        << " to " << Fixed(propHigh, 2) << " kg\n";
}

}  // namespace

void PrintHumanReport(std::ostream &out, const RunResult &result, const World &world) {
    // A step finer than the frame length's decimals show (below 0.0001 s) gets
    // as many as it needs, and the run's length the same.
    const int stepDecimals = DecimalsForStep(world.Dt(), kFrameLengthDecimals);
    const int endDecimals = stepDecimals > kFrameLengthDecimals ? stepDecimals : kEndTimeDecimals;
    char line[512];
    std::snprintf(line, sizeof line, "vtal-sim: %s (%s), %.*f s of simulation in %ld frames of %.*f s\n",
                  result.scenarioPath.c_str(), world.Body().name, endDecimals, result.endTime, result.frames,
                  stepDecimals, world.Dt());
    out << line;
    const bool inFull = result.vessels.size() <= kReportVesselsInFull;
    for (std::size_t i = 0; i < result.vessels.size(); ++i)
        if (inFull || i == result.focus) PrintVesselAccount(out, result.vessels[i], CrashNoticeAt(result));
    if (!inFull) PrintOthersSummary(out, result);
    for (const AnnotationSummary &a : result.annotations) {
        if (a.deleted)
            std::snprintf(line, sizeof line, "  annotation \"%s\" shown from t = %.2f s to %.2f s\n", a.text.c_str(),
                          a.createdAt, a.deletedAt);
        else
            std::snprintf(line, sizeof line, "  annotation \"%s\" shown from t = %.2f s\n", a.text.c_str(), a.createdAt);
        out << line;
    }
    // The focus vessel's outcome first, then every other lander's.
    std::size_t focus = result.vessels.size();
    for (std::size_t i = 0; i < result.vessels.size() && focus == result.vessels.size(); ++i)
        if (result.vessels[i].name == result.focusName) focus = i;
    const auto outcomeLine = [&](const VesselSummary &v) {
        out << "  outcome (" << v.name << "): " << Verdict(Classify(ObservationOf(result, v))) << "\n";
    };
    if (focus < result.vessels.size()) outcomeLine(result.vessels[focus]);
    if (result.vessels.size() <= kReportVesselsInFull) {
        for (std::size_t i = 0; i < result.vessels.size(); ++i)
            if (i != focus && result.vessels[i].lander) outcomeLine(result.vessels[i]);
        return;
    }
    // Beyond a report in full, the other landers' verdicts are counted.
    std::vector<std::pair<std::string, std::size_t>> verdicts;
    std::size_t others = 0;
    for (std::size_t i = 0; i < result.vessels.size(); ++i) {
        if (i == focus || !result.vessels[i].lander) continue;
        ++others;
        const std::string verdict = Verdict(Classify(ObservationOf(result, result.vessels[i])));
        auto found = std::find_if(verdicts.begin(), verdicts.end(), [&](const auto &p) { return p.first == verdict; });
        if (found == verdicts.end())
            verdicts.emplace_back(verdict, 1);
        else
            ++found->second;
    }
    if (others == 0) return;
    out << "  outcomes of the other " << others << " landers:";
    for (std::size_t i = 0; i < verdicts.size(); ++i)
        out << (i ? ", " : " ") << verdicts[i].first << " " << verdicts[i].second;
    out << "\n";
}

std::string OutcomeText(const RunResult &result) {
    if (result.focus >= result.vessels.size()) return "";
    const VesselSummary &f = result.vessels[result.focus];
    return "outcome (" + f.name + "): " + Verdict(Classify(ObservationOf(result, f)));
}

}  // namespace vtal::sim
