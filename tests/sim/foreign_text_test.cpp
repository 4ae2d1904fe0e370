// Text from other tools, through the real command line: a scenario or a
// vessel configuration behind a UTF-8 byte-order mark is read whole (with
// one warning), and a configuration whose Module line is almost written
// (misspelt, odd spacing, stray bytes) is warned about rather than silently
// flown as a passive vessel.
#include <gtest/gtest.h>

#include "sim/files/Installation.h"

#include "OwnInstallation.h"

namespace vtal::clitest {
namespace {

const std::string kMark = "\xEF\xBB\xBF";

class ForeignText : public OwnInstallation {};

TEST_F(ForeignText, AScenarioBehindAByteOrderMarkIsReadWholeWithOneWarning) {
    WriteAll(In("marked.scn"), kMark + Descent());
    Ran r = Run("--root root marked.scn --until 1 --save saved.scn");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.err, "marked.scn: starts with a UTF-8 byte-order mark"), 1u) << r.err;
    EXPECT_TRUE(Has(r.out, "Lander (vtal)")) << r.out;
    EXPECT_TRUE(Has(r.out, "module state:")) << "the lander's module flew it";
    const std::string saved = ReadAll(In("saved.scn"));
    EXPECT_EQ(saved.rfind("BEGIN_DESC\nThe lander 2000 m over Mare Cognitum", 0), 0u) << "the description is kept";

    // A mark right before BEGIN_SHIPS: the vessels are found.
    const std::string ships = Descent().substr(Descent().find("BEGIN_SHIPS"));
    WriteAll(In("ships.scn"), kMark + ships);
    r = Run("--root root ships.scn --until 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Lander (vtal)")) << r.out;
    EXPECT_FALSE(Has(r.err, "no vessels")) << r.err;
}

TEST_F(ForeignText, AConfigurationBehindAByteOrderMarkStillNamesItsModule) {
    WriteAll(In("root/Config/Vessels/vtal.cfg"), kMark + "Module = vtal\nClassName = vtal\n");
    const Ran r = Run("--root root descent.scn --until 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.err, "vtal.cfg: starts with a UTF-8 byte-order mark"), 1u) << r.err;
    EXPECT_TRUE(Has(r.out, "module state: MANUAL")) << "flown by its module, not as a passive vessel: " << r.out;
}

TEST_F(ForeignText, AModuleLineAlmostWrittenIsWarnedAboutWhenNoModuleIsNamed) {
    for (const std::string line : {"Modul = vtal", "Mod ule = vtal", "MODULES = vtal", "\xC2\xA0Module = vtal",
                                   "Mdoule = vtal", "Module: = vtal"}) {
        WriteAll(In("root/Config/Vessels/vtal.cfg"), "ClassName = vtal\n" + line + "\n");
        const Ran r = Run("--root root descent.scn --until 1");
        EXPECT_EQ(r.status, 0) << line << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "vtal.cfg:2: '")) << line << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "is not the key Module, and no line names a module: vessels of class 'vtal' fly as "
                               "passive vessels of 1000 kg"))
            << r.err;
    }
    // Beside a real Module line, or far from the word, nothing is said.
    for (const std::string lines : {"Module = vtal\nModules = extra\n", "Mode = 1\nModel = lander\n"}) {
        WriteAll(In("root/Config/Vessels/vtal.cfg"), "ClassName = vtal\n" + lines);
        const Ran r = Run("--root root descent.scn --until 1 --quiet");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(Has(r.err, "is not the key Module")) << lines << ": " << r.err;
    }
}

TEST(AlmostKey, IsTheKeyOnceJunkIsDroppedOrOneEditAwayButNotTheKeyItself) {
    for (const char *near : {"Modul", "Modules", "Mdoule", "Moduel", "Nodule", "Mod ule", "module:", "\xEF\xBB\xBFModule",
                             "_Module_"})
        EXPECT_TRUE(sim::AlmostKey(near, "Module")) << near;
    for (const char *far : {"Module", "MODULE", "module", "Mode", "Model", "Modulate", "EmptyMass", "", "M"})
        EXPECT_FALSE(sim::AlmostKey(far, "Module")) << far;
}

}  // namespace
}  // namespace vtal::clitest
