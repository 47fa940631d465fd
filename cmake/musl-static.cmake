# The body of the static musl toolchains (cmake/mips-musl.cmake for the
# router, cmake/x86_64-musl.cmake for this machine's processor): the product
# linked statically against a musl cache made by scripts/musl.sh, without
# libstdc++. The including file sets
#   node_prefix       the compiler's prefix ("mips-linux-gnu-" or "")
#   node_cxx_triplet  the folder of the compiler's target C++ headers
#   node_arch_flags   the processor's code generation flags
#   node_arch_libs    libraries linked ahead of libgcc
# The compiler compiles and links; only its C++ headers are used (the product
# takes <cstring>, <cstdio> and the like from them, which defer to musl's C
# headers), its glibc and libstdc++ are not. common/cxx_runtime.cpp holds the
# little C++ run-time support the product needs.

# try_compile projects read the toolchain file again: hand them the cache's place.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NODE_MUSL_ROOT)
if(NOT NODE_MUSL_ROOT OR NOT EXISTS "${NODE_MUSL_ROOT}/lib/libc.a" OR NOT EXISTS "${NODE_MUSL_ROOT}/lib/crt1.o")
  message(FATAL_ERROR "NODE_MUSL_ROOT=${NODE_MUSL_ROOT} holds no musl (lib/libc.a, lib/crt1.o): "
                      "scripts/musl.sh's build_musl makes one")
endif()

set(CMAKE_C_COMPILER ${node_prefix}gcc)
set(CMAKE_CXX_COMPILER ${node_prefix}g++)
# The product's static libraries hold link-time optimization objects.
set(CMAKE_AR ${node_prefix}gcc-ar)
set(CMAKE_RANLIB ${node_prefix}gcc-ranlib)

foreach(query dumpversion print-file-name=include print-file-name=crtbeginT.o print-file-name=crtend.o)
  execute_process(COMMAND ${node_prefix}gcc -${query} OUTPUT_VARIABLE answer OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND node_answers "${answer}")
endforeach()
list(GET node_answers 0 node_gcc_version)
list(GET node_answers 1 node_gcc_include)
list(GET node_answers 2 node_crtbegin)
list(GET node_answers 3 node_crtend)
string(REGEX MATCH "^[0-9]+" node_gcc_major "${node_gcc_version}")
if(node_prefix)
  set(node_cxx_include /usr/${node_cxx_triplet}/include/c++/${node_gcc_major})
  set(node_cxx_target_include ${node_cxx_include}/${node_cxx_triplet})
else()
  set(node_cxx_include /usr/include/c++/${node_gcc_major})
  set(node_cxx_target_include /usr/include/${node_cxx_triplet}/c++/${node_gcc_major})
endif()
if(NOT EXISTS ${node_cxx_include}/cstring OR NOT EXISTS ${node_cxx_target_include}/bits/c++config.h)
  message(FATAL_ERROR "no C++ headers of ${node_prefix}g++ in ${node_cxx_include} and ${node_cxx_target_include}")
endif()

# A fixed-address executable (the compiler's default is position
# independent, whose calls and data go through the GOT); small, and whatever
# the linker can drop dropped; no unwind tables, as nothing unwinds.
set(node_common "${node_arch_flags} -fno-pie -flto -ffunction-sections -fdata-sections -fno-unwind-tables -fno-asynchronous-unwind-tables")
set(node_c_include "-isystem ${NODE_MUSL_ROOT}/include -isystem ${node_gcc_include}")
set(CMAKE_C_FLAGS_INIT "${node_common} -nostdinc ${node_c_include}")
# The C++ headers were configured for glibc and ask for its version with
# __GLIBC_PREREQ, which musl has not: to them, this C library is no glibc.
set(CMAKE_CXX_FLAGS_INIT "${node_common} -fno-exceptions -fno-rtti -fno-threadsafe-statics \
\"-D__GLIBC_PREREQ(major, minor)=0\" -nostdinc \
-isystem ${node_cxx_include} -isystem ${node_cxx_target_include} ${node_c_include}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -no-pie -Wl,--gc-sections")

# Linked by the compiler driver without its default libraries and start
# files: musl's start files around gcc's, musl's libc, the processor's own
# libraries, libgcc.
set(node_link_head "-nostdlib ${NODE_MUSL_ROOT}/lib/crt1.o ${NODE_MUSL_ROOT}/lib/crti.o ${node_crtbegin}")
set(node_link_tail "-L${NODE_MUSL_ROOT}/lib -Wl,--start-group -lc ${node_arch_libs} -lgcc -Wl,--end-group \
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
