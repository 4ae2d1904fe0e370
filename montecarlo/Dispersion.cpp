#include "montecarlo/Dispersion.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "montecarlo/Random.h"
#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"

namespace vtal::montecarlo {

namespace {

const QuantityInfo kQuantities[kQuantityCount] = {
    {"altitude", "m", "start altitude, offset from the scenario's", 100000.0},
    {"sink_rate", "m/s", "downward speed, offset from the scenario's", 2000.0},
    {"horizontal_speed", "m/s", "speed of a horizontal velocity added to the scenario's", 2000.0},
    {"horizontal_direction", "deg", "direction of that velocity, from north towards east", 3600.0},
    {"pitch", "deg", "pitch, offset from the scenario's", 3600.0},
    {"bank", "deg", "bank, offset from the scenario's", 3600.0},
    {"heading", "deg", "heading, offset from the scenario's", 3600.0},
    {"pitch_rate", "deg/s", "rotation rate about the lander's lateral axis, offset", 360.0},
    {"yaw_rate", "deg/s", "rotation rate about the lander's vertical axis, offset", 360.0},
    {"bank_rate", "deg/s", "rotation rate about the lander's forward axis, offset", 360.0},
    {"propellant", "kg", "propellant in the main tank, offset from the scenario's", 100000.0},
};

std::string KnownNames() {
    std::string out;
    for (const QuantityInfo &q : kQuantities) out += std::string(out.empty() ? "" : ", ") + q.name;
    return out;
}

// Input quoted in a message, cut short if long.
std::string Quoted(const std::string &text) { return "\"" + sim::Short(text) + "\""; }

std::vector<std::string> SplitFields(const std::string &text, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!text.empty() && text.back() == separator) fields.push_back("");
    return fields;
}

// A whole field as a finite number, or an error that quotes it.
double ParseNumber(const std::string &field, const std::string &text) {
    const std::string where = "bad dispersion " + Quoted(text) + ": " + Quoted(field);
    const sim::NumberWord word = sim::ReadNumberWord(field);
    if (word.kind == sim::NumberKind::NotNumber) throw DispersionError(where + " is not a number");
    if (!word.Finite()) throw DispersionError(where + " must be a finite number");
    if (word.underflow) throw DispersionError(where + " is out of range");
    return word.value;
}

void CheckDistribution(const Distribution &d, const std::string &where) {
    if (!std::isfinite(d.first) || !std::isfinite(d.second))
        throw DispersionError(where + ": the numbers must be finite");
    if (d.kind == Distribution::Kind::Uniform && d.first > d.second)
        throw DispersionError(where + ": the lower bound " + sim::Plain(d.first) + " is above the upper bound " +
                              sim::Plain(d.second));
    if (d.kind == Distribution::Kind::Normal && d.second < 0.0)
        throw DispersionError(where + ": the standard deviation must not be negative");
}

// A speed is a magnitude: its bounds cannot be negative. No number may
// exceed the quantity's limit.
void CheckQuantityRange(Quantity q, const Distribution &d, const std::string &where) {
    const QuantityInfo &info = Info(q);
    for (const double x : {d.first, d.second})
        if (d.kind != Distribution::Kind::None && std::fabs(x) > info.limit)
            throw DispersionError(where + ": " + sim::Plain(x) + " is beyond the limit for " + info.name + ": from -" +
                                  sim::Plain(info.limit) + " to " + sim::Plain(info.limit) + " " + info.unit);
    if (q == Quantity::HorizontalSpeed && d.kind == Distribution::Kind::Uniform && d.first < 0.0)
        throw DispersionError(where + ": horizontal_speed is a speed, its bounds cannot be negative");
}

double NumberMember(const nlohmann::json &object, const char *key, const std::string &where,
                    bool required, double fallback) {
    const auto it = object.find(key);
    if (it == object.end()) {
        if (required) throw DispersionError(where + ": \"" + key + "\" is missing");
        return fallback;
    }
    if (!it->is_number()) throw DispersionError(where + ": \"" + key + "\" must be a number");
    return it->get<double>();
}

void CheckMembers(const nlohmann::json &object, const std::vector<std::string> &allowed,
                  const std::string &where) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const std::string &a : allowed) known = known || it.key() == a;
        if (!known) throw DispersionError(where + ": unknown field \"" + it.key() + "\"");
    }
}

Distribution DistributionFromJson(const nlohmann::json &entry, const std::string &where) {
    if (!entry.is_object()) throw DispersionError(where + ": expected an object with a \"distribution\"");
    const auto kind = entry.find("distribution");
    if (kind == entry.end() || !kind->is_string())
        throw DispersionError(where + ": \"distribution\" (\"uniform\", \"normal\" or \"none\") is missing");
    const std::string name = kind->get<std::string>();
    if (name == "none") {
        CheckMembers(entry, {"distribution"}, where);
        return Distribution::None();
    }
    if (name == "uniform") {
        CheckMembers(entry, {"distribution", "min", "max"}, where);
        return Distribution::Uniform(NumberMember(entry, "min", where, true, 0.0),
                                     NumberMember(entry, "max", where, true, 0.0));
    }
    if (name == "normal") {
        CheckMembers(entry, {"distribution", "mean", "sigma"}, where);
        return Distribution::Normal(NumberMember(entry, "mean", where, false, 0.0),
                                    NumberMember(entry, "sigma", where, true, 0.0));
    }
    throw DispersionError(where + ": unknown distribution \"" + name + "\" (uniform, normal or none)");
}

// A parser's message, cut if it quotes a long stretch of the input.
std::string Cut(const std::string &message) {
    const std::size_t kLongest = 200;
    return message.size() <= kLongest ? message : message.substr(0, kLongest) + "...";
}

// A parser callback that refuses an object naming a member twice (the JSON
// reader would otherwise keep the last one silently).
nlohmann::json::parser_callback_t RefuseDuplicateNames(const std::string &origin) {
    auto names = std::make_shared<std::vector<std::set<std::string>>>();
    return [names, origin](int, nlohmann::json::parse_event_t event, nlohmann::json &parsed) {
        using Event = nlohmann::json::parse_event_t;
        if (event == Event::object_start) names->emplace_back();
        if (event == Event::object_end && !names->empty()) names->pop_back();
        if (event == Event::key && !names->empty() && !names->back().insert(parsed.get<std::string>()).second)
            throw DispersionError(origin + ": " + Quoted(parsed.get<std::string>()) + " is given twice");
        return true;
    };
}

std::string Number(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

}  // namespace

const QuantityInfo &Info(Quantity q) { return kQuantities[static_cast<int>(q)]; }

DispersionSet NoDispersions() { return DispersionSet{}; }

DispersionSet DefaultDispersions() {
    DispersionSet set = NoDispersions();
    auto at = [&set](Quantity q) -> Distribution & { return set[static_cast<int>(q)]; };
    // Wide enough in sink rate and horizontal speed to find the edge of the
    // landing envelope; small rotation rates, since nothing damps them above
    // the 940 m where the descent begins.
    at(Quantity::Altitude) = Distribution::Uniform(-200.0, 200.0);
    at(Quantity::SinkRate) = Distribution::Uniform(-15.0, 40.0);
    at(Quantity::HorizontalSpeed) = Distribution::Uniform(0.0, 40.0);
    at(Quantity::HorizontalDirection) = Distribution::Uniform(0.0, 360.0);
    at(Quantity::Pitch) = Distribution::Normal(0.0, 2.0);
    at(Quantity::Bank) = Distribution::Normal(0.0, 2.0);
    at(Quantity::Heading) = Distribution::Uniform(-180.0, 180.0);
    at(Quantity::PitchRate) = Distribution::Normal(0.0, 0.2);
    at(Quantity::YawRate) = Distribution::Normal(0.0, 0.2);
    at(Quantity::BankRate) = Distribution::Normal(0.0, 0.2);
    at(Quantity::Propellant) = Distribution::Uniform(-50.0, 0.0);
    return set;
}

Quantity QuantityNamed(const std::string &name) {
    for (int i = 0; i < kQuantityCount; ++i)
        if (name == kQuantities[i].name) return QuantityAt(i);
    throw DispersionError("unknown quantity \"" + name + "\"; known quantities: " + KnownNames());
}

Distribution ParseDistribution(const std::string &text) {
    const std::vector<std::string> f = SplitFields(text, ':');
    const std::string where = "bad dispersion " + Quoted(text);
    Distribution d;
    if (f.size() == 1 && f[0] == "none") return Distribution::None();
    if (!f.empty() && f[0] == "uniform") {
        if (f.size() != 3) throw DispersionError(where + ": write uniform:LO:HI");
        d = Distribution::Uniform(ParseNumber(f[1], text), ParseNumber(f[2], text));
    } else if (!f.empty() && f[0] == "normal") {
        if (f.size() == 2)
            d = Distribution::Normal(0.0, ParseNumber(f[1], text));
        else if (f.size() == 3)
            d = Distribution::Normal(ParseNumber(f[1], text), ParseNumber(f[2], text));
        else
            throw DispersionError(where + ": write normal:SIGMA or normal:MEAN:SIGMA");
    } else {
        throw DispersionError(where + ": expected uniform:LO:HI, normal:SIGMA, normal:MEAN:SIGMA or none");
    }
    CheckDistribution(d, where);
    return d;
}

void ApplyDispersionArgument(DispersionSet &set, const std::string &argument) {
    const std::size_t eq = argument.find('=');
    if (eq == std::string::npos)
        throw DispersionError("bad dispersion " + Quoted(argument) + ": write NAME=DIST, e.g. altitude=uniform:-50:50");
    const Quantity q = QuantityNamed(argument.substr(0, eq));
    const Distribution d = ParseDistribution(argument.substr(eq + 1));
    CheckQuantityRange(q, d, "bad dispersion " + Quoted(argument));
    set[static_cast<int>(q)] = d;
}

void ApplyDispersionJson(DispersionSet &set, const std::string &text, const std::string &origin) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text, RefuseDuplicateNames(origin));
    } catch (const nlohmann::json::out_of_range &e) {
        throw DispersionError(origin + ": a number beyond the range of a double (" + Cut(e.what()) + ")");
    } catch (const nlohmann::json::exception &e) {
        throw DispersionError(origin + ": not valid JSON: " + Cut(e.what()));
    }
    if (!doc.is_object()) throw DispersionError(origin + ": expected an object of quantities");
    // Check everything before changing anything, so a bad file changes nothing.
    DispersionSet result = set;
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const std::string where = origin + ": \"" + it.key() + "\"";
        Quantity q;
        try {
            q = QuantityNamed(it.key());
        } catch (const DispersionError &e) {
            throw DispersionError(origin + ": " + e.what());
        }
        const Distribution d = DistributionFromJson(it.value(), where);
        CheckDistribution(d, where);
        CheckQuantityRange(q, d, where);
        result[static_cast<int>(q)] = d;
    }
    set = result;
}

void ApplyDispersionFile(DispersionSet &set, const std::string &path) {
    std::string text;
    try {
        text = sim::ReadInputFile(path, kMaxDispersionFileBytes);
    } catch (const sim::InputError &e) {
        throw DispersionError(std::string("dispersion file ") + e.what());
    }
    ApplyDispersionJson(set, text, path);
}

std::string Describe(const Distribution &d, Quantity q) {
    const std::string unit = Info(q).unit;
    switch (d.kind) {
    case Distribution::Kind::Uniform: return "uniform " + Number(d.first) + " .. " + Number(d.second) + " " + unit;
    case Distribution::Kind::Normal:
        return "normal mean " + Number(d.first) + " sigma " + Number(d.second) + " " + unit;
    case Distribution::Kind::None: break;
    }
    return "none";
}

Draw DrawStart(const DispersionSet &set, std::uint64_t runSeed) {
    Draw draw{};
    for (int i = 0; i < kQuantityCount; ++i) {
        const Distribution &d = set[i];
        Generator g = QuantityGenerator(runSeed, i);
        switch (d.kind) {
        case Distribution::Kind::None: draw[i] = 0.0; break;
        case Distribution::Kind::Uniform: draw[i] = g.uniform(d.first, d.second); break;
        case Distribution::Kind::Normal: draw[i] = d.first + d.second * g.normal(); break;
        }
    }
    return draw;
}

}  // namespace vtal::montecarlo
