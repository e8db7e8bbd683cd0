# The 64-bit MinGW-w64 toolchain with the posix thread model, for the test
# DLLs that need threads; the shipped program keeps the win32 model
# (mingw-x86_64.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
