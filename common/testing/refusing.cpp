#include "common/testing/refusing.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

namespace {

int refuse(const char* call, const char* a, const char* b = nullptr) {
  std::string what = std::string(call) + "(\"" + (a ? a : "") + "\"" + (b ? std::string(", \"") + b + "\"" : "") + ")";
  ADD_FAILURE() << "the test program refused " << what
                << ": install a FakeHost and a FakeKernel, or the real ones where the test means this machine";
  errno = EPERM;
  return -1;
}

class RefusingHost : public Host {
 public:
  int run(const char* command) override { return refuse("run", command); }
  int open_command(const char* command, CommandStream&) override { return refuse("open_command", command); }
  int close_command(CommandStream&) override { return -1; }
  const char* path(const char* node_path, PathText& out) override {
    refuse("path", node_path);
    out.set(node_path);
    return out.c_str();
  }
  FILE* open_file(const char* path, const char* mode) override {
    refuse("open_file", path, mode);
    return nullptr;
  }
  int open_fd(const char* path, int, mode_t) override { return refuse("open_fd", path); }
  int remove_file(const char* path) override { return refuse("unlink", path); }
  int check_access(const char* path, int) override { return refuse("access", path); }
  int stat_path(const char* path, struct stat*) override { return refuse("stat", path); }
  DIR* open_dir(const char* path) override {
    refuse("opendir", path);
    return nullptr;
  }
  int rename_path(const char* from, const char* to) override { return refuse("rename", from, to); }
  int make_dir(const char* path, mode_t) override { return refuse("mkdir", path); }
  int set_mode(const char* path, mode_t) override { return refuse("chmod", path); }
  void sleep(unsigned seconds) override { refuse("sleep", std::to_string(seconds).c_str()); }
  time_t now() override { return time(nullptr); }
  long uptime() override { return 0; }
  int kill(pid_t pid, int sig) override {
    return refuse("kill", std::to_string(pid).c_str(), std::to_string(sig).c_str());
  }
  pid_t fork() override { return refuse("fork", ""); }
  // Printing reaches only the test's own output.
  void out(const char* text) override { fputs(text, stdout); }
  void err(const char* text) override { fputs(text, stderr); }
  void open_log(const char* ident, int) override { refuse("open_log", ident); }
  void log(int, const char* text) override { refuse("log", text); }
  int resolve(const char* name, Resolved&) override { return refuse("resolve", name); }
};

class RefusingKernel : public Kernel {
 public:
  int interface_socket() override { return refuse("interface_socket", ""); }
  int interface_ioctl(int, unsigned long request, ifreq& ifr) override {
    return refuse("interface_ioctl", std::to_string(request).c_str(), ifr.ifr_name);
  }
  void close_socket(int) override {}
  const char* interface_name(unsigned index, char*) override {
    refuse("interface_name", std::to_string(index).c_str());
    return nullptr;
  }
  int link_listed(const char* ifname) override { return refuse("link_listed", ifname); }
  int route_socket() override { return refuse("route_socket", ""); }
  ssize_t route_send(int, const void*, size_t) override { return refuse("route_send", ""); }
  ssize_t route_recv(int, void*, size_t) override { return refuse("route_recv", ""); }
  void station_init() override { refuse("station_init", ""); }
  int station_dump(const char* ifname) override { return refuse("station_dump", ifname); }
  int neighbour_dump(const char* ifname, NeighbourList&, NeighbourList&) override {
    return refuse("neighbour_dump", ifname);
  }
  const scan_backend_ops* scan_backend(const char* ifname) override {
    refuse("scan_backend", ifname);
    return nullptr;
  }
};

}  // namespace

Kernel& refusing_kernel() {
  static RefusingKernel k;
  return k;
}

Host& refusing_host() {
  static RefusingHost h;
  return h;
}
