# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (the POSIX-thread
# flavour, which std::thread and Qt need). The libraries built for Windows
# come from ZARVIK_WIN64_PREFIXES, a list of install prefixes.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Try-compiles get the prefixes too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZARVIK_WIN64_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ZARVIK_WIN64_PREFIXES})
set(CMAKE_PREFIX_PATH ${ZARVIK_WIN64_PREFIXES})
# Programs run on the build machine; headers, libraries and packages must be
# the Windows ones, never the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL is linked for ASLR with a 64-bit address space and
# for DEP, keeps its relocation table (ASLR needs it) and carries no link
# time, so that two builds of the same sources give the same bytes. The
# flags are kept in a file of their own, which scripts/windows_toolchain.sh
# also hands to OpenSSL's build, the one library not built with CMake.
file(READ "${CMAKE_CURRENT_LIST_DIR}/pe_link_flags.txt" zarvik_pe_link_flags)
string(STRIP "${zarvik_pe_link_flags}" zarvik_pe_link_flags)
set(CMAKE_EXE_LINKER_FLAGS_INIT "${zarvik_pe_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${zarvik_pe_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${zarvik_pe_link_flags}")
