# What the cross toolchain files share: Debian's cross compilers for
# ${ZELVORA_CROSS_TRIPLE} (g++-<triple>), static linking, and qemu-user
# (qemu-user-static) to run the target's programs, so ctest and the build's
# own test listing work as in a native build folder. Only what needs nothing
# beyond the C++ library is built (ZELVORA_PORTABLE_ONLY follows
# CMAKE_CROSSCOMPILING).
set(CMAKE_C_COMPILER ${ZELVORA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZELVORA_CROSS_TRIPLE}-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(ZELVORA_CROSS_EMULATOR_PATH ${ZELVORA_CROSS_EMULATOR} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVORA_CROSS_EMULATOR_PATH})

set(CMAKE_FIND_ROOT_PATH /usr/${ZELVORA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
