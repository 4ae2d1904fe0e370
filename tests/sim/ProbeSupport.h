// Worlds of the probe vessel: its module is loaded by the test first, so the
// hooks it sets are those the world's copy of the module calls.
#pragma once

#include <dlfcn.h>

#include <stdexcept>

#include "SimTestSupport.h"
#include "probe/ProbeHooks.h"

namespace vtal::simtest {

class ProbeModule {
public:
    ProbeModule() {
        handle_ = dlopen(VTAL_PROBE_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!handle_) throw std::runtime_error(dlerror());
        auto hooks = reinterpret_cast<probe::ProbeHooks *(*)()>(dlsym(handle_, "VtalProbeHooks"));
        if (!hooks) throw std::runtime_error("the probe module has no hooks");
        hooks_ = hooks();
        *hooks_ = probe::ProbeHooks{};
    }
    ~ProbeModule() {
        *hooks_ = probe::ProbeHooks{};
        dlclose(handle_);
    }
    ProbeModule(const ProbeModule &) = delete;
    ProbeModule &operator=(const ProbeModule &) = delete;

    probe::ProbeHooks &Hooks() { return *hooks_; }

private:
    void *handle_ = nullptr;
    probe::ProbeHooks *hooks_ = nullptr;
};

inline std::string ProbeBlock(const std::string &standardLines, const std::string &name = "Probe") {
    return name + ":Probe\n" + standardLines + "  PRPLEVEL 0:1\nEND\n";
}

inline std::unique_ptr<sim::World> MakeProbeWorld(const std::string &text, const std::string &keys = "") {
    const sim::Scenario scn = sim::ParseScenarioText(text, "probe.scn");
    sim::WorldOptions o;
    o.keys = sim::ParseKeyScript(keys);
    return sim::MakeWorld(scn, sim::Installation(VTAL_PROBE_ROOT), o);
}

}  // namespace vtal::simtest
