#include "sim/run/ModuleVersion.h"

#include "sim/base/InputError.h"
#include "sim/files/Installation.h"
#include "sim/files/Scenario.h"
#include "sim/hostapi/SimBackend.h"

namespace vtal::sim {

const char *const kLanderClass = "vtal";

namespace {

// One vessel of the class at rest on the ground: the least a world needs to
// load its module as a flight does (load hook, ovcInit, class capabilities).
std::string OneVesselOf(const std::string &className) {
    return "BEGIN_SHIPS\nVersion:" + className + "\n  STATUS Landed Moon\n  POS 0 0\n  HEADING 0\nEND\nEND_SHIPS\n";
}

}  // namespace

ModuleVersion ReadModuleVersion(const std::string &root, const std::string &className) {
    const Installation installation(root);
    const VesselClass vc = installation.FindClass(className);
    if (!vc.known)
        throw InputError(At(root, 0, "vessel class " + Quote(className) + " has no configuration under Config/Vessels/"));
    if (vc.module.empty())
        throw InputError(At(vc.configPath, 0, "names no Module: vessels of class " + Quote(className) + " fly passive"));
    ModuleVersion out{vc.module, installation.ModulePath(vc.module), 0};
    const auto world = MakeWorld(ParseScenarioText(OneVesselOf(className), "--version"), installation, WorldOptions{});
    const ModuleLibrary *module = world->Vessels().front()->module;
    if (!module || !module->ExportsVersion())
        throw InputError(At(out.path, 0, "exports no GetModuleVersion, so it reports no version"));
    out.version = module->Version();
    return out;
}

}  // namespace vtal::sim
