#include "common/testing/netns.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>

#include "common/linux_kernel.h"
#include "common/netif.h"
#include "common/testing/fake_kernel.h"

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

bool await_if_status(const char* ifname, int status) {
  ScopedKernel real(linux_kernel());
  for (int i = 0; i < 500; ++i) {
    if (if_status(ifname) == status) return true;
    usleep(10000);
  }
  return false;
}

void add_veth(const std::string& ifname, bool cable, const std::string& mac, const std::string& address) {
  sh("ip link add " + ifname + (mac.empty() ? "" : " address " + mac) + " type veth peer name " + ifname + "-peer");
  if (!address.empty()) sh("ip addr add " + address + " dev " + ifname);
  sh("ip link set " + ifname + " up");
  if (cable) set_cable(ifname, true);
}

void set_cable(const std::string& ifname, bool in) {
  sh("ip link set " + ifname + "-peer " + (in ? "up" : "down"));
  ASSERT_TRUE(await_if_status(ifname.c_str(), in ? 1 : 0)) << ifname << " never became " << (in ? "running" : "idle");
}

void remove_links(const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    if (system(("ip link del " + n + " 2>/dev/null").c_str()) != 0) {
    }
  }
}
