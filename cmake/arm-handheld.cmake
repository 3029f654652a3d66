# What both ARM toolchains share: the handheld's CPU, the emulator that runs
# the cross-built tests on the build machine, and where to look for headers
# and libraries. Included by arm-linux-gnueabi.cmake and
# arm-linux-musleabi.cmake.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv5te)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

# Tests run through the user-mode emulator, with the CPU model of the
# handheld so that no newer instruction slips in.
find_program(PS2LINK_QEMU_ARM qemu-arm)
if(PS2LINK_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PS2LINK_QEMU_ARM} -cpu pxa270)
endif()

# Headers and libraries come from the cross toolchain only; programs
# (code generators, the emulator) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
