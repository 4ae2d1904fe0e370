// The version a vessel module reports of itself (its exported
// GetModuleVersion), read as a flight loads the module: for `vtal-sim --version`.
#pragma once

#include <string>

namespace vtal::sim {

// The class whose module `vtal-sim --version` asks: the lander's.
extern const char *const kLanderClass;

struct ModuleVersion {
    std::string module;  // its name, as the class's configuration gives it
    std::string path;    // its library under Modules/
    int version = 0;     // as the module reports it
};

// Finds the module of `className` through the installation at `root` (its
// configuration's Module entry, then Modules/), loads it with the host API in
// place and asks its version. As in a flight, the module is loaded by making
// one vessel of the class (standing on the Moon); nothing is flown, and the
// module is unloaded again. Throws InputError when the installation, the
// class or the module cannot be used, or the module exports no version.
ModuleVersion ReadModuleVersion(const std::string &root, const std::string &className);

}  // namespace vtal::sim
