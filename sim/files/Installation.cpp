#include "sim/files/Installation.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <strings.h>
#include <unistd.h>

#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/ModuleFile.h"

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

std::string Installation::ScenarioPath(const std::string &argument) const {
    std::error_code ec;
    if (fs::exists(argument, ec)) return argument;
    for (const std::string &candidate : {argument, argument + ".scn"}) {
        const std::string found = FindNoCase(fs::path(root_) / "Scenarios", candidate);
        if (!found.empty() && fs::is_regular_file(found, ec)) return found;
    }
    return argument;  // reading it reports the error
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
