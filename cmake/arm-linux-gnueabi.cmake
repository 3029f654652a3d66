# Cross build for the handheld: an ARMv5TE core (XScale class) running
# Linux with the EABI soft-float ABI. The daemon ships as one static,
# stripped binary so that it needs nothing from the handheld's C library;
# the test programs are static too, so an emulator runs them without a
# sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv5te)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

set(CMAKE_C_FLAGS_INIT "-march=armv5te")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The unit tests run on the build machine through the user-mode emulator,
# with the CPU model of the handheld so that no newer instruction slips in.
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
