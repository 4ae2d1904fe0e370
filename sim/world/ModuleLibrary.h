// A vessel module library loaded as the host loads it: dlopen runs its load
// hook (which calls InitLib), the entry points are looked up, and dlclose
// unloads it completely, so that the next run starts from zeroed module state.
#pragma once

#include <string>

#include "host/Orbitersdk.h"

namespace vtal::sim {

class ModuleLibrary {
public:
    // Loads the library; throws InputError if it cannot be loaded or lacks ovcInit/ovcExit.
    explicit ModuleLibrary(const std::string &path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary &) = delete;
    ModuleLibrary &operator=(const ModuleLibrary &) = delete;

    const std::string &Path() const { return path_; }
    VESSEL *Init(OBJHANDLE vessel, int flightModel) const { return ovcInit_(vessel, flightModel); }
    void Exit(VESSEL *vessel) const { ovcExit_(vessel); }
    // The module's version, or 0 if it exports none.
    int Version() const { return getModuleVersion_ ? getModuleVersion_() : 0; }
    bool ExportsVersion() const { return getModuleVersion_ != nullptr; }

private:
    std::string path_;
    void *handle_ = nullptr;
    VESSEL *(*ovcInit_)(OBJHANDLE, int) = nullptr;
    void (*ovcExit_)(VESSEL *) = nullptr;
    int (*getModuleVersion_)() = nullptr;
};

}  // namespace vtal::sim
