# Toolchain for the same static multi-call file for this machine's
# processor: x86-64, linked statically against musl, without libstdc++
# (cmake/musl-static.cmake). The virtual mesh's nodes run it.
#   cmake -S . -B build-musl-x86_64/static -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-musl.cmake
#         -DNODE_MUSL_ROOT=<musl made by scripts/musl.sh> -DLIBNL_ROOT=<libnl built against it>
#         -DNODE_TESTS=OFF
# Not a cross build: what it builds runs here (the libnl check does).
set(node_prefix "")
set(node_cxx_triplet x86_64-linux-gnu)
set(node_arch_flags "")
set(node_arch_libs "")
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
