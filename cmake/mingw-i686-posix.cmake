# The MinGW-w64 toolchain with the posix thread model (std::thread, std::mutex
# over winpthreads), for the test DLLs that need threads. The shipped program
# keeps the win32 model (mingw-i686.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
