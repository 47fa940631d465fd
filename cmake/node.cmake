# Flags and helpers shared by every folder.

# Product code: small, no exceptions or RTTI, warnings are errors.
set(NODE_PRODUCT_FLAGS -Wall -Wextra -Werror -fno-exceptions -fno-rtti
    -ffunction-sections -fdata-sections)
set(NODE_PRODUCT_LINK_FLAGS -Wl,--gc-sections)

find_package(PkgConfig REQUIRED)
if(NOT TARGET libnl::genl)
  if(LIBNL_ROOT)
    # Cross build: static libnl made by scripts/mips.sh.
    add_library(libnl::genl INTERFACE IMPORTED)
    set_target_properties(libnl::genl PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${LIBNL_ROOT}/include/libnl3"
      INTERFACE_LINK_LIBRARIES "${LIBNL_ROOT}/lib/libnl-genl-3.a;${LIBNL_ROOT}/lib/libnl-3.a;pthread;m")
  else()
    pkg_check_modules(LIBNL REQUIRED IMPORTED_TARGET libnl-genl-3.0)
    add_library(libnl::genl ALIAS PkgConfig::LIBNL)
  endif()
endif()

# node_library(name SOURCES ... LIBS ...): a static library of product code.
function(node_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${NODE_PRODUCT_FLAGS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# node_program(name SOURCES ... LIBS ...): one of the shipped programs.
function(node_program name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${NODE_PRODUCT_FLAGS})
  target_link_options(${name} PRIVATE ${NODE_PRODUCT_LINK_FLAGS})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  set_property(GLOBAL APPEND PROPERTY NODE_PROGRAMS ${name})
endfunction()

# node_test(name LABEL unit|probe|program SOURCES ... LIBS ...): a GoogleTest binary.
# Unit tests run everywhere (also under qemu-mips); probe tests need root and a
# network namespace; program tests start real binaries.
function(node_test name)
  if(NOT NODE_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(${name} PRIVATE ${A_LIBS} node_gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${A_LABEL} TIMEOUT 600)
endfunction()
