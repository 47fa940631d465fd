#include "controller/settings/netmask.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "common/output.h"
#include "controller/settings/setting_values.h"

namespace {

bool absent(const char* text) { return !text || !*text; }

// The mask in host order from a valid address and netmask, or false after
// the message that says what is wrong with them.
bool parse_mask(const char* address, const char* netmask, in_addr& addr, uint32_t& mask) {
  if (absent(address) && absent(netmask)) {
    out_line("Requiredipaddr netmask\nThe netmask can be an ip address or the number of bits");
    return false;
  }
  if (!address) address = "";
  if (!netmask) netmask = "";
  if (inet_pton(AF_INET, address, &addr) != 1) {
    err_printf("%s is not a valid IP address\n", address);
    return false;
  }
  if (strchr(netmask, '.')) {
    in_addr m;
    if (inet_pton(AF_INET, netmask, &m) != 1) {
      err_printf("%s is not a valid IP netmask\n", netmask);
      return false;
    }
    mask = ntohl(m.s_addr);
    // One-bits from the top down to the lowest set bit, and nothing after.
    // A mask without any set bit has no prefix at all.
    uint32_t lowest = mask & (~mask + 1u);
    if (mask == 0 || mask != static_cast<uint32_t>(0u - lowest)) {
      err_printf("%s is not a valid netmask, in hex:%x\n", netmask, mask);
      return false;
    }
    return true;
  }
  int bits = decimal_value(netmask);
  if (bits < 1 || bits > 30) {
    err_printf("Invalid net mask bits (1-30): %d\n", bits);
    return false;
  }
  mask = ~0u << (32 - bits);
  return true;
}

int ones(uint32_t mask) {
  int n = 0;
  for (; mask; mask <<= 1) ++n;
  return n;
}

}  // namespace

int prefix_length(const char* address, const char* netmask) {
  in_addr addr;
  uint32_t mask = 0;
  if (!parse_mask(address, netmask, addr, mask)) return 1;
  return ones(mask);
}

int network_address(const char* address, const char* netmask, char* out, size_t cap) {
  in_addr addr;
  uint32_t mask = 0;
  if (!parse_mask(address, netmask, addr, mask)) return 1;
  in_addr network;
  network.s_addr = addr.s_addr & htonl(mask);
  if (network.s_addr != 0) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &network, text, sizeof(text));
    copy_text(out, cap, text);
  }
  return 0;
}
