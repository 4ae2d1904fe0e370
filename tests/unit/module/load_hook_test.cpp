// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
// The library's load and unload hook with a stand-in for the operating
// system's lookup of the module's own exports.
#include <string>
#include <vector>

#include "module/LoadHook.h"
#include "support/LanderFixture.h"

namespace vtal::testing {
namespace {

using LoadHookTest = LanderTest;

// What the stand-in lookup was asked, what it finds, and what the exit hooks saw.
struct FakeExports {
    static std::vector<std::string> asked;
    static std::vector<std::size_t> initLibCallsWhenAsked;
    static std::vector<std::string> exported;
    static std::vector<std::string> exitCalls;
    static recording::RecordingBackend *rec;

    static void ExitModule(HINSTANCE) { exitCalls.push_back("ExitModule"); }
    static void OpcDllExit(HINSTANCE) { exitCalls.push_back("opcDLLExit"); }
    static ExitHook Lookup(HINSTANCE, const char *name) {
        asked.push_back(name);
        initLibCallsWhenAsked.push_back(rec->count("InitLib"));
        for (const std::string &e : exported) {
            if (e != name) continue;
            return e == "ExitModule" ? &FakeExports::ExitModule : &FakeExports::OpcDllExit;
        }
        return nullptr;
    }
    static void Reset(recording::RecordingBackend &backend, std::vector<std::string> names) {
        asked.clear();
        initLibCallsWhenAsked.clear();
        exitCalls.clear();
        exported = std::move(names);
        rec = &backend;
    }
};
std::vector<std::string> FakeExports::asked, FakeExports::exported, FakeExports::exitCalls;
std::vector<std::size_t> FakeExports::initLibCallsWhenAsked;
recording::RecordingBackend *FakeExports::rec = nullptr;

HINSTANCE ModuleHandle() { return reinterpret_cast<HINSTANCE>(0x7000); }

TEST_F(LoadHookTest, InitLibComesFirstThenExitModuleIsPreferredToOpcDllExit) {
    const struct {
        std::vector<std::string> exported, asked, exitCalls;
    } cases[] = {
        {{}, {"ExitModule", "opcDLLExit"}, {}},
        {{"opcDLLExit"}, {"ExitModule", "opcDLLExit"}, {"opcDLLExit"}},
        {{"ExitModule"}, {"ExitModule"}, {"ExitModule"}},
        {{"ExitModule", "opcDLLExit"}, {"ExitModule"}, {"ExitModule"}},
    };
    for (const auto &c : cases) {
        ResetModuleState();
        rec.clear();
        FakeExports::Reset(rec, c.exported);
        OnProcessAttach(ModuleHandle(), &FakeExports::Lookup);
        ASSERT_EQ(rec.count("InitLib"), 1u);
        EXPECT_EQ(rec.callsNamed("InitLib")[0].ptr(0), ModuleHandle());
        EXPECT_EQ(FakeExports::asked, c.asked);
        for (std::size_t calls : FakeExports::initLibCallsWhenAsked) EXPECT_EQ(calls, 1u);
        EXPECT_TRUE(FakeExports::exitCalls.empty());
        OnProcessDetach(ModuleHandle());
        EXPECT_EQ(FakeExports::exitCalls, c.exitCalls);
    }
}

}  // namespace
}  // namespace vtal::testing
