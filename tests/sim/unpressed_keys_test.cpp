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

    // The README's example: the descent rests before its last two keys.
    r = Run(kRootOption + "--quiet --keys \"75:K,75:G,80:C,82-87:V,88-90:shift+B\" --save after.scn");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "2 of its scripted keys '82-87:V', '88-90:shift+B' went down")) << r.err;

    r = Run(kRootOption + "--quiet --until 5 --keys 1:K");
    EXPECT_FALSE(Has(r.err, "--keys")) << "every key went down: " << r.err;
}

}  // namespace
}  // namespace vtal::clitest
