# The daemon as it ships to the handheld: an ARMv5TE core (XScale class),
# Linux with the EABI soft-float ABI, one static, stripped binary linked
# against Debian's musl for armel. musl's static C library is small and asks
# no more of the kernel than Linux 2.6.16 with EABI, where glibc's asks for
# 3.2; handhelds of this class often run 2.6 kernels.
#
# The daemon uses C++ only as a language: its standard headers (array, span,
# string_view) are used header-only from the cross g++, and no C++ runtime
# is linked. The C headers are musl's, the kernel's (linux/fb.h) come from
# the cross toolchain, and a termio.h of our own supplies the System V
# terminal record that musl lacks. Everything is linked by hand: musl's
# start files, libc.a and libgcc.a, nothing else.
include(${CMAKE_CURRENT_LIST_DIR}/arm-handheld.cmake)

set(PS2LINK_MUSL ON)
set(ps2link_musl_lib /usr/lib/arm-linux-musleabi)
set(ps2link_musl_include /usr/include/arm-linux-musleabi)
set(ps2link_cross_include /usr/arm-linux-gnueabi/include)

# Only the kernel's headers out of the cross toolchain's include directory,
# which also holds glibc's.
set(ps2link_kernel_include ${CMAKE_BINARY_DIR}/kernel-headers)
file(MAKE_DIRECTORY ${ps2link_kernel_include})
foreach(dir linux asm asm-generic)
  if(NOT EXISTS ${ps2link_kernel_include}/${dir})
    file(CREATE_LINK ${ps2link_cross_include}/${dir} ${ps2link_kernel_include}/${dir} SYMBOLIC)
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
                OUTPUT_VARIABLE ps2link_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_C_COMPILER} -march=armv5te -mfloat-abi=soft
                        -print-libgcc-file-name
                OUTPUT_VARIABLE ps2link_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpversion
                OUTPUT_VARIABLE ps2link_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[0-9]+" ps2link_gcc_major "${ps2link_gcc_version}")
set(ps2link_cxx_include ${ps2link_cross_include}/c++/${ps2link_gcc_major})

# C++ headers, the compiler's own, ours, musl's, the kernel's, in that
# order (the C++ headers include_next the C ones); no_glibc.h answers
# libstdc++'s question for glibc's version.
set(ps2link_musl_flags
  "-march=armv5te -mfloat-abi=soft -nostdinc -nostdinc++"
  "-isystem ${ps2link_cxx_include}"
  "-isystem ${ps2link_cxx_include}/arm-linux-gnueabi"
  "-isystem ${ps2link_gcc_include}"
  "-isystem ${CMAKE_CURRENT_LIST_DIR}/musl"
  "-isystem ${ps2link_musl_include}"
  "-isystem ${ps2link_kernel_include}"
  "-include ${CMAKE_CURRENT_LIST_DIR}/musl/no_glibc.h")
string(JOIN " " ps2link_musl_flags ${ps2link_musl_flags})
set(CMAKE_C_FLAGS_INIT "${ps2link_musl_flags}")
set(CMAKE_CXX_FLAGS_INIT "${ps2link_musl_flags}")

set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> -static -nostdlib \
${ps2link_musl_lib}/crt1.o ${ps2link_musl_lib}/crti.o <OBJECTS> -o <TARGET> <LINK_LIBRARIES> \
-Wl,--start-group ${ps2link_musl_lib}/libc.a ${ps2link_libgcc} -Wl,--end-group \
${ps2link_musl_lib}/crtn.o")
set(CMAKE_C_LINK_EXECUTABLE "${CMAKE_CXX_LINK_EXECUTABLE}")

# A compiler check would try to link a test program the ordinary way.
set(CMAKE_C_COMPILER_WORKS ON)
set(CMAKE_CXX_COMPILER_WORKS ON)
