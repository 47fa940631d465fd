#include "common/sysinfo.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include "common/state_flags.h"
#include "common/testing/fake_host.h"

TEST(Uptime, BootFlagFromTheWholeSeconds) {
  FakeHost fake;
  ScopedHost scope(fake);
  fake.write("/proc/uptime", "359.99 1234.00\n");
  boot = 7;
  EXPECT_EQ(0, check_uptime());
  EXPECT_EQ(0, boot);
  fake.write("/proc/uptime", "360.00 1234.00\n");
  EXPECT_EQ(0, check_uptime());
  EXPECT_EQ(1, boot);
  fake.remove("/proc/uptime");
  EXPECT_EQ(1, check_uptime());
  EXPECT_EQ(1, boot);
  EXPECT_EQ("Unable to get the system uptime\n", fake.stdout_text);
}

TEST(Meminfo, FreeMemoryLineAnywhereInTheFile) {
  FakeHost fake;
  ScopedHost scope(fake);
  unsigned kb = 9;
  EXPECT_FALSE(read_meminfo(&kb));
  EXPECT_EQ(9u, kb);
  fake.write("/proc/meminfo", "MemTotal:       61108 kB\nMemFree:          500 kB\nBuffers: 1 kB\n");
  EXPECT_TRUE(read_meminfo(&kb));
  EXPECT_EQ(500u, kb);
  fake.write("/proc/meminfo", "MemTotal: 61108 kB\n" + std::string(400, 'x') + "\nMemFree: 501 kB\n");
  EXPECT_TRUE(read_meminfo(&kb));
  EXPECT_EQ(501u, kb);
  fake.write("/proc/meminfo", "MemTotal: 61108 kB\n");
  kb = 3;
  EXPECT_FALSE(read_meminfo(&kb));
  EXPECT_EQ(3u, kb);
}

TEST(Loadavg, FirstNumberAndItsDebugLine) {
  FakeHost fake;
  ScopedHost scope(fake);
  LoadAverage load;
  EXPECT_FALSE(read_loadavg(&load));
  fake.write("/proc/loadavg", "0.52 0.58 0.59 1/80 1234\n");
  EXPECT_TRUE(read_loadavg(&load));
  EXPECT_EQ(8724152u, load.mantissa);  // the float nearest 0.52: 8724152 * 2^-24
  EXPECT_EQ(24, load.scale);
  ASSERT_EQ(1u, fake.logs.size());
  EXPECT_EQ(LOG_DEBUG, fake.logs[0].first);
  EXPECT_EQ("System Load: 0.520000\n", fake.logs[0].second);
}

TEST(StateFlags, MeshClientAndAllFourVlans) {
  FakeHost fake;
  ScopedHost scope(fake);
  check_mesh();
  EXPECT_EQ(0, mesh);
  fake.write("/var/run/udhcpc-br-meship.pid", "321\n");
  check_mesh();
  EXPECT_EQ(1, mesh);
  for (int i = 0; i < 3; ++i) fake.write("/proc/net/vlan/bat0." + std::to_string(i), "");
  check_vlan();
  EXPECT_EQ(0, vlan);
  fake.write("/proc/net/vlan/bat0.3", "");
  check_vlan();
  EXPECT_EQ(1, vlan);
}
