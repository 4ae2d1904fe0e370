// Scenario dates the host cannot carry, through the real command line: a
// date outside the dates flown (MJD 0 to 10^6), or a run that would fly past
// the last of them, is refused at its line with status 2 and nothing saved.
#include <gtest/gtest.h>

#include <algorithm>

#include "OwnInstallation.h"

namespace vtal::clitest {
namespace {

const std::string kRootOption = " --root " + ShippedRoot() + " ";

TEST_F(CommandTest, DatesOutsideTheDatesFlownAreRefusedAtTheirLine) {
    const std::string descent = Descent();
    const std::string date = "MJD 51983.5";
    ASSERT_NE(descent.find(date), std::string::npos);
    const long dateLine = 1 + std::count(descent.begin(), descent.begin() + descent.find(date), '\n');
    const auto withDate = [&](const std::string &text) {
        std::string s = descent;
        return s.replace(s.find(date), date.size(), text);
    };
    for (const std::string bad : {"MJD 1e305", "JD 1e305", "MJD -1", "MJD 1000000.5", "JD 0", "MJD 1e15"}) {
        WriteAll(In("s.scn"), withDate(bad));
        const Ran r = Run(kRootOption + "s.scn --save out.scn");
        EXPECT_EQ(r.status, 2) << bad << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "s.scn:" + std::to_string(dateLine) + ": Date: '" + bad + "' is MJD ")) << r.err;
        EXPECT_TRUE(Has(r.err, "outside the dates flown, MJD 0 (1858 Nov 17) to MJD 1000000")) << r.err;
        EXPECT_FALSE(fs::exists(In("out.scn"))) << bad;
    }
    // A run may not fly past the last date, or its save would not read back.
    WriteAll(In("s.scn"), withDate("MJD 1000000"));
    const Ran late = Run(kRootOption + "s.scn --until 2 --save out.scn");
    EXPECT_EQ(late.status, 2) << late.err;
    EXPECT_TRUE(Has(late.err, "a run from MJD 1000000 for 2 s would end at MJD 1000000.0000231")) << late.err;
    EXPECT_FALSE(fs::exists(In("out.scn")));
    for (const std::string good : {"MJD 0", "MJD 999999", "JD 2400000.5"}) {
        WriteAll(In("s.scn"), withDate(good));
        const Ran r = Run(kRootOption + "s.scn --until 2 --quiet --save out.scn");
        EXPECT_EQ(r.status, 0) << good << ": " << r.err;
        EXPECT_TRUE(Has(ReadAll(In("out.scn")), "Date MJD ")) << good;
    }
}

}  // namespace
}  // namespace vtal::clitest
