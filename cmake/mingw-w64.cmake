# Cross-compiling for Windows with mingw-w64 (win32 thread model), used by
# scripts/build-windows. THUMB_MINGW_ARCH is x64 (default) or x86 (32-bit). THUMB_MINGW_DEPS
# names the folder where that script stages the target's own libraries (include/, lib/,
# lib/pkgconfig/); it is searched like a sysroot.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT THUMB_MINGW_ARCH)
  set(THUMB_MINGW_ARCH x64)
endif()

# Flags for every object of the target, the dependencies' too (scripts/build-windows reads
# these lines). x86: SSE2 doubles instead of x87, so results round as on x64 (SSE2 is what
# Windows 8 and later require anyway); and a caller's stack may be only 4-byte aligned
# (the 32-bit Windows ABI), so a function that needs more realigns it itself.
set(THUMB_MINGW_FLAGS_x64 "")
set(THUMB_MINGW_FLAGS_x86 "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")

if(THUMB_MINGW_ARCH STREQUAL "x64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(THUMB_MINGW_TRIPLE x86_64-w64-mingw32)
  set(THUMB_MINGW_BUILD_SUFFIX "")
elseif(THUMB_MINGW_ARCH STREQUAL "x86")
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(THUMB_MINGW_TRIPLE i686-w64-mingw32)
  set(THUMB_MINGW_BUILD_SUFFIX -x86)
else()
  message(FATAL_ERROR "THUMB_MINGW_ARCH must be x64 or x86, not '${THUMB_MINGW_ARCH}'")
endif()
set(CMAKE_C_FLAGS_INIT "${THUMB_MINGW_FLAGS_${THUMB_MINGW_ARCH}}")
set(CMAKE_CXX_FLAGS_INIT "${THUMB_MINGW_FLAGS_${THUMB_MINGW_ARCH}}")
# The win32 thread model: the posix model links the POSIX thread layer (winpthreads) into
# the DLL, whose start-up takes a TLS slot, a heap block and a thread record (an event and a
# duplicated thread handle) at every load and never gives them back; a host that loads the
# DLL a thousand times dies in LoadLibrary. Nothing built here uses std::thread, std::mutex
# or std::condition_variable, which this model lacks in GCC 12 (the pools use slim locks, the
# tools CreateThread). scripts/build-windows reads this line.
set(THUMB_MINGW_THREADS win32)
set(CMAKE_C_COMPILER ${THUMB_MINGW_TRIPLE}-gcc-${THUMB_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${THUMB_MINGW_TRIPLE}-g++-${THUMB_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${THUMB_MINGW_TRIPLE}-windres)

if(NOT THUMB_MINGW_DEPS)
  if(DEFINED ENV{THUMB_MINGW_DEPS})
    set(THUMB_MINGW_DEPS $ENV{THUMB_MINGW_DEPS})
  else()
    set(THUMB_MINGW_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build-windows${THUMB_MINGW_BUILD_SUFFIX}/deps)
  endif()
endif()
get_filename_component(THUMB_MINGW_DEPS "${THUMB_MINGW_DEPS}" ABSOLUTE)
# try_compile projects read this file again; hand the value on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES THUMB_MINGW_DEPS THUMB_MINGW_ARCH)

# Libraries and headers only from the target's own trees; programs (flatc) from the host.
set(CMAKE_FIND_ROOT_PATH ${THUMB_MINGW_DEPS} /usr/${THUMB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${THUMB_MINGW_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The DLL is loaded into the shell's process on a machine that has none of the compiler's
# run-time DLLs: link libstdc++, libgcc and winpthread (and every other library) statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
