// The module DLL loaded with LoadLibrary and its entry points resolved with
// GetProcAddress, as the host loads a vessel module.
#pragma once

#include <windows.h>

#include "host/Orbitersdk.h"

namespace vtal::windows_test {

template <typename Function>
Function LookUp(HMODULE module, const char *name) {
    // FARPROC is the generic function pointer; the caller names the true type.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

struct ModuleDll {
    explicit ModuleDll(const char *fileName) : handle(LoadLibraryA(fileName)) {
        if (!handle) return;
        ovcInit = LookUp<VESSEL *(*)(OBJHANDLE, int)>(handle, "ovcInit");
        ovcExit = LookUp<void (*)(VESSEL *)>(handle, "ovcExit");
        getModuleVersion = LookUp<int (*)()>(handle, "GetModuleVersion");
    }
    ~ModuleDll() {
        if (handle) FreeLibrary(handle);
    }
    ModuleDll(const ModuleDll &) = delete;
    ModuleDll &operator=(const ModuleDll &) = delete;

    bool loaded() const { return handle != nullptr; }
    bool hasEntryPoints() const { return ovcInit && ovcExit && getModuleVersion; }
    // Releases the library; true if Windows accepted it.
    bool unload() {
        const BOOL released = FreeLibrary(handle);
        handle = nullptr;
        return released != FALSE;
    }

    HMODULE handle;
    VESSEL *(*ovcInit)(OBJHANDLE, int) = nullptr;
    void (*ovcExit)(VESSEL *) = nullptr;
    int (*getModuleVersion)() = nullptr;
};

}  // namespace vtal::windows_test
