// An installation of a test's own in its folder (the shipped classes and
// module, to be spoilt one file at a time) and the shipped default descent,
// for the tests that run vtal-sim on files from elsewhere.
#pragma once

#include <string>

#include "CommandRun.h"

namespace vtal::clitest {

inline const std::string &ShippedRoot() {
    static const std::string root = VTAL_SIM_ROOT;
    return root;
}

inline std::string Descent() { return ReadAll(ShippedRoot() + "/Scenarios/Lander/Descent.scn"); }

// root/ with Config/Vessels (vtal, FuelDepot) and Modules/vtal.so, and
// descent.scn beside it.
class OwnInstallation : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        fs::create_directories(In("root/Config/Vessels"));
        fs::create_directories(In("root/Modules"));
        for (const char *cfg : {"vtal.cfg", "FuelDepot.cfg"})
            fs::copy_file(ShippedRoot() + "/Config/Vessels/" + cfg, In(std::string("root/Config/Vessels/") + cfg));
        module_ = ReadAll(ShippedRoot() + "/Modules/vtal.so");
        WriteAll(In("root/Modules/vtal.so"), module_);
        WriteAll(In("descent.scn"), Descent());
    }
    std::string module_;
};

}  // namespace vtal::clitest
