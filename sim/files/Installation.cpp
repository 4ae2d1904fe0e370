#include "sim/files/Installation.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/ModuleFile.h"
#include "sim/files/Scenario.h"

namespace fs = std::filesystem;

namespace vtal::sim {

const char *const kDefaultScenarioName = "Lander/Descent.scn";

namespace {

// A file name under a folder, matched without regard to case as the host's
// file system does; empty if absent.
std::string FindNoCase(const fs::path &folder, const std::string &relative) {
    fs::path current = folder;
    fs::path rel(relative);
    std::error_code ec;
    for (const fs::path &part : rel) {
        fs::path exact = current / part;
        if (fs::exists(exact, ec)) {
            current = exact;
            continue;
        }
        bool found = false;
        if (fs::is_directory(current, ec)) {
            for (const auto &entry : fs::directory_iterator(current, ec)) {
                if (strcasecmp(entry.path().filename().c_str(), part.c_str()) == 0) {
                    current = entry.path();
                    found = true;
                    break;
                }
            }
        }
        if (!found) return "";
    }
    return current.string();
}

// A class or module name is a file name in its folder, never a path: no
// scenario or configuration reaches a file outside the installation.
bool IsPlainFileName(const std::string &name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

// The Module entry of a configuration: a file name under Modules/.
std::string ModuleName(const std::string &value, const std::string &file, int line) {
    if (!IsPlainFileName(value))
        throw InputError(At(file, line, "Module " + Quote(value) +
                                            " is a path or empty; a module is a file name under the installation's Modules/"));
    return value;
}

// Lower-case ASCII letters and digits of a text, nothing else.
std::string Letters(const std::string &text) {
    std::string out;
    for (const char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80)
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Whether two texts are one edit apart: a letter inserted, dropped or
// changed, or two neighbours swapped.
bool OneEditApart(const std::string &a, const std::string &b) {
    if (a == b) return false;
    const std::string &shorter = a.size() <= b.size() ? a : b, &longer = a.size() <= b.size() ? b : a;
    if (longer.size() - shorter.size() > 1) return false;
    std::size_t i = 0;
    while (i < shorter.size() && shorter[i] == longer[i]) ++i;
    if (shorter.size() < longer.size()) return shorter.compare(i, std::string::npos, longer, i + 1, std::string::npos) == 0;
    if (shorter.compare(i + 1, std::string::npos, longer, i + 1, std::string::npos) == 0) return true;  // changed
    return i + 1 < shorter.size() && shorter[i] == longer[i + 1] && shorter[i + 1] == longer[i] &&
           shorter.compare(i + 2, std::string::npos, longer, i + 2, std::string::npos) == 0;  // swapped
}

std::string Lower(const std::string &text) {
    std::string out = text;
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

constexpr const char *kScenarioSuffix = ".scn";

bool HasScenarioSuffix(const std::string &name) {
    const std::size_t n = std::strlen(kScenarioSuffix);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, kScenarioSuffix) == 0;
}

std::string WithoutScenarioSuffix(const std::string &name) {
    return HasScenarioSuffix(name) ? name.substr(0, name.size() - std::strlen(kScenarioSuffix)) : name;
}

std::string LastPart(const std::string &name) {
    const auto slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Letters inserted, dropped or changed and neighbours swapped to turn one
// text into the other (optimal string alignment); `limit` + 1 once it is
// certainly more than `limit`.
std::size_t EditDistance(const std::string &a, const std::string &b, std::size_t limit) {
    const std::size_t n = a.size(), m = b.size();
    if ((n > m ? n - m : m - n) > limit) return limit + 1;
    std::vector<std::size_t> before(m + 1), previous(m + 1), current(m + 1);
    for (std::size_t j = 0; j <= m; ++j) previous[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t changed = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, changed});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        before.swap(previous);
        previous.swap(current);
    }
    return std::min(previous[m], limit + 1);
}

// How far a name may be from what was asked for and still be offered: a
// third of its letters, at least one and at most three.
std::size_t CloseEnough(const std::string &wanted) { return std::clamp<std::size_t>(wanted.size() / 3, 1, 3); }

std::string ReadProblem(const std::error_code &ec) {
    std::string why = ec.message();
    if (!why.empty()) why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    return "cannot be read (" + why + ")";
}

// The scenario files of a folder and its sub-folders into `out`, named by
// `prefix` and their path below it; each folder once, however it is linked.
void CollectScenarios(const fs::path &folder, const std::string &prefix, std::set<std::string> &visited,
                      std::vector<InstalledScenario> &out) {
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    if (!ec && !visited.insert(real.string()).second) return;
    fs::directory_iterator entries(folder, ec);
    if (ec) {
        out.push_back({prefix.empty() ? "Scenarios/" : prefix, folder.string(), "", ReadProblem(ec)});
        return;
    }
    for (; entries != fs::directory_iterator(); entries.increment(ec)) {
        const fs::path path = entries->path();
        const std::string name = path.filename().string();
        std::error_code statusError;
        if (fs::is_directory(path, statusError)) {
            CollectScenarios(path, prefix + name + "/", visited, out);
        } else if (HasScenarioSuffix(name)) {
            out.push_back({prefix + WithoutScenarioSuffix(name), path.string(), "", ""});
        }
    }
    if (ec) out.push_back({prefix.empty() ? "Scenarios/" : prefix, folder.string(), "", ReadProblem(ec)});
}

// A path in a message, whole unless it is absurdly long.
std::string ShownPath(const std::string &path) {
    constexpr std::size_t kLongestPath = 300;  // characters
    if (path.size() <= kLongestPath) return path;
    return path.substr(0, kLongestPath) + "... (" + std::to_string(path.size()) + " characters)";
}

double ConfigNumber(const std::string &value, const std::string &file, int line, const std::string &key) {
    const NumberWord word = ReadNumberWord(value, true);
    const double v = word.value;
    if (!word.Finite() || v < 0.0)
        throw InputError(At(file, line, key + ": " + Quote(value) + " is not a non-negative number"));
    return v;
}

}  // namespace

Installation::Installation(const std::string &root) : root_(root) {
    std::error_code ec;
    if (!fs::is_directory(fs::path(root) / "Config" / "Vessels", ec))
        throw InputError(At(root, 0, "not an installation (no Config/Vessels folder)"));
}

VesselClass Installation::FindClass(const std::string &className) const {
    if (!remembers_) return ReadClass(className);
    const auto known = classes_.find(className);
    if (known != classes_.end()) return known->second;
    return classes_.emplace(className, ReadClass(className)).first->second;
}

std::string Installation::ModulePath(const std::string &module) const {
    if (!remembers_) return FindModule(module);
    const auto known = modules_.find(module);
    if (known != modules_.end()) return known->second;
    return modules_.emplace(module, FindModule(module)).first->second;
}

VesselClass Installation::ReadClass(const std::string &className) const {
    VesselClass vc;
    vc.className = className;
    if (!IsPlainFileName(className))
        throw InputError(At(root_, 0, "vessel class " + Quote(className) +
                                          " is a path; a class is a file name under Config/Vessels/"));
    const std::string path = FindNoCase(fs::path(root_) / "Config" / "Vessels", className + ".cfg");
    if (path.empty()) {
        vc.known = false;
        vc.size = kDefaultPassiveSize;
        vc.emptyMass = kDefaultPassiveEmptyMass;
        vc.fuelMass = kDefaultPassiveFuelMass;
        return vc;
    }
    vc.configPath = path;
    std::string text = ReadInputFile(path);
    if (RemoveByteOrderMark(text)) vc.warnings.push_back(ByteOrderMarkWarning(path));
    std::istringstream in(text);
    std::string raw, almostModule;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        std::string line = Trim(raw.substr(0, raw.find(';')));
        if (line.empty()) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) throw InputError(At(path, number, "expected 'Key = Value'"));
        const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        if (almostModule.empty() && AlmostKey(key, "Module"))
            almostModule = At(path, number, Quote(key) + " is not the key Module");
        if (strcasecmp(key.c_str(), "ClassName") == 0) vc.className = value;
        else if (strcasecmp(key.c_str(), "Module") == 0) vc.module = ModuleName(value, path, number);
        else if (strcasecmp(key.c_str(), "Size") == 0) vc.size = ConfigNumber(value, path, number, key);
        else if (strcasecmp(key.c_str(), "EmptyMass") == 0) vc.emptyMass = ConfigNumber(value, path, number, key);
        else if (strcasecmp(key.c_str(), "FuelMass") == 0) vc.fuelMass = ConfigNumber(value, path, number, key);
        // Other keys of the real host's configuration are not modelled.
    }
    if (vc.module.empty() && !almostModule.empty())
        vc.warnings.push_back(almostModule + ", and no line names a module: vessels of class " + Quote(className) +
                              " fly as passive vessels of " + Plain(vc.emptyMass) + " kg");
    return vc;
}

bool AlmostKey(const std::string &written, const std::string &key) {
    if (strcasecmp(written.c_str(), key.c_str()) == 0) return false;
    const std::string letters = Letters(written), wanted = Letters(key);
    return letters == wanted || OneEditApart(letters, wanted);
}

std::string Installation::FindModule(const std::string &module) const {
    if (!IsPlainFileName(module))
        throw InputError(At(root_, 0, "module " + Quote(module) + " is a path; a module is a file name under Modules/"));
    std::string name = module;
    for (const char *suffix : {".dll", ".so"}) {
        const std::size_t n = std::strlen(suffix);
        if (name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0) name.resize(name.size() - n);
    }
    const std::string path = FindNoCase(fs::path(root_) / "Modules", name + ".so");
    if (path.empty())
        throw InputError(At(root_, 0, "module " + Quote(module) + " not found (looked for Modules/" + name + ".so)"));
    CheckModuleFile(path);
    return path;
}

std::vector<std::string> SimilarNames(const std::string &wanted, const std::vector<std::string> &names,
                                      std::size_t most) {
    const std::string whole = Lower(WithoutScenarioSuffix(wanted)), last = LastPart(whole);
    const std::size_t wholeLimit = CloseEnough(whole), lastLimit = CloseEnough(last);
    // Names close as a whole come first; only without any, names whose last
    // part is close to the last part asked for (the folder left out or wrong).
    std::vector<std::pair<std::size_t, std::string>> closeWhole, closeLast;
    for (const std::string &name : names) {
        const std::string lower = Lower(name);
        const std::size_t distance = EditDistance(whole, lower, wholeLimit);
        if (distance <= wholeLimit) {
            closeWhole.emplace_back(distance, name);
            continue;
        }
        const std::size_t lastDistance = EditDistance(last, LastPart(lower), lastLimit);
        if (lastDistance <= lastLimit) closeLast.emplace_back(lastDistance, name);
    }
    std::vector<std::pair<std::size_t, std::string>> &close = closeWhole.empty() ? closeLast : closeWhole;
    std::sort(close.begin(), close.end());
    std::vector<std::string> out;
    for (std::size_t i = 0; i < close.size() && out.size() < most; ++i) out.push_back(close[i].second);
    return out;
}

std::vector<InstalledScenario> Installation::ScenarioNames() const {
    std::vector<InstalledScenario> out;
    std::set<std::string> visited;
    std::error_code ec;
    const fs::path folder = fs::path(root_) / "Scenarios";
    if (!fs::exists(folder, ec)) return out;
    CollectScenarios(folder, "", visited, out);
    std::sort(out.begin(), out.end(), [](const InstalledScenario &a, const InstalledScenario &b) {
        const std::string la = Lower(a.name), lb = Lower(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    return out;
}

std::vector<InstalledScenario> Installation::ListScenarios() const {
    std::vector<InstalledScenario> out = ScenarioNames();
    for (InstalledScenario &s : out) {
        if (!s.problem.empty()) continue;
        try {
            s.description = FirstDescriptionLine(ReadInputFile(s.path));
        } catch (const InputError &e) {
            // "PATH: why": the listing names the scenario already.
            const std::string what = e.what(), lead = s.path + ": ";
            s.problem = what.compare(0, lead.size(), lead) == 0 ? what.substr(lead.size()) : what;
        }
    }
    return out;
}

std::string Installation::ScenarioPath(const std::string &argument) const {
    std::error_code ec;
    const fs::file_status given = fs::status(argument, ec);
    // Something there, or a path that cannot be looked at: reading it says what.
    if (fs::exists(given) || (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory))
        return argument;
    const fs::path scenarios = fs::path(root_) / "Scenarios";
    std::vector<std::string> lookedIn{argument}, found;
    for (const std::string &candidate : {argument, argument + kScenarioSuffix}) {
        const std::string place = (scenarios / candidate).string();
        if (std::find(lookedIn.begin(), lookedIn.end(), place) == lookedIn.end()) lookedIn.push_back(place);
        const std::string match = FindNoCase(scenarios, candidate);
        if (match.empty()) continue;
        if (fs::is_regular_file(match, ec)) return match;
        found.push_back(match);
    }
    for (const std::string &match : found)
        if (!fs::is_directory(match, ec)) return match;  // a FIFO, a device: reading says which
    if (!found.empty()) throw InputError(At(found.front(), 0, FolderProblem(found.front())));
    std::string message = "scenario " + Quote(argument) + " not found. Looked for:";
    for (std::size_t i = 0; i < lookedIn.size(); ++i)
        message += "\n  " + ShownPath(lookedIn[i]) + (i == 0 ? " (as given)" : " (letter case ignored)");
    std::vector<std::string> names;
    for (const InstalledScenario &s : ScenarioNames())
        if (s.problem.empty()) names.push_back(s.name);
    const std::vector<std::string> similar = SimilarNames(argument, names);
    for (std::size_t i = 0; i < similar.size(); ++i)
        message += (i == 0 ? "\nInstalled scenarios of a similar name: " : ", ") + similar[i];
    throw InputError(message + "\nvtal-sim --list lists the installed scenarios.");
}

std::string Installation::FolderProblem(const std::string &folder) const {
    constexpr std::size_t kMostNamed = 10;
    const fs::path relative = fs::path(folder).lexically_relative(fs::path(root_) / "Scenarios");
    const std::string prefix = relative.string() + "/";
    std::vector<std::string> inside;
    for (const InstalledScenario &s : ScenarioNames())
        if (s.problem.empty() && s.name.compare(0, prefix.size(), prefix) == 0) inside.push_back(s.name);
    std::string text = "is a folder, not a file; ";
    if (inside.empty()) return text + "it holds no scenario (vtal-sim --list lists the installed scenarios)";
    text += "the scenarios in it: ";
    for (std::size_t i = 0; i < std::min(inside.size(), kMostNamed); ++i) text += (i ? ", " : "") + inside[i];
    if (inside.size() > kMostNamed) text += " and " + std::to_string(inside.size() - kMostNamed) + " more";
    return text;
}

std::string Installation::DefaultScenario() const {
    return (fs::path(root_) / "Scenarios" / kDefaultScenarioName).string();
}

std::string DefaultRoot() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    const fs::path dir = exe.parent_path();
    if (fs::is_directory(dir / "Config" / "Vessels", ec)) return dir.string();
    return (dir.parent_path() / "share" / "vtal").string();
}

}  // namespace vtal::sim
