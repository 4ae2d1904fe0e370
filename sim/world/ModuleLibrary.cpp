#include "sim/world/ModuleLibrary.h"

#include <dlfcn.h>

#include "sim/base/InputError.h"
#include "sim/files/ModuleFile.h"

namespace vtal::sim {

ModuleLibrary::ModuleLibrary(const std::string &path) : path_(path) {
    CheckModuleFile(path);  // never block on, nor be killed by, a file that is no library
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char *why = dlerror();
        throw InputError(At(path, 0, std::string("cannot load module: ") + (why ? why : "unknown error")));
    }
    ovcInit_ = reinterpret_cast<VESSEL *(*)(OBJHANDLE, int)>(dlsym(handle_, "ovcInit"));
    ovcExit_ = reinterpret_cast<void (*)(VESSEL *)>(dlsym(handle_, "ovcExit"));
    getModuleVersion_ = reinterpret_cast<int (*)()>(dlsym(handle_, "GetModuleVersion"));
    if (!ovcInit_ || !ovcExit_) {
        dlclose(handle_);
        handle_ = nullptr;
        throw InputError(At(path, 0, "not a vessel module (ovcInit or ovcExit missing)"));
    }
}

ModuleLibrary::~ModuleLibrary() {
    if (handle_) dlclose(handle_);
}

}  // namespace vtal::sim
