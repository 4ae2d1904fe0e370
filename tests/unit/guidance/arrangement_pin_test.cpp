// The guidance's formulas pinned to the bit at states where their
// algebraically equal rewrites round differently, so that the arrangement
// itself is tested: an edit that rewrites one into an equal form fails here.
// The states were found by the search below (run it with
// --gtest_also_run_disabled_tests --gtest_filter='*PrintPinnedStates*'), and
// each pin checks that at its state every rewrite still differs.
// The levels at the yaw groups' edge lie just below full: only there does the
// braking level's arrangement show, since past it the level is clamped to 1.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <set>

#include "GuidanceArrangements.h"

namespace vtal::testing {
namespace {

struct Pin {
    const char *formula;
    Inputs inputs;
    double result;  // the module's, to the bit
};

// Found by the search with seed 1 and 200000 candidates per formula.
const Pin kPins[] = {
    {"sink-rate law level", {-0x1.2382d10780eb1p+5, 0x1.9bd36280efaeep+8, 0x1.bf3bbceb0704ep+8, 0x1.6959930e406f9p+9, -0x1.66bc67a2ed23p-5}, 0x1.a4ebf3cda9071p-2},  // 0.41105633681059489
    {"hover law level", {-0x1.6835f05a567e2p+1, 0x1.34705159da67p+8, 0x1.f625e6ee7aef1p+8, 0x1.61003111e652p-1, 0x1.996e63ae0e318p-1}, 0x1.754d68999b95p-2},  // 0.36455310285136466
    {"terminal common level", {-0x1.6f10c43f1839cp+3, 0x1.79434125a49eap+5, 0x1.6e62c12d94882p+8, 0x1.2a5e3276a64bcp+9, -0x1.12f4332370a5cp-3, 0x1.8f4a4beb575bep-2}, 0x1.0e035050844edp-1},  // 0.52736903174277716
    {"attitude braking command", {0x1.4f8ae86410ep-3, 0x1.adf742de62f0ap-1, 0x1.0107b4c37aab4p+2}, -0x1.1260474aaee94p-1},  // -0.53589079653416372
    {"attitude proportional command", {0x1.10a2dec890258p-4}, 0x1.569ad21638767p-6},  // 0.020910935557260226
    {"front engine level", {0x1.7d140ddac4002p-2, -0x1.15c4fed22fad9p-2, 0x1.31223241e322p-7}, 0x1.87cc1d47f318ep-3},  // 0.19130728603193997
    {"rear left engine level", {0x1.0d6a691ed78e4p-1, 0x1.3108151b34332p-3, 0x1.86ccb026079ep-3}, 0x1.24d8a80bfed32p-1},  // 0.57196545740536053
    {"rear right engine level", {0x1.14729d823e02ep-1, 0x1.2e04416d1aaep-3, 0x1.216253d727abfp-2}, 0x1.65de063163bd7p-2},  // 0.34947976757478955
    {"yaw braking, right group", {0x1.556fd1a802562p-3, 0x1.7cc725e6b12ddp-4, 0x1.b742127f11cc6p+8}, 0x1.fffffffffffffp-1},  // 0.99999999999999989
    {"yaw braking, left group", {-0x1.80af83241f83fp-4, -0x1.3c248110e3221p-4, 0x1.332f67c9af5c2p+8}, 0x1.ffffffffffffep-1},  // 0.99999999999999978
    {"drift calls for hold level", {-0x1.d138bf324167bp+4, -0x1.33213d9c1cda1p-1}, 0x0p+0},  // 0
};

const Arrangement *Named(const std::vector<Arrangement> &all, const std::string &name) {
    for (const Arrangement &a : all)
        if (name == a.name) return &a;
    return nullptr;
}

TEST(GuidanceArrangement, EveryFormulaIsPinnedWhereItsRewritesRoundDifferently) {
    const std::vector<Arrangement> all = GuidanceArrangements();
    std::set<std::string> pinned;
    for (const Pin &pin : kPins) {
        const Arrangement *a = Named(all, pin.formula);
        ASSERT_NE(a, nullptr) << pin.formula;
        EXPECT_TRUE(a->applies(pin.inputs)) << pin.formula;
        EXPECT_EQ(Bits(a->module(pin.inputs)), Bits(pin.result))
            << pin.formula << ": " << a->module(pin.inputs) << " where it was " << pin.result;
        for (const Rewrite &r : a->rewrites)
            if (Bits(r.value(pin.inputs)) != Bits(pin.result)) pinned.insert(std::string(a->name) + " / " + r.name);
    }
    for (const Arrangement &a : all)
        for (const Rewrite &r : a.rewrites)
            EXPECT_EQ(pinned.count(std::string(a.name) + " / " + r.name), 1u)
                << "no pin of " << a.name << " tells its rewrite " << r.name << " apart";
}

// The search itself: it keeps a state only where every rewrite differs, and
// finds none for a rewrite that is the same arrangement.
TEST(ArrangementSearch, KeepsAStateOnlyWhereEveryRewriteDiffers) {
    Arrangement tenth{"x / 10",
                      [](std::uint64_t &r) { return Inputs{Between(r, 0.0, 1.0)}; },
                      [](const Inputs &) { return true; },
                      [](const Inputs &in) { return in[0] / 10.0; },
                      {{"x * 0.1", [](const Inputs &in) { return in[0] * 0.1; }}}};
    const std::optional<Inputs> found = FindTellingState(tenth, 1, 1000);
    ASSERT_TRUE(found.has_value());
    EXPECT_NE(Bits((*found)[0] / 10.0), Bits((*found)[0] * 0.1));

    tenth.rewrites.push_back({"the same", [](const Inputs &in) { return in[0] / 10.0; }});
    EXPECT_FALSE(FindTellingState(tenth, 1, 1000).has_value());
    EXPECT_EQ(FindTellingStates(tenth, 1, 1000).size(), 1u) << "the one that can be told apart, alone";
}

// The search program: prints a pin per formula (or the fewest states that
// together tell every rewrite apart) as the lines of ArrangementPins.inc.
TEST(ArrangementSearch, DISABLED_PrintPinnedStates) {
    for (const Arrangement &a : GuidanceArrangements()) {
        const std::vector<Inputs> states = FindTellingStates(a, 1, 200000);
        for (const Rewrite &r : a.rewrites) {
            bool told = false;
            for (const Inputs &in : states) told = told || Bits(r.value(in)) != Bits(a.module(in));
            EXPECT_TRUE(told) << a.name << ": no candidate tells " << r.name << " apart";
        }
        for (const Inputs &in : states) {
            std::printf("    {\"%s\", {", a.name);
            for (std::size_t i = 0; i < in.size(); ++i) std::printf("%s%a", i ? ", " : "", in[i]);
            std::printf("}, %a},  // %.17g\n", a.module(in), a.module(in));
        }
    }
}

}  // namespace
}  // namespace vtal::testing
