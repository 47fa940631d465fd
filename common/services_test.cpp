#include "common/services.h"

#include <gtest/gtest.h>

#include "common/testing/fake_host.h"

TEST(Services, VlanScriptResultIsOneOnFailure) {
  FakeHost fake;
  ScopedHost scope(fake);
  EXPECT_EQ(0, service::_vlan(0));
  fake.exit_codes["/etc/init.d/vlan stop"] = 4;
  EXPECT_EQ(1, service::_vlan(1));
  EXPECT_EQ(1, service::_vlan(5));
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/vlan start", "/etc/init.d/vlan stop"}), fake.commands);
}

TEST(Services, DnsmasqReturnsTheShellStatus) {
  FakeHost fake;
  ScopedHost scope(fake);
  fake.exit_codes["/etc/init.d/dnsmasq restart"] = 1;
  EXPECT_EQ(0, service::_dnsmasq(0));
  EXPECT_EQ(0, service::_dnsmasq(1));
  EXPECT_EQ(1 << 8, service::_dnsmasq(2));
  EXPECT_EQ(2, service::_dnsmasq(5));
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/dnsmasq start", "/etc/init.d/dnsmasq stop",
                                      "/etc/init.d/dnsmasq restart"}),
            fake.commands);
}

TEST(Services, MasqueradeFlushesThenAddsAndReturnsTheSecondStatus) {
  FakeHost fake;
  ScopedHost scope(fake);
  fake.exit_codes["/usr/sbin/iptables -t nat -F"] = 1;
  fake.exit_codes["/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"] = 2;
  EXPECT_EQ(2 << 8, ip_masquerade());
  EXPECT_EQ((std::vector<std::string>{"/usr/sbin/iptables -t nat -F",
                                      "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"}),
            fake.commands);
}
