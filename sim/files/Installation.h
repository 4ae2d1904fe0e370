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

// A scenario under the installation's Scenarios/.
struct InstalledScenario {
    // As given on the command line: the path under Scenarios/ without its
    // ".scn" ("Lander/Descent"); a folder that cannot be read ends in "/".
    std::string name;
    std::string path;
    std::string description;  // the first line of its description (ListScenarios only)
    std::string problem;      // why it cannot be read; empty if it can
};

// Up to `most` of `names` that are close to `wanted`, nearest first: within a
// third of its letters (one to three) inserted, dropped, changed or swapped,
// without regard to case and to a ".scn" at the end. Names close as a whole
// are offered; only if there are none, names whose last part is close to the
// last part of `wanted` ("Decent" and "elsewhere/Decent.scn" are close to
// "Lander/Descent"). None if nothing is that close.
std::vector<std::string> SimilarNames(const std::string &wanted, const std::vector<std::string> &names,
                                      std::size_t most = 3);

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
    // A scenario argument: a file as given, else under Scenarios/ (".scn"
    // optional, names matched without regard to case). Something that exists
    // as given, or a file under Scenarios/ that is no regular file, is
    // returned for reading to say what it is. Throws InputError for a folder
    // under Scenarios/ (naming the scenarios in it), and when nothing is found:
    // naming every place looked in and the installed scenarios of a similar
    // name.
    std::string ScenarioPath(const std::string &argument) const;
    // Every *.scn file under Scenarios/ and its sub-folders (followed through
    // links, each folder once), sorted by name; a folder that cannot be read
    // is an entry with its problem. Reads no scenario.
    std::vector<InstalledScenario> ScenarioNames() const;
    // The same, each with the first line of its description, or the reason
    // it cannot be read.
    std::vector<InstalledScenario> ListScenarios() const;
    std::string DefaultScenario() const;

    // From now on each class's configuration is read, and each module file
    // found and checked, once: the answers are kept for later questions.
    // A campaign asks once and flies every run with the same answers.
    void RememberAnswers() { remembers_ = true; }

private:
    // Why a folder under Scenarios/ given as a scenario is not one, with the
    // scenarios in it.
    std::string FolderProblem(const std::string &folder) const;

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
