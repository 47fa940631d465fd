#include "common/testing/refusing_host.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

namespace {

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
  unsigned short dashboard_port() override { return 80; }
  int reply_timeout() override { return 30; }

 private:
  static int refuse(const char* call, const char* a, const char* b = nullptr) {
    std::string what = std::string(call) + "(\"" + (a ? a : "") + "\"" + (b ? std::string(", \"") + b + "\"" : "") + ")";
    ADD_FAILURE() << "the test program's host refused " << what
                  << ": install a FakeHost, or a ScopedRealHost where the test means this machine";
    errno = EPERM;
    return -1;
  }
};

}  // namespace

Host& refusing_host() {
  static RefusingHost h;
  return h;
}
