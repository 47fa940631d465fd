#include <cstdio>

#include "common/output.h"
#include "common/runner.h"
#include "controller/settings/netmask.h"
#include "controller/settings/portal.h"

// chilli listens on the public bridge, at the node's public address.
void write_portal_network(FILE* file) {
  FixedText<64> address;
  FixedText<64> netmask;
  get_config("uci get dhcp.pub.ipaddr", address);
  get_config("uci get dhcp.pub.netmask", netmask);
  FixedText<17> network;
  network_address(address, netmask, network);
  out_printf("ipaddr: %s\n", address.c_str());
  out_printf("netmask: %s\n", netmask.c_str());
  out_printf("Network: %s\n", network.c_str());
  fprintf(file, "HS_LANIF=br-pub\nHS_NETWORK=%s\nHS_NETMASK=%s\nHS_UAMLISTEN=%s\n", network.c_str(), netmask.c_str(),
          address.c_str());
}
