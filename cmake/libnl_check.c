/* Configure-time check of a libnl given through LIBNL_ROOT: it links
 * statically for the target and, run there, builds and parses back a generic
 * netlink message the way the nl80211 code does. Exit status 0 when it works. */
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <stdio.h>
#include <string.h>

enum { ATTR_IFINDEX = 3, ATTR_MAC = 6, ATTR_SIGNAL = 7, ATTR_MAX = 8 };

int main(void) {
  struct nl_msg* msg = nlmsg_alloc();
  if (!msg) return 1;
  static const unsigned char mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  if (!genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, 0x1c, 0, NLM_F_DUMP, 19, 0) ||
      nla_put_u32(msg, ATTR_IFINDEX, 0x01020304) < 0 || nla_put(msg, ATTR_MAC, 6, mac) < 0 ||
      nla_put_u8(msg, ATTR_SIGNAL, 0xc4) < 0) {
    nlmsg_free(msg);
    return 2;
  }
  struct nlmsghdr* hdr = nlmsg_hdr(msg);
  struct nlattr* tb[ATTR_MAX + 1];
  int rc = nla_parse(tb, ATTR_MAX, genlmsg_attrdata(nlmsg_data(hdr), 0),
                     genlmsg_attrlen(nlmsg_data(hdr), 0), NULL);
  int ok = rc == 0 && hdr->nlmsg_type == 0x1c && (hdr->nlmsg_flags & NLM_F_DUMP) == NLM_F_DUMP &&
           tb[ATTR_IFINDEX] && nla_get_u32(tb[ATTR_IFINDEX]) == 0x01020304 && tb[ATTR_MAC] &&
           nla_len(tb[ATTR_MAC]) == 6 && memcmp(nla_data(tb[ATTR_MAC]), mac, 6) == 0 &&
           tb[ATTR_SIGNAL] && (signed char)nla_get_u8(tb[ATTR_SIGNAL]) == -60;
  nlmsg_free(msg);
  if (!ok) {
    fprintf(stderr, "libnl message round trip failed\n");
    return 3;
  }
  return 0;
}
