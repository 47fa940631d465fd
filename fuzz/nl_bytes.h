// A netlink message made of raw bytes, as the kernel could send it: a
// netlink header whose length covers exactly the bytes, then the bytes
// (generic netlink header and attributes) as they came.
#pragma once

#include <netlink/msg.h>

#include <cstdint>
#include <cstring>
#include <vector>

// nullptr when the message cannot be allocated; free with nlmsg_free.
inline nl_msg* raw_message(const uint8_t* data, size_t size) {
  if (size > 65536) size = 65536;
  std::vector<uint8_t> buf(NLMSG_HDRLEN + size);
  nlmsghdr hdr;
  memset(&hdr, 0, sizeof(hdr));
  hdr.nlmsg_len = static_cast<uint32_t>(buf.size());
  hdr.nlmsg_type = 0x1c;  // any family id
  hdr.nlmsg_flags = NLM_F_MULTI;
  memcpy(buf.data(), &hdr, sizeof(hdr));
  if (size) memcpy(buf.data() + NLMSG_HDRLEN, data, size);
  return nlmsg_convert(reinterpret_cast<nlmsghdr*>(buf.data()));
}
