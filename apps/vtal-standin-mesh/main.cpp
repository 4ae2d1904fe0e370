// Writes the stand-in model of every module vessel class that a scenario
// holds as a mesh file in the host's text format, under the installation's
// Meshes/ with the name the module gives in AddMesh:
//   vtal-standin-mesh ROOT [SCENARIO]
// The model is built from the vessel's definition as the flight host sees it
// after the module has defined it.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "sim/base/ExitCodes.h"
#include "sim/base/InputError.h"
#include "sim/files/Installation.h"
#include "sim/files/Scenario.h"
#include "sim/view/StandInModel.h"
#include "sim/hostapi/SimBackend.h"
#include "sim/world/World.h"

namespace fs = std::filesystem;
using namespace vtal::sim;

namespace {

void WriteMesh(const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: vtal-standin-mesh ROOT [SCENARIO]\n";
        return kExitBadInput;
    }
    try {
        const Installation installation(argv[1]);
        const std::string path = argc == 3 ? installation.ScenarioPath(argv[2]) : installation.DefaultScenario();
        WorldOptions options;
        const auto owned = MakeWorld(ReadScenarioFile(path), installation, options);
        World &world = *owned;
        std::set<std::string> written;
        for (const auto &v : world.Vessels()) {
            if (!v->object || v->def.meshes.empty() || v->def.meshes.front().name.empty()) continue;
            const fs::path file = fs::path(installation.Root()) / "Meshes" / (v->def.meshes.front().name + ".msh");
            if (!written.insert(file.string()).second) continue;
            WriteMesh(file, ToMeshFile(BuildStandInModel(*v)));
            std::cout << "stand-in mesh of " << v->className << ": " << file.string() << "\n";
        }
        if (written.empty()) {
            std::cerr << "vtal-standin-mesh: no module vessel with a mesh in " << path << "\n";
            return kExitFailed;
        }
    } catch (const InputError &e) {
        std::cerr << "vtal-standin-mesh: error: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::exception &e) {
        std::cerr << "vtal-standin-mesh: failed: " << e.what() << "\n";
        return kExitFailed;
    }
    return kExitOk;
}
