// The LAN block against real interfaces (eth0 and br-lan as veth pairs) in a
// network namespace of this test's own. Needs root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/testing/netns.h"
#include "common/testing/fake_host.h"
#include "controller/filter_settings.h"

namespace {

class LanBlockProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_NETNS();
    remove_links({"eth0", "br-lan"});
    add_veth("eth0", true);
    add_veth("br-lan", false, "", "192.168.1.1/24");
    fake.uci["dhcp.pub.ipaddr"] = "10.3.48.1";
    fake.uci["dhcp.pub.netmask"] = "255.255.252.0";
    fake.uci["dhcp.priv.ipaddr"] = "10.3.52.1";
    fake.uci["dhcp.priv.netmask"] = "255.255.252.0";
  }
  std::vector<std::string> runs() const {
    std::vector<std::string> out;
    for (const std::string& e : fake.events) {
      if (e.rfind("run ", 0) == 0) out.push_back(e.substr(4));
    }
    return out;
  }
  FakeHost fake;  // uci and the firewall commands; the interfaces are real
  ScopedHost scope{fake};
};

}  // namespace

TEST_F(LanBlockProbe, RulesUseTheAddressOfBrLanWhileEth0Runs) {
  EXPECT_EQ(0, apply_lan_block(1));
  EXPECT_EQ((std::vector<std::string>{"iptables -A FORWARD -s 10.3.48.0/22 -d 192.168.1.0/24 -j DROP",
                                      "iptables -A FORWARD -s 10.3.52.0/22 -d 192.168.1.0/24 -j DROP"}),
            runs());
  EXPECT_EQ("LAN 192.168.1.0/24\nPublic 10.3.48.0/22\nPrivate 10.3.52.0/22\n", fake.stdout_text);
}

TEST_F(LanBlockProbe, Eth0WithoutCarrierOrMissingChangesNothing) {
  set_cable("eth0", false);
  EXPECT_EQ(1, apply_lan_block(1));
  sh("ip link del eth0");
  EXPECT_EQ(1, apply_lan_block(0));
  EXPECT_TRUE(runs().empty());
}
