#include "sim/files/Scenario.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <strings.h>

#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"

namespace vtal::sim {
namespace {

constexpr double kJulianDayOfMjdZero = 2400000.5;

bool Is(const std::string &line, const char *word) { return strcasecmp(line.c_str(), word) == 0; }

std::string FirstWord(const std::string &line) { return line.substr(0, line.find_first_of(" \t")); }

// "Name:Class" alone on a line, as a vessel block begins.
bool LooksLikeVesselHeader(const std::string &line) {
    const auto colon = line.find(':');
    return colon != std::string::npos && colon > 0 && colon + 1 < line.size() &&
           line.find_first_of(" \t") == std::string::npos;
}

// Why a class name cannot be looked up as a file name under Config/Vessels/,
// or empty if it can.
std::string ClassNameProblem(const std::string &name) {
    if (name.find_first_of("/\\") != std::string::npos)
        return "holds a path separator; a class is a file name under Config/Vessels/";
    if (name == "." || name == "..") return "is a folder name; a class is a file name under Config/Vessels/";
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return "holds a control character";
    return "";
}

std::string Rest(const std::string &line) {
    const auto sp = line.find_first_of(" \t");
    return sp == std::string::npos ? "" : Trim(line.substr(sp));
}

class Reader {
public:
    Reader(const std::string &text, const std::string &path) : path_(path) {
        std::istringstream in(text);
        std::string raw;
        while (std::getline(in, raw)) lines_.push_back(raw);
    }

    Scenario Read() {
        scn_.path = path_;
        while (next_ < lines_.size()) {
            const int number = static_cast<int>(next_) + 1;
            const std::string line = Trim(lines_[next_++]);
            if (line.empty() || line[0] == ';') continue;
            if (Is(line, "BEGIN_DESC")) {
                ReadDescription(number);
            } else if (Is(line, "BEGIN_ENVIRONMENT")) {
                ReadEnvironment(number);
            } else if (Is(line, "BEGIN_FOCUS")) {
                ReadFocus(number);
            } else if (Is(line, "BEGIN_SHIPS")) {
                ReadShips(number);
            } else if (line.size() > 6 && strncasecmp(line.c_str(), "BEGIN_", 6) == 0) {
                CarrySection(line, number);
            } else {
                if (!outsideWarned_)
                    scn_.warnings.push_back(At(path_, number, "text outside any section ignored (here and below)"));
                outsideWarned_ = true;
            }
        }
        if (scn_.vessels.empty() && scn_.carriedVessels.empty())
            throw InputError(At(path_, 0, "no vessels (no BEGIN_SHIPS section with a vessel block)"));
        ChooseBody();
        ChooseFocus();
        return std::move(scn_);
    }

private:
    // Lines up to the end marker; throws if the file ends first.
    std::vector<ScenarioLine> Until(const char *end, int beginLine, const std::string &what) {
        std::vector<ScenarioLine> out;
        while (next_ < lines_.size()) {
            const int number = static_cast<int>(next_) + 1;
            const std::string line = Trim(lines_[next_++]);
            if (Is(line, end)) return out;
            out.push_back({line, number});
        }
        throw InputError(At(path_, beginLine, Short(what) + " has no " + Short(end)));
    }

    void ReadDescription(int number) {
        // Description text is kept verbatim (untrimmed).
        const std::size_t first = next_;
        Until("END_DESC", number, "BEGIN_DESC");
        for (std::size_t i = first; i + 1 < next_; ++i) {
            std::string raw = lines_[i];
            if (!raw.empty() && raw.back() == '\r') raw.pop_back();
            scn_.description.push_back(raw);
        }
    }

    void ReadEnvironment(int number) {
        for (const ScenarioLine &l : Until("END_ENVIRONMENT", number, "BEGIN_ENVIRONMENT")) {
            if (l.text.empty() || l.text[0] == ';') continue;
            const std::string key = FirstWord(l.text);
            if (Is(key, "System")) {
                scn_.system = Rest(l.text);
            } else if (Is(key, "Date")) {
                ReadDate(l);
            } else {
                WarnOnce(scn_.warnings, path_ + ": environment line " + Quote(key) + " is not modelled; ignored");
            }
        }
    }

    void ReadDate(const ScenarioLine &l) {
        std::istringstream in(Rest(l.text));
        std::string kind, value;
        in >> kind >> value;
        const NumberWord word = ReadNumberWord(value);
        if (!word.FiniteInRange()) throw InputError(At(path_, l.number, "Date: " + Quote(value) + " is not a number"));
        const double date = word.value;
        if (Is(kind, "MJD")) {
            scn_.mjd = date;
        } else if (Is(kind, "JD")) {
            scn_.mjd = date - kJulianDayOfMjdZero;
        } else {
            WarnOnce(scn_.warnings, At(path_, l.number, "Date " + Quote(kind) + " is not modelled; the default date is used"));
            return;
        }
        if (!(scn_.mjd >= kEarliestMjd && scn_.mjd <= kLatestMjd))
            throw InputError(At(path_, l.number, "Date: " + Quote(kind + " " + value) + " is MJD " + Plain(scn_.mjd) +
                                                     ", outside the dates flown, MJD " + Plain(kEarliestMjd) +
                                                     " (1858 Nov 17) to MJD " + Plain(kLatestMjd) +
                                                     " (the year 4596): beyond them the time and the body's rotation "
                                                     "angle at that date cannot be held to a millisecond"));
    }

    void ReadFocus(int number) {
        for (const ScenarioLine &l : Until("END_FOCUS", number, "BEGIN_FOCUS")) {
            if (Is(FirstWord(l.text), "Ship")) scn_.focus = Rest(l.text);
        }
    }

    void CarrySection(const std::string &begin, int number) {
        // "BEGIN_MFD Left" ends with "END_MFD".
        const std::string kind = FirstWord(begin).substr(6);
        const std::string end = "END_" + kind;
        std::string raw = begin + "\n";
        for (const ScenarioLine &l : Until(end.c_str(), number, begin)) raw += "  " + l.text + "\n";
        raw += end + "\n";
        scn_.carriedSections.push_back(raw);
        WarnOnce(scn_.warnings, path_ + ": section " + Quote("BEGIN_" + kind) + " is not modelled; carried unchanged");
    }

    void ReadShips(int number) {
        while (true) {
            if (next_ >= lines_.size()) throw InputError(At(path_, number, "BEGIN_SHIPS has no END_SHIPS"));
            const int header = static_cast<int>(next_) + 1;
            const std::string line = Trim(lines_[next_++]);
            if (line.empty() || line[0] == ';') continue;
            if (Is(line, "END_SHIPS")) return;
            ReadVessel(line, header);
        }
    }

    void ReadVessel(const std::string &header, int number) {
        VesselBlock block;
        block.line = number;
        const auto colon = header.find(':');
        block.name = Trim(header.substr(0, colon));
        block.className = colon == std::string::npos ? block.name : Trim(header.substr(colon + 1));
        if (block.name.empty() || block.className.empty() || block.name.find_first_of(" \t") != std::string::npos)
            throw InputError(At(path_, number, Quote(header) + " is not a vessel header (name:class)"));
        const std::string classProblem = ClassNameProblem(block.className);
        if (!classProblem.empty())
            throw InputError(At(path_, number, "vessel class " + Quote(block.className) + " " + classProblem));
        for (const VesselBlock &other : scn_.vessels)
            if (other.name == block.name) throw InputError(At(path_, number, "a second vessel named '" + block.name + "'"));
        if (colon == std::string::npos)
            WarnOnce(scn_.warnings, path_ + ": vessel written without a class; its name is taken as its class");

        while (true) {
            if (next_ >= lines_.size())
                throw InputError(At(path_, number, "vessel block '" + block.name + "' has no END"));
            const int lineNo = static_cast<int>(next_) + 1;
            const std::string line = Trim(lines_[next_]);
            if (Is(line, "END_SHIPS"))
                throw InputError(At(path_, number, "vessel block '" + block.name + "' has no END"));
            ++next_;
            if (Is(line, "END")) break;
            if (line.empty()) continue;
            if (LooksLikeVesselHeader(line))
                throw InputError(At(path_, lineNo, Quote(line) + " looks like the next vessel's header, but vessel block '" +
                                                       block.name + "' (line " + std::to_string(number) +
                                                       ") has no END before it"));
            const LineResult r = ParseStandardLine(line, block.status);
            if (!r.error.empty()) throw InputError(At(path_, lineNo, r.error));
            if (r.kind == LineKind::Carried && r.key != "BASE")
                WarnOnce(scn_.warnings, path_ + ": vessel line " + Quote(r.key) + " is not modelled; carried unchanged");
            if (r.kind == LineKind::Standard) lineOf_[r.key] = lineNo;
            if (r.key == "FUEL" && (block.status.fuel < 0.0 || block.status.fuel > 1.0))
                WarnOnce(scn_.warnings, At(path_, lineNo, "FUEL outside 0..1 is clamped"));
            block.lines.push_back({line, lineNo});
        }
        if (block.status.kind == StandardStatus::Kind::Unset)
            throw InputError(At(path_, number, "vessel block '" + block.name + "' has no STATUS line"));
        CheckStateLimits(block);
        lineOf_.clear();
        scn_.vessels.push_back(std::move(block));
    }

    // A state the physics cannot carry is refused at its line.
    void CheckStateLimits(const VesselBlock &block) {
        const StandardStatus &st = block.status;
        const auto refuse = [&](const char *key, const std::string &problem) {
            const auto found = lineOf_.find(key);
            throw InputError(At(path_, found == lineOf_.end() ? block.line : found->second,
                                std::string(key) + ": " + problem + " (vessel '" + block.name + "')"));
        };
        const auto checkDistance = [&](const char *key, double distance) {
            if (distance < kMinCentreDistance)
                refuse(key, "the vessel would be " + Plain(distance) + " m from the centre of " + st.body +
                                "; at least " + Plain(kMinCentreDistance) + " m is accepted");
            if (distance > kMaxCentreDistance)
                refuse(key, "the vessel would be " + Plain(distance) + " m from the centre of " + st.body +
                                "; at most " + Plain(kMaxCentreDistance) + " m is accepted");
        };
        if (st.kind == StandardStatus::Kind::Flying) {
            if (st.hasRpos) checkDistance("RPOS", st.rpos.stableNorm());
            if (st.hasRvel && !(st.rvel.stableNorm() <= kMaxSpeed))
                refuse("RVEL", "a speed of " + Plain(st.rvel.stableNorm()) + " m/s; at most " + Plain(kMaxSpeed) +
                                   " m/s is accepted");
        }
        if (st.kind == StandardStatus::Kind::Landed && st.hasAlt) {
            if (const CentralBody *body = FindBody(st.body)) checkDistance("ALT", body->radius + st.alt);
        }
        if (st.hasVrot && !(st.vrotDegPerSecond.cwiseAbs().maxCoeff() <= kMaxBodyRate))
            refuse("VROT", "a rate of " + Plain(st.vrotDegPerSecond.cwiseAbs().maxCoeff()) + " deg/s about an axis; at most " +
                               Plain(kMaxBodyRate) + " deg/s is accepted");
    }

    static std::string RawBlock(const VesselBlock &b) {
        std::string raw = b.name + ":" + b.className + "\n";
        for (const ScenarioLine &l : b.lines) raw += "  " + l.text + "\n";
        return raw + "END\n";
    }

    void LeaveOut(std::size_t i, const std::string &why) {
        const VesselBlock &b = scn_.vessels[i];
        scn_.warnings.push_back(At(path_, b.line, "vessel '" + b.name + "' " + why + "; left out and carried unchanged"));
        scn_.carriedVessels.push_back(RawBlock(b));
        scn_.vessels.erase(scn_.vessels.begin() + static_cast<long>(i));
    }

    // The central body: the focus vessel's, else the first vessel's that the host models.
    void ChooseBody() {
        for (const VesselBlock &b : scn_.vessels)
            if (b.name == scn_.focus && FindBody(b.status.body)) scn_.body = FindBody(b.status.body);
        for (const VesselBlock &b : scn_.vessels)
            if (!scn_.body && FindBody(b.status.body)) scn_.body = FindBody(b.status.body);
        if (!scn_.body) throw InputError(At(path_, 0, "no vessel about a body this host models (Moon or Mars)"));
        for (std::size_t i = scn_.vessels.size(); i-- > 0;) {
            const StandardStatus &st = scn_.vessels[i].status;
            if (!FindBody(st.body) || FindBody(st.body) != scn_.body)
                LeaveOut(i, "is about " + st.body + ", not " + scn_.body->name);
            else if (st.kind == StandardStatus::Kind::Flying && !st.hasRpos)
                LeaveOut(i, "is in free flight without RPOS");
        }
        if (scn_.vessels.empty()) throw InputError(At(path_, 0, "no vessel that this host can place"));
    }

    void ChooseFocus() {
        for (const VesselBlock &b : scn_.vessels)
            if (b.name == scn_.focus) return;
        if (!scn_.focus.empty())
            scn_.warnings.push_back(path_ + ": focus vessel '" + scn_.focus + "' not found; the first vessel has the focus");
        scn_.focus = scn_.vessels.front().name;
    }

    std::string path_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    bool outsideWarned_ = false;
    std::map<std::string, int> lineOf_;  // line of each standard key in the vessel block being read
    Scenario scn_;
};

}  // namespace

void WarnOnce(std::vector<std::string> &warnings, const std::string &message) {
    if (std::find(warnings.begin(), warnings.end(), message) == warnings.end()) warnings.push_back(message);
}

std::string FirstDescriptionLine(const std::string &text) {
    std::string body = text;
    RemoveByteOrderMark(body);
    std::istringstream in(body);
    std::string raw;
    bool inDescription = false;
    while (std::getline(in, raw)) {
        const std::string line = Trim(raw);
        if (!inDescription) {
            inDescription = Is(line, "BEGIN_DESC");
            continue;
        }
        if (Is(line, "END_DESC")) return "";
        if (!line.empty()) return line;
    }
    return "";
}

Scenario ParseScenarioText(const std::string &text, const std::string &path) {
    // A mark written by an editor would hide the first line (BEGIN_DESC,
    // BEGIN_SHIPS) from the reader.
    std::string body = text;
    if (!RemoveByteOrderMark(body)) return Reader(body, path).Read();
    Scenario scenario = Reader(body, path).Read();
    scenario.warnings.insert(scenario.warnings.begin(), ByteOrderMarkWarning(path));
    return scenario;
}

Scenario ReadScenarioFile(const std::string &path) { return ParseScenarioText(ReadInputFile(path), path); }

}  // namespace vtal::sim
