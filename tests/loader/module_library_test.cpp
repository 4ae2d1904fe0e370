// The built module library, loaded with dlopen as the host loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "recording/RecordingBackend.h"

using vtal::recording::FakeVesselHandle;
using vtal::recording::RecordingBackend;
using vtal::recording::ScopedBackend;

namespace {
int exitModuleCalls = 0;
HINSTANCE exitModuleArgument = nullptr;
}  // namespace

// Called by the test module's ExitModule at unload.
extern "C" __attribute__((visibility("default"))) void VtalTestExitModuleCalled(HINSTANCE self) {
    ++exitModuleCalls;
    exitModuleArgument = self;
}

namespace {

struct ModuleLibrary {
    explicit ModuleLibrary(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (!handle) return;
        ovcInit = reinterpret_cast<VESSEL *(*)(OBJHANDLE, int)>(dlsym(handle, "ovcInit"));
        ovcExit = reinterpret_cast<void (*)(VESSEL *)>(dlsym(handle, "ovcExit"));
        getModuleVersion = reinterpret_cast<int (*)()>(dlsym(handle, "GetModuleVersion"));
    }
    int unload() {
        int rc = dlclose(handle);
        handle = nullptr;
        return rc;
    }
    ~ModuleLibrary() {
        if (handle) dlclose(handle);
    }
    void *handle;
    VESSEL *(*ovcInit)(OBJHANDLE, int) = nullptr;
    void (*ovcExit)(VESSEL *) = nullptr;
    int (*getModuleVersion)() = nullptr;
};

// Whether the library is still mapped after its last dlclose.
bool StillLoaded(const char *path) {
    void *h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST(ModuleLibrary, LoadHookCallsInitLibOnceWithTheModuleHandle) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    ModuleLibrary lib(VTAL_MODULE_PATH);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_EQ(rec.count("InitLib"), 1u);
    EXPECT_NE(rec.callsNamed("InitLib")[0].ptr(0), nullptr);
}

TEST(ModuleLibrary, EntryPointsCreateDefineAndDeleteLanders) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    ModuleLibrary lib(VTAL_MODULE_PATH);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_TRUE(lib.ovcInit && lib.ovcExit && lib.getModuleVersion);

    VESSEL *first = lib.ovcInit(FakeVesselHandle(1), 1);
    VESSEL *second = lib.ovcInit(FakeVesselHandle(2), 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, first);
    EXPECT_EQ(first->GetHandle(), FakeVesselHandle(1));
    EXPECT_EQ(second->GetHandle(), FakeVesselHandle(2));

    static_cast<VESSEL2 *>(first)->clbkSetClassCaps(nullptr);
    EXPECT_EQ(rec.count("CreateThruster"), 8u);
    EXPECT_EQ(rec.count("CreateThrusterGroup"), 7u);

    lib.ovcExit(first);
    lib.ovcExit(second);
    lib.ovcExit(nullptr);  // ignored
}

TEST(ModuleLibrary, VersionIsTheBuildDateConvertedOnce) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    ModuleLibrary lib(VTAL_MODULE_PATH);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    EXPECT_EQ(lib.getModuleVersion(), 60425);
    EXPECT_EQ(lib.getModuleVersion(), 60425);
    EXPECT_EQ(lib.getModuleVersion(), 60425);
    ASSERT_EQ(rec.count("Date2Int"), 1u);
    EXPECT_EQ(rec.callsNamed("Date2Int")[0].text(0), "Apr 25 2006");
}

TEST(ModuleLibrary, UnloadsCompletelyAndCallsNoExitFunctionOfItsOwn) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    exitModuleCalls = 0;
    {
        ModuleLibrary lib(VTAL_MODULE_PATH);
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        EXPECT_EQ(dlsym(lib.handle, "ExitModule"), nullptr);
        EXPECT_EQ(dlsym(lib.handle, "opcDLLExit"), nullptr);
        ASSERT_EQ(lib.unload(), 0);
    }
    EXPECT_FALSE(StillLoaded(VTAL_MODULE_PATH));
    EXPECT_EQ(exitModuleCalls, 0);

    // A fresh load starts from zeroed module state: the date is converted anew.
    ModuleLibrary again(VTAL_MODULE_PATH);
    ASSERT_NE(again.handle, nullptr) << dlerror();
    EXPECT_EQ(again.getModuleVersion(), 60425);
    EXPECT_EQ(rec.count("Date2Int"), 1u);
}

TEST(ModuleLibrary, UnloadHookCallsAnExportedExitModuleWithTheModuleHandle) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    exitModuleCalls = 0;
    exitModuleArgument = nullptr;
    ModuleLibrary lib(VTAL_EXIT_HOOK_MODULE_PATH);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_EQ(rec.count("InitLib"), 1u);
    const void *moduleHandle = rec.callsNamed("InitLib")[0].ptr(0);
    EXPECT_EQ(exitModuleCalls, 0);
    ASSERT_EQ(lib.unload(), 0);
    EXPECT_EQ(exitModuleCalls, 1);
    EXPECT_EQ(exitModuleArgument, moduleHandle);
}

}  // namespace
