// The two reference flights that were also flown in the real host's core,
// with the project's module unchanged: first contact, its sink, the
// propellant left and when the host's rest test found the lander landed.
#include <gtest/gtest.h>

#include <sstream>

#include "SimTestSupport.h"
#include "sim/run/Flight.h"

namespace vtal::simtest {
namespace {

struct HostFigures {
    const char *file;
    double firstContact;  // s
    double sink;          // m/s, at the first-contact frame
    double mainTank;      // kg at rest
    double landedFrom;    // s
};

sim::RunResult FlyReference(const HostFigures &h) {
    sim::RunOptions o;
    o.root = Root();
    o.quiet = true;
    static std::ostringstream sink;
    o.err = &sink;
    o.scenario = std::string(VTAL_SIM_TEST_DATA) + "/" + h.file;
    return sim::Fly(o);
}

class ReferenceFlight : public ::testing::TestWithParam<HostFigures> {};

TEST_P(ReferenceFlight, MatchesTheHostsTouchdownPropellantAndLandedState) {
    const HostFigures h = GetParam();
    const sim::RunResult r = FlyReference(h);
    const sim::VesselSummary &v = r.vessels.front();
    ASSERT_TRUE(v.touchdown.happened);
    EXPECT_NEAR(v.touchdown.time, h.firstContact, 0.1);
    EXPECT_NEAR(-v.touchdown.verticalSpeed, h.sink, 0.05);
    EXPECT_NEAR(v.propellantKg.front(), h.mainTank, 0.1);
    ASSERT_TRUE(v.landed);
    EXPECT_NEAR(v.landedAt, h.landedFrom, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Host, ReferenceFlight,
                         ::testing::Values(HostFigures{"host_reference_2000.scn", 69.60, 1.67, 45.71, 77.43},
                                           HostFigures{"host_reference_1500.scn", 56.40, 1.62, 45.89, 64.70}),
                         [](const auto &flight) { return std::string(flight.param.file).substr(5, 14); });

}  // namespace
}  // namespace vtal::simtest
