# Toolchain for the router's one static file: 32-bit big-endian MIPS without
# an FPU, soft-float, linked statically against musl, without libstdc++.
#   cmake -S . -B build-mips/static -DCMAKE_TOOLCHAIN_FILE=cmake/mips-musl.cmake
#         -DNODE_MUSL_ROOT=<musl made by scripts/musl.sh> -DLIBNL_ROOT=<libnl built against it>
#         -DNODE_TESTS=OFF
# Debian's mips-linux-gnu cross compiler compiles and links; only its C++
# headers are used (the product takes <cstring>, <cstdio> and the like from
# them, which defer to musl's C headers), its glibc and libstdc++ are not.
# common/cxx_runtime.cpp holds the little C++ run-time support the product needs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

# try_compile projects read this file again: hand them the cache's place.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NODE_MUSL_ROOT)
if(NOT NODE_MUSL_ROOT OR NOT EXISTS "${NODE_MUSL_ROOT}/lib/libc.a" OR NOT EXISTS "${NODE_MUSL_ROOT}/lib/libsoftfp.a")
  message(FATAL_ERROR "NODE_MUSL_ROOT=${NODE_MUSL_ROOT} holds no MIPS musl (lib/libc.a, lib/libsoftfp.a): "
                      "scripts/mips.sh builds one")
endif()

set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)
# The product's static libraries hold link-time optimization objects.
set(CMAKE_AR mips-linux-gnu-gcc-ar)
set(CMAKE_RANLIB mips-linux-gnu-gcc-ranlib)

execute_process(COMMAND mips-linux-gnu-gcc -dumpversion OUTPUT_VARIABLE node_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND mips-linux-gnu-gcc -print-file-name=include OUTPUT_VARIABLE node_gcc_include
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND mips-linux-gnu-gcc -print-file-name=crtbeginT.o OUTPUT_VARIABLE node_crtbegin
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND mips-linux-gnu-gcc -print-file-name=crtend.o OUTPUT_VARIABLE node_crtend
                OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[0-9]+" node_gcc_major "${node_gcc_version}")
set(node_cxx_include /usr/mips-linux-gnu/include/c++/${node_gcc_major})
if(NOT EXISTS ${node_cxx_include}/cstring)
  message(FATAL_ERROR "no C++ headers of the cross compiler in ${node_cxx_include}")
endif()

# Soft-float (the router's 24Kc core has no FPU); a fixed-address executable
# (the compiler's default is position independent, whose calls and data go
# through the GOT); the 16-bit MIPS16e encoding, which the 24Kc runs and
# OpenWrt builds MIPS32r2 packages with, about a quarter smaller than 32-bit
# code; small, and whatever the linker can drop dropped; no unwind tables,
# as nothing unwinds. musl stays 32-bit code (its assembly is), and calls
# into our code only through pointers, which switch the encoding.
set(node_common "-msoft-float -fno-pie -mips16 -minterlink-mips16 -flto -ffunction-sections -fdata-sections -fno-unwind-tables -fno-asynchronous-unwind-tables")
set(node_c_include "-isystem ${NODE_MUSL_ROOT}/include -isystem ${node_gcc_include}")
set(CMAKE_C_FLAGS_INIT "${node_common} -nostdinc ${node_c_include}")
# The C++ headers were configured for glibc and ask for its version with
# __GLIBC_PREREQ, which musl has not: to them, this C library is no glibc.
set(CMAKE_CXX_FLAGS_INIT "${node_common} -fno-exceptions -fno-rtti -fno-threadsafe-statics \
\"-D__GLIBC_PREREQ(major, minor)=0\" -nostdinc \
-isystem ${node_cxx_include} -isystem ${node_cxx_include}/mips-linux-gnu ${node_c_include}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--gc-sections")

# Linked by the compiler driver without its default libraries and start
# files: musl's start files around gcc's, musl's libc, the soft-float
# routines ahead of libgcc (whose own are built for a hard-float system).
set(node_link_head "-nostdlib ${NODE_MUSL_ROOT}/lib/crt1.o ${NODE_MUSL_ROOT}/lib/crti.o ${node_crtbegin}")
set(node_link_tail "-L${NODE_MUSL_ROOT}/lib -Wl,--start-group -lc -lsoftfp -lgcc -Wl,--end-group \
${node_crtend} ${NODE_MUSL_ROOT}/lib/crtn.o")
set(CMAKE_C_LINK_EXECUTABLE
    "<CMAKE_C_COMPILER> <FLAGS> <CMAKE_C_LINK_FLAGS> <LINK_FLAGS> ${node_link_head} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${node_link_tail}")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> ${node_link_head} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${node_link_tail}")

# The product's own operator new and delete and the like (common/cxx_runtime.cpp).
set(NODE_CXX_RUNTIME ON CACHE BOOL "Link the product's own C++ run-time support instead of libstdc++'s")

set(CMAKE_FIND_ROOT_PATH ${NODE_MUSL_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The files are static: qemu runs them without a loader's root, as the
# router's processor (a 24Kc, without an FPU).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -cpu 24Kc)
