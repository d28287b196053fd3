# Cross build for arm64 (aarch64-linux-gnu). Everything is linked statically,
# and the tests run under qemu-user, which ctest starts for every test program.
#   cmake -S . -B build/arm64 --toolchain cmake/arm64.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZELVORA_CROSS_TRIPLE aarch64-linux-gnu)
set(ZELVORA_CROSS_EMULATOR qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
