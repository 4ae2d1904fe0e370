# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers. The
# resulting programs run on this machine through Wine, which CTest calls as the
# cross-compiling emulator.
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The compilers of the POSIX thread model: their C++ library has std::mutex
# and std::thread (which GoogleTest uses); the win32 model's has not.
set(VTAL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VTAL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VTAL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VTAL_MINGW_TRIPLET}-windres)

# Libraries and headers come only from the MinGW sysroot, never from the
# build machine's own; programs (objdump, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VTAL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libstdc++, libgcc, winpthread) is linked into every
# DLL and program, so nothing but the system DLLs and our own must be found at
# run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Wine's 64-bit loader. Debian's wine64 package installs it outside PATH; the
# plain `wine` command wants the 32-bit half, which is not needed here.
find_program(VTAL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VTAL_WINE64)
  find_program(VTAL_WINE64 NAMES wine64)
endif()

# The Wine prefix lives in the build tree: the first program started creates
# it, every later one reuses it. Debug channels stay quiet, and the .NET and
# HTML engines, which Wine would offer to download, are switched off.
if(NOT VTAL_WINEPREFIX)
  set(VTAL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endif()
if(VTAL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env
    WINEPREFIX=${VTAL_WINEPREFIX}
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=
    ${VTAL_WINE64})
endif()
