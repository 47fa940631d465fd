// A kernel for unit tests: interfaces, routes, station dumps and scan
// backends as the test sets them up, answered the way the Linux backend
// answers (the same errno values, the same rtnetlink bytes).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/kernel.h"

struct FakeLink {
  bool up = true;
  bool running = true;  // up with a carrier
  std::string mac;      // "00:1A:2B:3C:4D:5E"; empty: all zero
  std::string address;  // dotted quad; empty: no IPv4 address
  std::string netmask;
};

struct FakeRoute {
  std::string destination;  // empty: the default route
  int prefix = 0;
  std::string gateway;
  std::string ifname;
  int table = 254;  // RT_TABLE_MAIN
};

class FakeKernel : public Kernel {
 public:
  // --- the node as the test sets it up ---
  std::map<std::string, FakeLink> links;  // by name; index: position + 1
  int socket_errno = 0;                   // interface_socket fails with it
  bool links_unreadable = false;          // link_listed answers -1
  std::vector<FakeRoute> routes;
  int route_errno = 0;       // route_socket fails with it
  int route_send_errno = 0;  // route_send fails with it
  int route_recv_errno = 0;  // route_recv fails with it
  // clientscout: the client records each interface's dump appends.
  std::map<std::string, std::vector<std::string>> stations;
  bool station_init_fails = false;  // station_init ends the program (status 1)
  // The controller: each interface's neighbour lists and the dump's result.
  struct Neighbours {
    std::string macs;
    std::string signals;
  };
  std::map<std::string, Neighbours> neighbours;
  int neighbour_result = 0;
  std::map<std::string, const scan_backend_ops*> scan_backends;

  // --- what was asked, in order: "ioctl <request> <ifname>", "listed
  // <ifname>", "routes", "station_init", "station_dump <ifname>",
  // "neighbour_dump <ifname>", "scan_backend <ifname>" ---
  std::vector<std::string> asked;

  // Kernel.
  int interface_socket() override;
  int interface_ioctl(int fd, unsigned long request, ifreq& ifr) override;
  void close_socket(int fd) override;
  const char* interface_name(unsigned index, char* out) override;
  int link_listed(const char* ifname) override;
  int route_socket() override;
  ssize_t route_send(int fd, const void* request, size_t len) override;
  ssize_t route_recv(int fd, void* buf, size_t cap) override;
  void station_init() override;
  int station_dump(const char* ifname) override;
  int neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) override;
  const scan_backend_ops* scan_backend(const char* ifname) override;

 private:
  unsigned index_of(const std::string& ifname) const;
  std::string dump_;  // the route dump's bytes still to be received
  int route_replies_ = 0;
};

// Installs a kernel for the lifetime of the object.
class ScopedKernel {
 public:
  explicit ScopedKernel(Kernel& k) : old_(set_kernel(&k)) {}
  ~ScopedKernel() { set_kernel(old_); }
  ScopedKernel(const ScopedKernel&) = delete;
  ScopedKernel& operator=(const ScopedKernel&) = delete;

 private:
  Kernel* old_;
};

// For the probe tests, which ask this machine's kernel (inside their own
// network namespace).
class ScopedRealKernel : public ScopedKernel {
 public:
  ScopedRealKernel();
};
