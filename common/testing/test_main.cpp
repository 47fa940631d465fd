// The main of every test program: no test acts on this machine through the
// host unless it says so.
#include <gtest/gtest.h>

#include "common/testing/refusing_host.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  set_default_host(&refusing_host());
  return RUN_ALL_TESTS();
}
