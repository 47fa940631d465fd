// Netlink attribute parsing that never trusts a length: every attribute is
// checked against its policy, and a stream that is not used up by whole
// attributes (one whose declared length runs past the end) is refused.
#pragma once

#include <netlink/attr.h>
#include <netlink/genl/genl.h>

#include <cstdint>

// libnl-tiny, which routers link in place of libnl-3, names the automatic
// port NL_AUTO_PID.
#ifndef NL_AUTO_PORT
#define NL_AUTO_PORT NL_AUTO_PID
#endif

// A policy table filled by index, as the kernel's headers number the types:
//   static const NlPolicy<10> p = NlPolicy<10>().set(TYPE, NLA_U32);
template <int MaxType>
struct NlPolicy {
  nla_policy rules[MaxType + 1] = {};
  NlPolicy& set(int type, uint16_t kind, uint16_t minlen = 0) {
    rules[type].type = kind;
    rules[type].minlen = minlen;
    return *this;
  }
};

// nla_parse, failing also when bytes are left over in the stream.
// 0 or a negative library error; tb is only meaningful on 0.
int parse_attributes(nlattr* tb[], int maxtype, nlattr* head, int len, const nla_policy* policy);
int parse_nested(nlattr* tb[], int maxtype, const nlattr* nested, const nla_policy* policy);

// The generic netlink header of a message, or nullptr when the message is
// too short to hold one.
genlmsghdr* genl_header(nl_msg* msg);

// True when the attributes nested in `nested` are whole and each carries at
// least `min_payload` bytes (lists such as per-chain signals).
bool nested_list_ok(const nlattr* nested, int min_payload);
