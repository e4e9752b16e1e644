# 32-bit ARM (armhf) cross build with Debian's cross compiler. Libraries come
# from Debian multiarch (/usr/lib/arm-linux-gnueabihf, packages NAME:armhf), so
# the find root stays "/" and CMake picks the arm-linux-gnueabihf directories
# through CMAKE_LIBRARY_ARCHITECTURE. Binaries run under qemu-arm; without
# binfmt the emulator has to be named for every test command.
#
# At run time the loader and the C library must come from the same glibc build.
# Multiarch libc6:armhf (pulled in by the armhf libraries) puts both under /lib,
# and the system's loader cache points there, so qemu runs the binaries against
# the root: "-L /usr/arm-linux-gnueabihf" would pair the cross package's loader
# with the multiarch libc, whose versions differ, and crash at start-up. "-L /"
# also overrides a qemu-binfmt prefix that may point at the cross tree.
#   cmake -S . -B build/arm -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ZOL_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${ZOL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZOL_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZOL_CROSS_TRIPLE})

# The cross compiler's own C library and the multiarch tree.
set(CMAKE_FIND_ROOT_PATH /usr/${ZOL_CROSS_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZOL_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOL_QEMU_ARM} -L /)
