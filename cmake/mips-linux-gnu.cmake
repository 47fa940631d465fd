# Toolchain for the router's processor: 32-bit big-endian MIPS, built with
# Debian's mips-linux-gnu cross compiler (g++-mips-linux-gnu).
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-gnu.cmake
#         -DLIBNL_ROOT=<static libnl made by scripts/mips.sh>
# Binaries link dynamically against the cross C library in /usr/mips-linux-gnu,
# as they link against the device's C library, and run on this machine through
# qemu user-mode emulation with that folder as the loader's root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

# Routers' small C libraries (musl) have a 64-bit off_t and time_t beside the
# 32-bit long; glibc gives the same with these two. Without a 64-bit off_t,
# readdir fails with EOVERFLOW under qemu on a 64-bit host, whose file systems
# hand out 64-bit directory offsets. scripts/mips.sh builds libnl with them too.
set(NODE_TARGET_DEFINES "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_C_FLAGS_INIT "${NODE_TARGET_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${NODE_TARGET_DEFINES}")

set(NODE_TARGET_ROOT /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${NODE_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest (and try_run) start the target's binaries through this.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L ${NODE_TARGET_ROOT})
