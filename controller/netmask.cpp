#include "controller/netmask.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/output.h"
#include "common/text.h"

namespace {

bool absent(const char* text) { return !text || !*text; }

// The prefix behind a netmask, or -1 after the error message. A dotted mask
// must be one-bits followed by zero-bits; a bit count must be 1 to 30.
int checked_prefix(const char* address, const char* netmask, in_addr& addr) {
  if (absent(address) && absent(netmask)) {
    out_line("Requiredipaddr netmask\nThe netmask can be an ip address or the number of bits");
    return -1;
  }
  if (absent(address) || inet_pton(AF_INET, address, &addr) != 1) {
    err_printf("%s is not a valid IP address\n", address ? address : "");
    return -1;
  }
  if (!netmask) netmask = "";
  if (strchr(netmask, '.')) {
    in_addr mask_addr;
    if (inet_pton(AF_INET, netmask, &mask_addr) != 1) {
      err_printf("%s is not a valid IP netmask\n", netmask);
      return -1;
    }
    uint32_t mask = ntohl(mask_addr.s_addr);
    // 0.0.0.0 has no lowest set bit, hence no prefix.
    if (mask != 0) {
      int low = __builtin_ctz(mask);
      int n = 32 - low;
      uint32_t expected = n == 32 ? 0xFFFFFFFFu : ((1u << n) - 1u) << low;
      if (mask == expected) return n;
    }
    err_printf("%s is not a valid netmask, in hex:%x\n", netmask, mask);
    return -1;
  }
  long n = strtol(netmask, nullptr, 10);
  if (n >= 1 && n <= 30) return static_cast<int>(n);
  err_printf("Invalid net mask bits (1-30): %d\n", static_cast<int>(n));
  return -1;
}

}  // namespace

int prefix_length(const char* address, const char* netmask) {
  in_addr addr;
  int n = checked_prefix(address, netmask, addr);
  return n < 0 ? 1 : n;
}

int network_address(const char* address, const char* netmask, char* out, size_t cap) {
  in_addr addr;
  int n = checked_prefix(address, netmask, addr);
  if (n < 0) return 1;
  uint32_t mask = n >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> n);
  in_addr network;
  network.s_addr = htonl(ntohl(addr.s_addr) & mask);
  if (network.s_addr != 0) {
    char dotted[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &network, dotted, sizeof(dotted))) copy_text(out, cap, dotted);
  }
  return 0;
}
