// Builds generic netlink messages for tests with libnl itself, the way the
// kernel would send them, plus a few ways to break them.
#pragma once

#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class NlMessage {
 public:
  explicit NlMessage(uint8_t cmd, int family = 0x1c, int flags = 0) : msg_(nlmsg_alloc()) {
    genlmsg_put(msg_, 0, 0, family, 0, flags, cmd, 0);
  }
  ~NlMessage() { nlmsg_free(msg_); }
  NlMessage(const NlMessage&) = delete;
  NlMessage& operator=(const NlMessage&) = delete;

  nl_msg* get() { return msg_; }
  nlmsghdr* header() { return nlmsg_hdr(msg_); }

  NlMessage& u8(int type, uint8_t v) { return put(type, &v, sizeof(v)); }
  NlMessage& u16(int type, uint16_t v) { return put(type, &v, sizeof(v)); }
  NlMessage& u32(int type, uint32_t v) { return put(type, &v, sizeof(v)); }
  NlMessage& s32(int type, int32_t v) { return put(type, &v, sizeof(v)); }
  NlMessage& flag(int type) { return put(type, nullptr, 0); }
  NlMessage& string(int type, const std::string& s) { return put(type, s.c_str(), s.size() + 1); }
  NlMessage& bytes(int type, const std::vector<uint8_t>& b) { return put(type, b.data(), static_cast<int>(b.size())); }
  NlMessage& mac(int type, const uint8_t (&m)[6]) { return put(type, m, 6); }
  NlMessage& put(int type, const void* data, int len) {
    last_ = nla_reserve(msg_, type, len);
    if (last_ && len > 0) memcpy(nla_data(last_), data, static_cast<size_t>(len));
    return *this;
  }

  NlMessage& begin(int type) {
    nests_.push_back(nla_nest_start(msg_, type));
    return *this;
  }
  NlMessage& end() {
    last_ = nests_.back();
    nla_nest_end_keep_empty(msg_, nests_.back());  // the kernel sends empty nests too
    nests_.pop_back();
    return *this;
  }
  // The attribute put or closed last (it stays valid: the message never moves).
  nlattr* last() { return last_; }
  // Makes the last attribute claim `extra` more bytes than it holds, as a
  // truncated message would (the enclosing nests are not adjusted).
  NlMessage& stretch_last(int extra) {
    last_->nla_len = static_cast<uint16_t>(last_->nla_len + extra);
    return *this;
  }
  // Cuts the message to its first `len` bytes (header included).
  NlMessage& cut(uint32_t len) {
    nlmsg_hdr(msg_)->nlmsg_len = len;
    return *this;
  }

 private:
  nl_msg* msg_;
  std::vector<nlattr*> nests_;
  nlattr* last_ = nullptr;
};
