// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <limits>
#include <string>
#include <vector>

#include "support/LanderFixture.h"
#include "unit/lander/LanderLog.h"

namespace vtal::testing {
namespace {

using PropellantTransferTest = LanderTest;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A vessel in the host's list; `self` marks the lander's own entry.
struct Entry {
    bool self;
    VECTOR3 pos;
    double size;
    double fuel;
};
Entry Self(VECTOR3 pos, double size = 2.0) { return {true, pos, size, 67.0}; }
Entry Other(VECTOR3 pos, double size, double fuel) { return {false, pos, size, fuel}; }

struct Case {
    std::string what;
    std::vector<Entry> vessels;
    bool transfers;
    double mass;            // the main tank's new content, when it transfers
    std::size_t countAsks;  // oapiGetVesselCount calls: one per pass plus the last test
};

// The lander sits at (10, 0, 0); (13, 4, 0) lies exactly 5 m from it.
const VECTOR3 kHere = _V(10, 0, 0);

const std::vector<Case> kCases = {
    {"alone keeps its level", {Self(kHere)}, false, 0.0, 2},
    {"at exactly the size does not qualify", {Self(kHere), Other(_V(13, 4, 0), 5.0, 40.0)}, false, 0.0, 3},
    {"a little closer does", {Self(kHere), Other(_V(13, 3.999, 0), 5.0, 40.0)}, true, 40.0, 2},
    {"4 m below a lander 5 m up", {Self(_V(10, 5, 0)), Other(_V(10, 1, 0), 4.5, 22.0)}, true, 22.0, 2},
    {"3 m across and 2 m along is 3.6 m away", {Self(kHere), Other(_V(13, 0, 2), 3.0, 9.0)}, false, 0.0, 3},
    {"4 m across, 1 m up", {Self(_V(10, 0, 1)), Other(_V(6, 0, 2), 4.2, 23.0)}, true, 23.0, 2},
    {"first qualifying wins",
     {Other(_V(500, 0, 0), 5.0, 1.0), Self(kHere), Other(_V(10, 1, 0), 3.0, 12.0), Other(_V(10, 0, 0), 9.0, 34.0)},
     true, 12.0, 3},
    {"no fuel empties the tank", {Self(kHere), Other(_V(10, 0, 0), 1.0, 0.0)}, true, 0.0, 2},
    {"more than the tank holds is passed on", {Other(_V(10, 0, 0), 50.0, 500.0), Self(kHere)}, true, 500.0, 1},
    {"own entry is never considered", {Self(kHere, 1e9)}, false, 0.0, 2},
    {"own entry skipped, the next one counts", {Self(kHere, 1e9), Other(_V(11, 0, 0), 2.0, 7.5)}, true, 7.5, 2},
    {"a fuel mass that is no number is not passed on", {Self(kHere), Other(_V(10, 0, 0), 1.0, kNaN)}, false, 0.0,
     2},
};

TEST_F(PropellantTransferTest, TakesTheFuelOfTheFirstVesselItIsInside) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.what);
        auto lander = MakeLander();
        rec.vesselList.clear();
        for (std::size_t i = 0; i < c.vessels.size(); ++i) {
            const Entry &e = c.vessels[i];
            OBJHANDLE h = e.self ? lander->GetHandle() : recording::FakeVesselHandle(100 + static_cast<int>(i));
            recording::VesselScript &script = rec.vessel(h);
            script.globalPos = e.pos;
            script.size = e.size;
            script.fuelMass = e.fuel;
            rec.vesselList.push_back(h);
        }

        lander->clbkPostCreation();

        // The lander's own origin is where it measures from.
        std::vector<Call> origin = rec.callsNamed("Local2Global");
        ASSERT_EQ(origin.size(), 1u);
        EXPECT_EQ(origin[0].args, (std::vector<Arg>{0.0, 0.0, 0.0}));
        EXPECT_EQ(rec.count("oapiGetVesselCount"), c.countAsks);
        for (const Call &call : rec.callsNamed("oapiGetSize"))
            EXPECT_NE(call.ptr(0), lander->GetHandle()) << "own entry measured";

        std::vector<Call> set = rec.callsNamed("SetPropellantMass");
        ASSERT_EQ(set.size(), c.transfers ? 1u : 0u);
        if (c.transfers) {
            EXPECT_EQ(set[0].ptr(0), lander->phMain);
            EXPECT_EQ(set[0].num(1), c.mass);
        }
    }
}

TEST_F(PropellantTransferTest, CountIsAskedBeforeEveryPass) {
    auto lander = MakeLander();
    rec.vesselList = {recording::FakeVesselHandle(7), recording::FakeVesselHandle(8), lander->GetHandle()};
    lander->clbkPostCreation();
    // Count, index 0, ..., count, index 2, count (end).
    std::vector<std::string> asks;
    for (const std::string &name : rec.names())
        if (name == "oapiGetVesselCount" || name == "oapiGetVesselByIndex") asks.push_back(name);
    EXPECT_EQ(asks, (std::vector<std::string>{"oapiGetVesselCount", "oapiGetVesselByIndex", "oapiGetVesselCount",
                                              "oapiGetVesselByIndex", "oapiGetVesselCount", "oapiGetVesselByIndex",
                                              "oapiGetVesselCount"}));
    std::vector<Call> byIndex = rec.callsNamed("oapiGetVesselByIndex");
    for (std::size_t i = 0; i < byIndex.size(); ++i) EXPECT_EQ(byIndex[i].integer(0), static_cast<long long>(i));
}

}  // namespace
}  // namespace vtal::testing
