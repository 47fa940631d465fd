# GoogleTest: the system package natively, built from /usr/src/googletest when
# cross-compiling (the packaged libraries are x86-64 only).
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(node_gtest INTERFACE)
  target_link_libraries(node_gtest INTERFACE gtest)
else()
  find_package(GTest REQUIRED)
  add_library(node_gtest INTERFACE)
  target_link_libraries(node_gtest INTERFACE GTest::gtest)
endif()
# node_gtest_main (common/CMakeLists.txt): the main of every test program,
# which makes the host refuse until a test installs one.
