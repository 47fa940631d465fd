#include "controller/settings/netmask.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/testing/fake_host.h"

namespace {

struct Case {
  const char* address;
  const char* netmask;
  int prefix;
  const char* network;  // "" when out stays as it was
  int result;           // of network_address
  const char* err;      // printed by each of the two
};

const Case kCases[] = {
    {"10.1.2.3", "255.255.252.0", 22, "10.1.0.0", 0, ""},
    {"10.1.2.3", "22", 22, "10.1.0.0", 0, ""},
    {"192.168.1.77", "255.255.255.0", 24, "192.168.1.0", 0, ""},
    {"172.16.5.4", "30", 30, "172.16.5.4", 0, ""},
    {"172.16.5.6", "255.255.255.255", 32, "172.16.5.6", 0, ""},
    {"10.1.2.3", "31", 1, "", 1, "Invalid net mask bits (1-30): 31\n"},
    {"10.1.2.3", "0", 1, "", 1, "Invalid net mask bits (1-30): 0\n"},
    {"10.1.2.3", "abc", 1, "", 1, "Invalid net mask bits (1-30): 0\n"},
    {"10.1.2.3", "255.0.255.0", 1, "", 1, "255.0.255.0 is not a valid netmask, in hex:ff00ff00\n"},
    {"10.1.2.3", "0.0.0.0", 1, "", 1, "0.0.0.0 is not a valid netmask, in hex:0\n"},
    {"10.1.2.3", "255.255.0", 1, "", 1, "255.255.0 is not a valid IP netmask\n"},
    {"10.1.2.300", "24", 1, "", 1, "10.1.2.300 is not a valid IP address\n"},
    {"10.1.2", "24", 1, "", 1, "10.1.2 is not a valid IP address\n"},
    {"", "24", 1, "", 1, " is not a valid IP address\n"},
};

}  // namespace

TEST(Netmask, PrefixAndNetworkOfValidAndInvalidMasks) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.address) + " " + c.netmask);
    FakeHost fake;
    ScopedHost scope(fake);
    EXPECT_EQ(c.prefix, prefix_length(c.address, c.netmask));
    FixedText<17> out;
    EXPECT_EQ(c.result, network_address(c.address, c.netmask, out));
    EXPECT_EQ(c.network, std::string(out));
    EXPECT_EQ(std::string(c.err) + c.err, fake.stderr_text);
    EXPECT_EQ("", fake.stdout_text);
  }
}

TEST(Netmask, ZeroNetworkAndErrorsLeaveTheOutputAsItWas) {
  FakeHost fake;
  ScopedHost scope(fake);
  FixedText<17> out("untouched");
  // 10.1.2.3/1 is 0.0.0.0: valid, but nothing is written.
  EXPECT_EQ(0, network_address("10.1.2.3", "1", out));
  EXPECT_EQ(0, network_address("0.0.0.0", "255.255.255.0", out));
  EXPECT_EQ(1, network_address("10.1.2.3", "0.0.0.0", out));
  EXPECT_EQ(1, network_address("10.1.2.3", "255.0.255.0", out));
  EXPECT_STREQ("untouched", out.c_str());
  EXPECT_EQ(1, prefix_length("10.1.2.3", "1"));
  EXPECT_EQ(0, network_address("128.1.2.3", "1", out));
  EXPECT_STREQ("128.0.0.0", out.c_str());
}

TEST(Netmask, BothTextsMissingAskForThemOnStandardOutput) {
  FakeHost fake;
  ScopedHost scope(fake);
  const char kAsk[] = "Requiredipaddr netmask\nThe netmask can be an ip address or the number of bits\n";
  FixedText<17> out;
  EXPECT_EQ(1, prefix_length("", ""));
  EXPECT_EQ(1, network_address(nullptr, nullptr, out));
  EXPECT_EQ(std::string(kAsk) + kAsk, fake.stdout_text);
  EXPECT_EQ("", fake.stderr_text);
  EXPECT_EQ("", std::string(out));
}

TEST(Netmask, EveryContiguousDottedMaskGivesItsLength) {
  FakeHost fake;
  ScopedHost scope(fake);
  for (int bits = 1; bits <= 32; ++bits) {
    uint32_t mask = bits == 32 ? 0xffffffffu : ~(0xffffffffu >> bits);
    std::string dotted = std::to_string(mask >> 24) + "." + std::to_string((mask >> 16) & 255) + "." +
                         std::to_string((mask >> 8) & 255) + "." + std::to_string(mask & 255);
    EXPECT_EQ(bits, prefix_length("10.0.0.1", dotted.c_str())) << dotted;
    // One hole below the top bit makes it invalid.
    if (bits >= 2) {
      std::string holed = std::to_string((mask >> 24) & 0x7f) + "." + std::to_string((mask >> 16) & 255) + "." +
                          std::to_string((mask >> 8) & 255) + "." + std::to_string(mask & 255);
      EXPECT_EQ(1, prefix_length("10.0.0.1", holed.c_str())) << holed;
    }
  }
  EXPECT_EQ("", fake.stdout_text);
}
