# Cross build for armv7 (arm-linux-gnueabihf), 32-bit, with 64-bit time_t and
# off_t (_TIME_BITS=64, _FILE_OFFSET_BITS=64): files of any date and size are
# stat'ed as on a 64-bit system. Otherwise as cmake/armv7.cmake.
#   cmake -S . -B build/armv7-time64 --toolchain cmake/armv7-time64.cmake
include(${CMAKE_CURRENT_LIST_DIR}/armv7.cmake)
string(APPEND CMAKE_CXX_FLAGS_INIT " -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
string(APPEND CMAKE_C_FLAGS_INIT " -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
