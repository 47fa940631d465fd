# Toolchain for the router's one static file: 32-bit big-endian MIPS without
# an FPU, soft-float, linked statically against musl, without libstdc++
# (cmake/musl-static.cmake).
#   cmake -S . -B build-mips/static -DCMAKE_TOOLCHAIN_FILE=cmake/mips-musl.cmake
#         -DNODE_MUSL_ROOT=<musl made by scripts/musl.sh> -DLIBNL_ROOT=<libnl built against it>
#         -DNODE_TESTS=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

if(NODE_MUSL_ROOT AND NOT EXISTS "${NODE_MUSL_ROOT}/lib/libsoftfp.a")
  message(FATAL_ERROR "NODE_MUSL_ROOT=${NODE_MUSL_ROOT} holds no lib/libsoftfp.a: scripts/mips.sh builds a MIPS musl")
endif()

set(node_prefix mips-linux-gnu-)
set(node_cxx_triplet mips-linux-gnu)
# Soft-float (the router's 24Kc core has no FPU); the 16-bit MIPS16e
# encoding, which the 24Kc runs and OpenWrt builds MIPS32r2 packages with,
# about a quarter smaller than 32-bit code. musl stays 32-bit code (its
# assembly is), and calls into our code only through pointers, which switch
# the encoding.
set(node_arch_flags "-msoft-float -mips16 -minterlink-mips16")
# The soft-float routines ahead of libgcc (whose own are built for a hard-float system).
set(node_arch_libs -lsoftfp)
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)

# The files are static: qemu runs them without a loader's root, as the
# router's processor (a 24Kc, without an FPU).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -cpu 24Kc)
