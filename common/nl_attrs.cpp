#include "common/nl_attrs.h"

#include <netlink/msg.h>

namespace {

// The bytes left after walking the stream by whole attributes.
int leftover(const nlattr* head, int len) {
  int rem = len;
  for (const nlattr* a = head; nla_ok(a, rem); a = nla_next(a, &rem)) {
  }
  return rem;
}

}  // namespace

int parse_attributes(nlattr* tb[], int maxtype, nlattr* head, int len, const nla_policy* policy) {
  if (len < 0) return -NLE_INVAL;
  int err = nla_parse(tb, maxtype, head, len, policy);
  if (err < 0) return err;
  // The library stops quietly at an attribute that runs past the end.
  return leftover(head, len) > 0 ? -NLE_INVAL : 0;
}

int parse_nested(nlattr* tb[], int maxtype, const nlattr* nested, const nla_policy* policy) {
  return parse_attributes(tb, maxtype, static_cast<nlattr*>(nla_data(nested)), nla_len(nested), policy);
}

genlmsghdr* genl_header(nl_msg* msg) {
  nlmsghdr* nlh = nlmsg_hdr(msg);
  if (nlh->nlmsg_len < NLMSG_HDRLEN + GENL_HDRLEN) return nullptr;
  return static_cast<genlmsghdr*>(nlmsg_data(nlh));
}

bool nested_list_ok(const nlattr* nested, int min_payload) {
  const nlattr* head = static_cast<const nlattr*>(nla_data(nested));
  int rem = nla_len(nested);
  for (const nlattr* a = head; nla_ok(a, rem); a = nla_next(a, &rem)) {
    if (nla_len(a) < min_payload) return false;
  }
  return rem <= 0;
}
