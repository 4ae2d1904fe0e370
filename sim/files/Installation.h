// The host's installation: a folder with Modules/ (module libraries),
// Config/Vessels/<class>.cfg (vessel classes) and Scenarios/.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vtal::sim {

// A vessel class as its configuration file describes it.
struct VesselClass {
    std::string className;
    std::string module;  // empty: a passive vessel
    std::string configPath;
    bool known = true;   // false: no configuration file; defaults apply
    double size = 1.0;        // m
    double emptyMass = 1000.0; // kg
    double fuelMass = 0.0;     // kg, capacity of the one tank of a passive vessel
    std::vector<std::string> warnings;  // what reading the configuration read past or suspects
};

// Whether a configuration key is almost `key` without being it: the same
// once everything but ASCII letters and digits is dropped and case is
// ignored ("Mod ule", a byte-order mark or a no-break space before it), or
// one letter inserted, dropped, changed or two neighbours swapped from it
// ("Modul", "Modules", "Mdoule"). Such a line beside no real Module line is
// warned about, as the class then loads no module and flies passive.
bool AlmostKey(const std::string &written, const std::string &key);

// A class with no configuration file becomes a passive vessel of these values.
constexpr double kDefaultPassiveSize = 1.0;
constexpr double kDefaultPassiveEmptyMass = 1000.0;
constexpr double kDefaultPassiveFuelMass = 0.0;

class Installation {
public:
    // Checks that the folder looks like an installation; throws InputError.
    explicit Installation(const std::string &root);

    const std::string &Root() const { return root_; }
    // The class's configuration; unknown classes get the passive defaults.
    // A malformed configuration file throws InputError.
    VesselClass FindClass(const std::string &className) const;
    // The library file of a module named in a configuration; throws
    // InputError if it is missing or no library that can be loaded
    // (CheckModuleFile).
    std::string ModulePath(const std::string &module) const;
    // A scenario argument: a file as given, else under Scenarios/ (".scn" optional).
    std::string ScenarioPath(const std::string &argument) const;
    std::string DefaultScenario() const;

    // From now on each class's configuration is read, and each module file
    // found and checked, once: the answers are kept for later questions.
    // A campaign asks once and flies every run with the same answers.
    void RememberAnswers() { remembers_ = true; }

private:
    VesselClass ReadClass(const std::string &className) const;
    std::string FindModule(const std::string &module) const;

    std::string root_;
    bool remembers_ = false;
    mutable std::map<std::string, VesselClass> classes_;   // by class name, once remembered
    mutable std::map<std::string, std::string> modules_;   // module name to its file, once remembered
};

// The installation next to the running program: its own folder if that holds
// Config/Vessels, else ../share/vtal.
std::string DefaultRoot();

// Relative path of the shipped default descent inside Scenarios/.
extern const char *const kDefaultScenarioName;

}  // namespace vtal::sim
