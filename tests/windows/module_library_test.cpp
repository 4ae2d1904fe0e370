// The module DLL in a Windows process: loaded with LoadLibrary, entry points
// found with GetProcAddress, landers created and deleted, DLL unloaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModuleDll.h"
#include "recording/RecordingBackend.h"

using vtal::recording::FakeVesselHandle;
using vtal::recording::RecordingBackend;
using vtal::recording::ScopedBackend;
using vtal::windows_test::ModuleDll;

namespace {

// Exit function calls that the test modules reported, in order.
struct ExitCall {
    std::string exportName;
    HINSTANCE module;
};
std::vector<ExitCall> exitCalls;

const int kVersionOfBuildDate = 60425;  // "Apr 25 2006"

}  // namespace

// Exported by the test program; the test modules' exit functions call it.
extern "C" __declspec(dllexport) void VtalTestExitHookCalled(const char *exportName,
                                                             HINSTANCE self) {
    exitCalls.push_back(ExitCall{exportName, self});
}

namespace {

class ModuleDllTest : public ::testing::Test {
protected:
    ModuleDllTest() : installed_(rec) { exitCalls.clear(); }

    RecordingBackend rec;

private:
    ScopedBackend installed_;
};

TEST_F(ModuleDllTest, LoadHookCallsInitLibOnceWithTheModuleHandle) {
    ModuleDll dll(VTAL_MODULE_DLL);
    ASSERT_TRUE(dll.loaded()) << "LoadLibrary failed, error " << GetLastError();
    ASSERT_EQ(rec.count("InitLib"), 1u);
    EXPECT_EQ(rec.callsNamed("InitLib")[0].ptr(0), static_cast<const void *>(dll.handle));
}

TEST_F(ModuleDllTest, EntryPointsCreateDefineAndDeleteLanders) {
    ModuleDll dll(VTAL_MODULE_DLL);
    ASSERT_TRUE(dll.loaded());
    ASSERT_TRUE(dll.hasEntryPoints());

    VESSEL *first = dll.ovcInit(FakeVesselHandle(1), 1);
    VESSEL *second = dll.ovcInit(FakeVesselHandle(2), 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, first);
    EXPECT_EQ(first->GetHandle(), FakeVesselHandle(1));
    EXPECT_EQ(second->GetHandle(), FakeVesselHandle(2));

    static_cast<VESSEL2 *>(first)->clbkSetClassCaps(nullptr);
    EXPECT_EQ(rec.count("CreateThruster"), 8u);
    EXPECT_EQ(rec.count("CreateThrusterGroup"), 7u);
    EXPECT_EQ(rec.count("CreateAnimation"), 8u);

    dll.ovcExit(first);
    dll.ovcExit(second);
    dll.ovcExit(nullptr);  // ignored
    EXPECT_TRUE(dll.unload());
}

TEST_F(ModuleDllTest, VersionIsTheBuildDateConvertedOnce) {
    ModuleDll dll(VTAL_MODULE_DLL);
    ASSERT_TRUE(dll.loaded());
    ASSERT_TRUE(dll.hasEntryPoints());
    EXPECT_EQ(dll.getModuleVersion(), kVersionOfBuildDate);
    EXPECT_EQ(dll.getModuleVersion(), kVersionOfBuildDate);
    ASSERT_EQ(rec.count("Date2Int"), 1u);
    EXPECT_EQ(rec.callsNamed("Date2Int")[0].text(0), "Apr 25 2006");
}

TEST_F(ModuleDllTest, UnloadsCompletelyAndCallsNoExitFunctionOfItsOwn) {
    {
        ModuleDll dll(VTAL_MODULE_DLL);
        ASSERT_TRUE(dll.loaded());
        EXPECT_EQ(GetProcAddress(dll.handle, "ExitModule"), nullptr);
        EXPECT_EQ(GetProcAddress(dll.handle, "opcDLLExit"), nullptr);
        EXPECT_EQ(dll.getModuleVersion(), kVersionOfBuildDate);
        ASSERT_TRUE(dll.unload());
    }
    EXPECT_EQ(GetModuleHandleA(VTAL_MODULE_DLL), nullptr) << "still mapped after FreeLibrary";
    EXPECT_TRUE(exitCalls.empty());

    // A fresh load starts from zeroed module state: the date is converted anew.
    ModuleDll again(VTAL_MODULE_DLL);
    ASSERT_TRUE(again.loaded());
    EXPECT_EQ(again.getModuleVersion(), kVersionOfBuildDate);
    EXPECT_EQ(rec.count("Date2Int"), 2u);
    EXPECT_EQ(rec.count("InitLib"), 2u);
}

// A module that exports an exit function has it called once at unload, with
// its own handle; "ExitModule" wins over "opcDLLExit".
struct ExitHookCase {
    const char *dll;
    const char *expectedExport;
};

void PrintTo(const ExitHookCase &c, std::ostream *os) { *os << c.dll; }

class UnloadHookTest : public ModuleDllTest,
                       public ::testing::WithParamInterface<ExitHookCase> {};

TEST_P(UnloadHookTest, CallsTheExportedExitFunctionOnceWithTheModuleHandle) {
    ModuleDll dll(GetParam().dll);
    ASSERT_TRUE(dll.loaded()) << GetParam().dll << ": LoadLibrary failed, error " << GetLastError();
    const HMODULE module = dll.handle;
    EXPECT_TRUE(exitCalls.empty()) << "called before unload";

    ASSERT_TRUE(dll.unload());
    ASSERT_EQ(exitCalls.size(), 1u);
    EXPECT_EQ(exitCalls[0].exportName, GetParam().expectedExport);
    EXPECT_EQ(exitCalls[0].module, module);
}

INSTANTIATE_TEST_SUITE_P(ExitFunctions, UnloadHookTest,
                         ::testing::Values(ExitHookCase{VTAL_EXIT_MODULE_DLL, "ExitModule"},
                                           ExitHookCase{VTAL_OPC_EXIT_DLL, "opcDLLExit"},
                                           ExitHookCase{VTAL_BOTH_EXITS_DLL, "ExitModule"}),
                         [](const ::testing::TestParamInfo<ExitHookCase> &param) {
                             std::string name = param.param.dll;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
