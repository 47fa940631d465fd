#include "mesh/gateway_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/testing/fake_host.h"

namespace {

const char kHeader[] =
    "      Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth ... "
    "[B.A.T.M.A.N. adv 2013.4.0, MainIF/MAC: mesh0/02:ca:fe:00:00:01 (bat0)]\n";

struct TableCase {
  const char* name;
  std::string table;
  int gateways;
  std::string printed;
};

}  // namespace

TEST(CountGateways, LineRules) {
  const std::vector<TableCase> cases = {
      {"selection mark first: the address is the second field",
       std::string(kHeader) + "=> 02:ca:fe:ca:ca:40 (255) 02:ca:fe:ca:ca:40 [     mesh0]: 41 - 2048kbit/512kbit\n", 1,
       "Second\nFound valid Gateway\n"},
      {"line starting with blanks: the address is the first field",
       std::string(kHeader) + "   02:ca:fe:ca:ca:41 (200) 02:ca:fe:ca:ca:41 [     mesh0]: 41 - 2048kbit/512kbit\n", 1,
       "First\nFound valid Gateway\n"},
      {"two gateways, both counted",
       std::string(kHeader) + "=> 02:ca:fe:ca:ca:40 (255) 02:ca:fe:ca:ca:40 [mesh0]\n" +
           "   02:ca:fe:ca:ca:41 (200) 02:ca:fe:ca:ca:41 [mesh0]\n",
       2, "Second\nFound valid Gateway\nFirst\nFound valid Gateway\n"},
      {"no gateways", std::string(kHeader) + "No gateways in range ...\n", 0, "Couldn't found valid gateway\n"},
      {"17 characters with four colons is no address", std::string(kHeader) + "=> 02cafe:ca:ca:40:1 (255)\n", 0,
       "Second\n"},
      {"17 characters with six colons is no address", std::string(kHeader) + "=> 02:ca:fe:ca:ca:4:0 (255)\n", 0,
       "Second\n"},
      {"short fields only", std::string(kHeader) + "=> (255) mesh0\n", 0, ""},
      {"the header alone", kHeader, 0, ""},
      {"the header is never a gateway line", "=> 02:ca:fe:ca:ca:40 (255)\n", 0, ""},
      {"last line without a line end", std::string(kHeader) + "=> 02:ca:fe:ca:ca:40 (255)", 1,
       "Second\nFound valid Gateway\n"},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost fake;
    ScopedHost scope(fake);
    fake.write(kGatewayTable, c.table);
    EXPECT_EQ(c.gateways, count_gateways());
    EXPECT_EQ(c.printed, fake.stdout_text);
  }
}

TEST(CountGateways, TailOfAnOverlongLineIsNotALineOfItsOwn) {
  FakeHost fake;
  ScopedHost scope(fake);
  // The kernel's header can be long; its end names the mesh MAC.
  std::string header = std::string(300, '-') + " MainIF/MAC: mesh0/02:ca:fe:00:00:01 (bat0)]\n";
  fake.write(kGatewayTable,
             header + "=> 02:ca:fe:ca:ca:40 (255)\n" + "=>" + std::string(270, ' ') + "02:ca:fe:00:00:02\n");
  EXPECT_EQ(1, count_gateways());
  EXPECT_EQ("Second\nFound valid Gateway\n", fake.stdout_text);
}

TEST(CountGateways, MissingTableCountsNothingQuietly) {
  FakeHost fake;
  ScopedHost scope(fake);
  EXPECT_EQ(0, count_gateways());
  EXPECT_EQ(0, count_gateways());
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_TRUE(fake.logs.empty());
  GatewayTableReader reader = {false, nullptr, nullptr};
  EXPECT_EQ(-1, read_gateway_table(reader));
}

TEST(GatewayTable, ReaderSeesEveryGatewayLineAndAddsItsResults) {
  FakeHost fake;
  ScopedHost scope(fake);
  fake.write(kGatewayTable, std::string(kHeader) + "=> 02:ca:fe:ca:ca:40 (255) x\n" + "No gateways\n" +
                                "   02:ca:fe:ca:ca:41 (200) y\n");
  std::vector<std::string> seen;
  GatewayTableReader reader = {false,
                               [](const char* address, void* arg) {
                                 auto* list = static_cast<std::vector<std::string>*>(arg);
                                 list->push_back(address);
                                 return list->size() == 2 ? 1 : 0;  // only the second answers
                               },
                               &seen};
  EXPECT_EQ(1, read_gateway_table(reader));
  EXPECT_EQ((std::vector<std::string>{"02:ca:fe:ca:ca:40", "02:ca:fe:ca:ca:41"}), seen);
  EXPECT_EQ("Found valid Gateway\nCouldn't found valid gateway\nFound valid Gateway\n", fake.stdout_text);
}
