# Cross-compiling for 32-bit Windows with mingw-w64. The -posix compilers are the ones whose runtime
# has std::thread and std::mutex (the plain names use the win32 thread model, which lacks them).
# Tests run through Wine, so ctest runs them as it runs native ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(px_mingw_prefix i686-w64-mingw32)
set(CMAKE_C_COMPILER ${px_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${px_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${px_mingw_prefix}-windres)
set(CMAKE_AR ${px_mingw_prefix}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${px_mingw_prefix}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers come from the target's own folders and from what scripts/deps-win builds
# (PX_WIN_DEPS); programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${px_mingw_prefix})
if(PX_WIN_DEPS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${PX_WIN_DEPS})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PX_WIN_DEPS)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit file offsets. time_t stays the runtime's 32 bits, the width its threads library was built
# with (its timed waits take timespec values of that width): our times are int64_t throughout and
# reach the system through the 64-bit functions of the platform layer.
# Doubles computed in SSE2 registers, as on every other system we build for: the x87 unit's wider
# intermediates round percentages and rates differently.
set(px_mingw_flags "-D_FILE_OFFSET_BITS=64 -msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${px_mingw_flags}")
set(CMAKE_CXX_FLAGS_INIT "${px_mingw_flags}")

# Static runtime: the programs need only the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs of the build run under Wine through tools/wine-run (set by the top CMakeLists.txt, with the
# build's own prefix).
