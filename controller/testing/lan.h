// The LAN as the LAN block sees it on a fake kernel: eth0 (1 up and
// running, 0 up without a carrier, -1 missing) and br-lan's address.
#pragma once

#include <string>
#include <vector>

#include "common/testing/fake_kernel.h"

inline void set_lan(FakeKernel& k, int eth0, const char* address = "192.168.1.1",
                    const char* netmask = "255.255.255.0") {
  k.links.erase("eth0");
  if (eth0 >= 0) k.links["eth0"] = FakeLink{.running = eth0 == 1};
  k.links["br-lan"] = FakeLink{.address = address, .netmask = netmask};
}

// The interfaces asked about, in order ("eth0", "br-lan"...).
inline std::vector<std::string> asked_interfaces(const FakeKernel& k) {
  std::vector<std::string> out;
  for (const std::string& a : k.asked) {
    if (a.rfind("ioctl ", 0) == 0) out.push_back(a.substr(a.rfind(' ') + 1));
  }
  return out;
}
