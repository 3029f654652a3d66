# The handheld's CPU with glibc: the cross build of the unit tests and the
# transcripts (GoogleTest and the simulator's script reader need the C++
# runtime, which Debian builds for glibc only). Static, so that the emulator
# runs them without a sysroot. The daemon that ships is the musl build
# (arm-linux-musleabi.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/arm-handheld.cmake)

set(CMAKE_C_FLAGS_INIT "-march=armv5te")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
