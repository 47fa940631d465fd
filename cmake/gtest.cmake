# GoogleTest: the system package natively, built from /usr/src/googletest when
# cross-compiling (the packaged libraries are x86-64 only).
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(node_gtest_main INTERFACE)
  target_link_libraries(node_gtest_main INTERFACE gtest_main gtest)
else()
  find_package(GTest REQUIRED)
  add_library(node_gtest_main INTERFACE)
  target_link_libraries(node_gtest_main INTERFACE GTest::gtest_main GTest::gtest)
endif()
