# Toolchain file for Cortex-M firmware with Debian's gcc-arm-none-eabi (and for C, its
# libnewlib-arm-none-eabi): no operating system, and nothing links without the project's own
# linker script and start-up code.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
# The compiler checks build a library, as no program links without that script.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(cpu "-mcpu=cortex-m3 -mthumb")
set(CMAKE_C_FLAGS_INIT "${cpu}")
set(CMAKE_CXX_FLAGS_INIT "${cpu}")
set(CMAKE_ASM_FLAGS_INIT "${cpu}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${cpu}")

# Libraries, headers and packages for the target come from the toolchain's root, programs from
# the build host.
set(CMAKE_FIND_ROOT_PATH /usr/lib/arm-none-eabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
