// The library's entry routine: the operating system calls it when it loads
// and unloads the module. Only the built module library contains it.
#include "module/LoadHook.h"

#ifdef _WIN32

namespace {
vtal::ExitHook FindOwnExport(HINSTANCE self, const char *name) {
    // FARPROC stands for any function; the detour through the generic
    // function pointer says the exit function's true type is known.
    return reinterpret_cast<vtal::ExitHook>(reinterpret_cast<void (*)()>(GetProcAddress(self, name)));
}
}  // namespace

BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        vtal::OnProcessAttach(hModule, FindOwnExport);
        break;
    case DLL_PROCESS_DETACH:
        vtal::OnProcessDetach(hModule);
        break;
    default:
        break;
    }
    return TRUE;
}

#else

#include <dlfcn.h>

namespace {

// The module's own handle, as the dynamic loader knows it.
HINSTANCE OwnHandle() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&OwnHandle), &info) || !info.dli_fname) return nullptr;
    // RTLD_NOLOAD only finds the loaded library; close at once so the
    // reference count stays the host's.
    void *handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle;
}

// dlsym on a library handle also searches the libraries it depends on; only
// a symbol that lies in this very module counts as its export.
vtal::ExitHook FindOwnExport(HINSTANCE self, const char *name) {
    if (!self) return nullptr;
    void *symbol = dlsym(self, name);
    if (!symbol) return nullptr;
    Dl_info symbolInfo{}, selfInfo{};
    if (!dladdr(symbol, &symbolInfo) || !dladdr(reinterpret_cast<void *>(&OwnHandle), &selfInfo))
        return nullptr;
    if (symbolInfo.dli_fbase != selfInfo.dli_fbase) return nullptr;
    return reinterpret_cast<vtal::ExitHook>(symbol);
}

HINSTANCE loadedAs = nullptr;

__attribute__((constructor)) void ModuleLoaded() {
    loadedAs = OwnHandle();
    vtal::OnProcessAttach(loadedAs, FindOwnExport);
}

__attribute__((destructor)) void ModuleUnloaded() { vtal::OnProcessDetach(loadedAs); }

}  // namespace

#endif
