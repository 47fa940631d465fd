// A scripted LAN for unit tests: what the LAN block learns of eth0 and of
// br-lan, in place of the kernel's ioctls, for as long as the object lives.
#pragma once

#include <string>
#include <vector>

#include "common/text.h"
#include "controller/lan_block.h"

class ScopedLan {
 public:
  // eth0: 1 up and running, 0 not, -1 flags unreadable.
  ScopedLan(int eth0, const char* address, const char* netmask) {
    state() = {eth0, address, netmask, {}};
    old_ = set_lan_probes(&kProbes);
  }
  ~ScopedLan() { set_lan_probes(old_); }
  ScopedLan(const ScopedLan&) = delete;
  ScopedLan& operator=(const ScopedLan&) = delete;

  void set_eth0(int status) { state().eth0 = status; }
  // The interfaces asked about, in order ("eth0", "br-lan"...).
  const std::vector<std::string>& asked() const { return state().asked; }

 private:
  struct State {
    int eth0;
    std::string address;
    std::string netmask;
    std::vector<std::string> asked;
  };
  static State& state() {
    static State s;
    return s;
  }
  static int status(const char* ifname) {
    state().asked.push_back(ifname);
    return std::string(ifname) == "eth0" ? state().eth0 : -1;
  }
  static int copy(const char* ifname, const std::string& text, char* out, size_t cap) {
    state().asked.push_back(ifname);
    if (std::string(ifname) != "br-lan" || text.empty()) return 19;  // ENODEV
    copy_text(out, cap, text.c_str());
    return 0;
  }
  static int address(const char* ifname, char* out, size_t cap) { return copy(ifname, state().address, out, cap); }
  static int netmask(const char* ifname, char* out, size_t cap) { return copy(ifname, state().netmask, out, cap); }

  static constexpr LanProbes kProbes = {status, address, netmask};
  const LanProbes* old_;
};
