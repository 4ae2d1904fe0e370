// Scripted keys that the run ends before pressing, through the real command
// line: the run still succeeds, and a warning (on standard error and in the
// report) names every key that never went down.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "OwnInstallation.h"

namespace vtal::clitest {
namespace {

const std::string kRootOption = " --root " + ShippedRoot() + " ";

TEST_F(CommandTest, KeysScriptedAfterTheRunEndsAreNamedInAWarning) {
    Ran r = Run(kRootOption + "--until 5 --keys 1:K,7:G,2-9:V,8-9:shift+B --report r.json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "vtal-sim: warning: --keys: the run ended at t = 5 s before 2 of its scripted keys '7:G', "
                           "'8-9:shift+B' went down; they were not pressed"))
        << r.err;
    EXPECT_FALSE(Has(r.err, "'1:K'")) << "pressed";
    EXPECT_FALSE(Has(r.err, "'2-9:V'")) << "held down, only its release is cut";
    const auto report = nlohmann::json::parse(ReadAll(In("r.json")));
    bool inReport = false;
    for (const auto &w : report["warnings"]) inReport = inReport || Has(w.get<std::string>(), "'7:G'");
    EXPECT_TRUE(inReport) << "the report keeps the warning";

    r = Run(kRootOption + "--quiet --until 5 --keys 1:K");
    EXPECT_FALSE(Has(r.err, "--keys")) << "every key went down: " << r.err;
}

// Without --until the run rests for its full time after the last scripted
// key-up, so what the keys started is finished in the saved state.
TEST_F(CommandTest, TheDefaultStopWaitsForTheKeyScript) {
    const Ran r = Run(kRootOption + "--quiet --keys \"75:K,75:G,80:C,82-87:V,88-93:B\" --report r.json --save after.scn");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Has(r.err, "--keys")) << r.err;
    const auto report = nlohmann::json::parse(ReadAll(In("r.json")));
    EXPECT_NEAR(report["end_time"].get<double>(), 103.0, 0.05) << "10 s of rest after the last key-up at 93 s";
    const std::string saved = ReadAll(In("after.scn"));
    EXPECT_TRUE(Has(saved, "SOLP 1 1.0000")) << saved;
    EXPECT_TRUE(Has(saved, "COV 1 1.0000")) << saved;
    EXPECT_TRUE(Has(saved, "CAMERA 1 ")) << saved;
    EXPECT_FALSE(Has(saved, "ARMSLD 0.0000")) << "B slid the arm: " << saved;
    EXPECT_FALSE(Has(saved, "ARMROT 0.7000")) << "V turned the arm: " << saved;

    // Keys that end before the lander rests change nothing in the stop.
    const Ran early = Run(kRootOption + "--quiet --keys 5:M,6:M --report e.json");
    ASSERT_EQ(early.status, 0) << early.err;
    const Ran none = Run(kRootOption + "--quiet --report n.json");
    ASSERT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(nlohmann::json::parse(ReadAll(In("e.json")))["end_time"],
              nlohmann::json::parse(ReadAll(In("n.json")))["end_time"]);
}

}  // namespace
}  // namespace vtal::clitest
