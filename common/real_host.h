// The host of the device: real shell, files, clock, signals and syslog.
#pragma once

#include "common/host.h"

class RealHost : public Host {
 public:
  int run(const char* command) override;
  int open_command(const char* command, CommandStream& out) override;
  int close_command(CommandStream& out) override;
  void sleep(unsigned seconds) override;
  time_t now() override;
  long uptime() override;
  int kill(pid_t pid, int sig) override;
  pid_t fork() override;
  void out(const char* text) override;
  void err(const char* text) override;
  void open_log(const char* ident, int options) override;
  void reopen_log() override;
  void log(int priority, const char* text) override;
  int resolve(const char* name, Resolved& out) override;
};

Host& real_host();
