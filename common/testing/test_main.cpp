// The main of every test program: no test acts on this machine through the
// host or the kernel unless it says so.
#include <gtest/gtest.h>

#include "common/testing/refusing.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  set_default_host(&refusing_host());
  set_default_kernel(&refusing_kernel());
  return RUN_ALL_TESTS();
}
