#include "common/testing/netns.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>

#include "common/netif.h"

namespace {

std::string g_reason = "the network namespace was not set up";

class Namespace : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      g_reason = "probe tests need root (network namespace)";
    } else if (unshare(CLONE_NEWNET) != 0) {
      g_reason = "cannot create a network namespace here";
    } else if (system("ip link set lo up") != 0) {
      g_reason = "the ip tool (iproute2) is missing";
    } else {
      g_reason.clear();
    }
  }
};

const auto* const kEnvironment [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Namespace);

}  // namespace

const std::string& netns_skip_reason() { return g_reason; }

void sh(const std::string& command) { ASSERT_EQ(0, system(command.c_str())) << command; }

void await_if_status(const char* ifname, int status) {
  for (int i = 0; i < 200 && if_status(ifname) != status; ++i) usleep(10000);
}
