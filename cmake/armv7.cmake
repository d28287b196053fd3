# Cross build for armv7 (arm-linux-gnueabihf), 32-bit, as the older phones
# are: 32-bit time_t and off_t, so a file dated after 2038 or larger than
# 2 GiB cannot be stat'ed (EOVERFLOW). Everything is linked statically, and
# the tests run under qemu-user, which ctest starts for every test program.
#   cmake -S . -B build/armv7 --toolchain cmake/armv7.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(ZELVORA_CROSS_TRIPLE arm-linux-gnueabihf)
set(ZELVORA_CROSS_EMULATOR qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
# GCC notes where the passing of some arguments changed in GCC 7.1; that
# matters only when linking with code built by an older compiler, never here.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
