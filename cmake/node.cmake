# Flags and helpers shared by every folder.

# Warnings: errors in the test command (NODE_WERROR=ON), warnings for
# everyone else, whose compiler may know warnings ours does not. The fuzz
# build looks for faults, not warnings.
option(NODE_WERROR "Treat warnings as errors" OFF)
# Rows are written with designated initializers that name the fields they
# set and leave the others at their defaults; g++ 12 warns about each field
# left out, defaults or not.
set(NODE_WARNING_FLAGS -Wall -Wextra -Wno-missing-field-initializers)
if(NODE_WERROR AND NOT NODE_FUZZ)
  list(APPEND NODE_WARNING_FLAGS -Werror)
endif()

# Product code: small, no exceptions or RTTI, and the warnings OpenWrt's
# builds turn on.
set(NODE_PRODUCT_FLAGS ${NODE_WARNING_FLAGS} -Wformat-security -Wformat-nonliteral -Wmissing-declarations
    -Wimplicit-fallthrough -Wshadow -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
set(NODE_PRODUCT_LINK_FLAGS -Wl,--gc-sections)

# The static router build (cmake/mips-musl.cmake) links no libstdc++: the
# programs take operator new and delete and the like from common/cxx_runtime.cpp.
# Off elsewhere: libstdc++ has them, and the sanitizers put their own in.
option(NODE_CXX_RUNTIME "Link the product's own C++ run-time support instead of libstdc++'s" OFF)
if(NODE_CXX_RUNTIME)
  # Statics are set up without libstdc++'s guards (the daemons are single
  # threaded), and the compiler driver's own -lstdc++ and -lm, which the
  # programs no longer take anything from, are left out of a dynamic file's
  # needed libraries (the OpenWrt package declares libnl-tiny and the C library only).
  list(APPEND NODE_PRODUCT_FLAGS -fno-threadsafe-statics)
  list(APPEND NODE_PRODUCT_LINK_FLAGS -Wl,--as-needed)
endif()

option(NODE_LIBNL_TINY "Build against OpenWrt's libnl-tiny instead of libnl-3 and libnl-genl-3" OFF)

find_package(PkgConfig REQUIRED)
if(NOT TARGET libnl::genl)
  if(NODE_LIBNL_TINY)
    # OpenWrt's staging tree: include/libnl-tiny and libnl-tiny.so.
    find_path(NODE_LIBNL_TINY_INCLUDE netlink/genl/genl.h PATH_SUFFIXES libnl-tiny)
    find_library(NODE_LIBNL_TINY_LIBRARY nl-tiny)
    if(NOT NODE_LIBNL_TINY_INCLUDE OR NOT NODE_LIBNL_TINY_LIBRARY)
      message(FATAL_ERROR "NODE_LIBNL_TINY=ON, but libnl-tiny was not found: headers "
                          "(libnl-tiny/netlink/genl/genl.h): ${NODE_LIBNL_TINY_INCLUDE}, library (libnl-tiny): "
                          "${NODE_LIBNL_TINY_LIBRARY}")
    endif()
    add_library(libnl::genl INTERFACE IMPORTED)
    set_target_properties(libnl::genl PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${NODE_LIBNL_TINY_INCLUDE}"
      INTERFACE_LINK_LIBRARIES "${NODE_LIBNL_TINY_LIBRARY}")
  elseif(LIBNL_ROOT)
    # Cross build: the static libnl made by scripts/mips.sh.
    foreach(f lib/libnl-3.a lib/libnl-genl-3.a include/libnl3/netlink/genl/genl.h)
      if(NOT EXISTS ${LIBNL_ROOT}/${f})
        message(FATAL_ERROR "LIBNL_ROOT=${LIBNL_ROOT} holds no ${f}")
      endif()
    endforeach()
    add_library(libnl::nl STATIC IMPORTED)
    set_target_properties(libnl::nl PROPERTIES
      IMPORTED_LOCATION "${LIBNL_ROOT}/lib/libnl-3.a"
      INTERFACE_INCLUDE_DIRECTORIES "${LIBNL_ROOT}/include/libnl3"
      INTERFACE_LINK_LIBRARIES "pthread;m")
    add_library(libnl::genl STATIC IMPORTED)
    set_target_properties(libnl::genl PROPERTIES
      IMPORTED_LOCATION "${LIBNL_ROOT}/lib/libnl-genl-3.a"
      INTERFACE_LINK_LIBRARIES libnl::nl)
    # A libnl built for another processor or without its generic netlink part
    # fails here, at configure time, instead of in the first program that links it.
    try_run(NODE_LIBNL_RUNS NODE_LIBNL_LINKS ${CMAKE_BINARY_DIR}/libnl-check
      ${CMAKE_CURRENT_LIST_DIR}/libnl_check.c
      LINK_LIBRARIES libnl::genl
      COMPILE_OUTPUT_VARIABLE libnl_compile_output
      RUN_OUTPUT_VARIABLE libnl_run_output)
    if(NOT NODE_LIBNL_LINKS)
      message(FATAL_ERROR "the libnl of LIBNL_ROOT=${LIBNL_ROOT} does not link:\n${libnl_compile_output}")
    elseif(NOT NODE_LIBNL_RUNS EQUAL 0)
      message(FATAL_ERROR "the libnl of LIBNL_ROOT=${LIBNL_ROOT} links but its check fails "
                          "(${NODE_LIBNL_RUNS}): ${libnl_run_output}")
    endif()
    message(STATUS "libnl from ${LIBNL_ROOT}: links and builds a generic netlink message")
  else()
    pkg_check_modules(LIBNL REQUIRED IMPORTED_TARGET libnl-genl-3.0)
    add_library(libnl::genl ALIAS PkgConfig::LIBNL)
  endif()
endif()

# NODE_LINK_MAPS=ON: each program's linker map in <build>/maps, from which
# scripts/mips.sh tells our own bytes from libnl's.
option(NODE_LINK_MAPS "Write a linker map for each program" OFF)

# <build>/node_programs.txt: one line per program (name, binary, map), written
# once every folder has registered its programs.
function(node_write_program_list)
  get_property(programs GLOBAL PROPERTY NODE_PROGRAMS)
  set(lines "")
  foreach(p IN LISTS programs)
    string(APPEND lines "${p} $<TARGET_FILE:${p}> ${CMAKE_BINARY_DIR}/maps/${p}.map\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/node_programs.txt CONTENT "${lines}")
  # <build>/node_libraries.txt: the product's static libraries, one a line
  # (scripts/mips.sh looks for FPU instructions in them).
  get_property(libraries GLOBAL PROPERTY NODE_LIBRARIES)
  set(lines "")
  foreach(l IN LISTS libraries)
    string(APPEND lines "$<TARGET_FILE:${l}>\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/node_libraries.txt CONTENT "${lines}")
  # What the emulated (cross) tier builds and runs: the programs and the
  # tests that run under qemu; program tests start binaries and need a native host.
  get_property(unit GLOBAL PROPERTY NODE_TESTS_unit)
  get_property(probe GLOBAL PROPERTY NODE_TESTS_probe)
  add_custom_target(emulated_tier DEPENDS ${programs} ${unit} ${probe})
  # The whole-program tests alone, which scripts/mips.sh runs natively
  # against the router's static file (NODE_PROGRAMS_DIR).
  get_property(program_tests GLOBAL PROPERTY NODE_TESTS_program)
  add_custom_target(program_tests DEPENDS ${program_tests})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL node_write_program_list)

# The libraries that hold the programs' rows: the library's own tests check
# each program's variant of the shared code through them.
set(NODE_PROGRAM_ROWS controllercore lonelysearch portsensecore clientscoutcore ifcountercore watchdogcore voucher)

# node_library(name SOURCES ... LIBS ...): a static library of product code.
function(node_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${NODE_PRODUCT_FLAGS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  set_property(GLOBAL APPEND PROPERTY NODE_LIBRARIES ${name})
endfunction()

# node_program(name SOURCES ... LIBS ...): one of the shipped programs.
function(node_program name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${NODE_PRODUCT_FLAGS})
  target_link_options(${name} PRIVATE ${NODE_PRODUCT_LINK_FLAGS})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  if(NODE_CXX_RUNTIME)
    target_link_libraries(${name} PRIVATE nodecxxruntime)
  endif()
  if(NODE_LINK_MAPS)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/maps)
    target_link_options(${name} PRIVATE -Wl,-Map=${CMAKE_BINARY_DIR}/maps/${name}.map)
  endif()
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
  target_compile_options(${name} PRIVATE ${NODE_WARNING_FLAGS})
  target_link_libraries(${name} PRIVATE ${A_LIBS} node_gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${A_LABEL} TIMEOUT 600)
  set_property(GLOBAL APPEND PROPERTY NODE_TESTS_${A_LABEL} ${name})
endfunction()
