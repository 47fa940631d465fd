// The main of every test program: no test acts on this machine through the
// host or the kernel unless it says so, and every test chooses the row of
// the program whose code it runs.
#include <gtest/gtest.h>

#include "common/profile.h"
#include "common/testing/refusing.h"
#include "common/transport.h"

namespace {

const ProgramProfile& missing_row() {
  ADD_FAILURE() << "the code under test asked for the program's row before the test chose one (set_profile)";
  static const ProgramProfile neutral = {.name = "no row chosen"};
  return neutral;
}

// Each test starts without a row, one that forgot to choose is caught
// instead of running with the row of the test before it, and with the
// dashboard where the node has it.
class ForgetRow : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    clear_profile();
    dashboard_link() = DashboardLink{};
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  set_default_host(&refusing_host());
  set_default_kernel(&refusing_kernel());
  set_missing_profile_handler(missing_row);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ForgetRow);
  return RUN_ALL_TESTS();
}
