# Cross-builds the 64-bit Windows console program with Debian's MinGW-w64
# toolchain, from the same sources as the 32-bit one (mingw-i686.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_prefix x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
