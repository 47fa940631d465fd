// A host for unit tests: records every command, print, log line, sleep and
// signal in order; answers "uci get" from a table that "uci set" updates;
// resolves paths under a temporary root folder; never waits.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/host.h"

class FakeHost : public Host {
 public:
  FakeHost();
  ~FakeHost() override;

  // --- the node as the test sets it up ---
  std::map<std::string, std::string> uci;      // "wireless.radio0.channel" -> "6"
  std::map<std::string, std::string> outputs;  // exact command -> its output
  std::map<std::string, int> exit_codes;       // exact command -> exit code
  // Called for every command (run or read); may return an exit code (>= 0)
  // and fill the output. Returns -1 to fall back to the tables.
  std::function<int(const std::string& command, std::string& output)> on_command;
  std::map<std::string, std::string> hosts;  // name -> dotted quad
  time_t clock = 1700000000;                 // now()
  long uptime_seconds = 1000;
  std::vector<pid_t> fork_results;  // next results of fork(); default 4242
  bool real_commands = false;       // run commands through the real shell

  // --- what happened ---
  std::vector<std::string> commands;  // every command, run or read, in order
  std::vector<std::string> events;    // ordered trace (see below)
  std::string stdout_text;
  std::string stderr_text;
  std::vector<std::pair<int, std::string>> logs;
  std::vector<unsigned> sleeps;
  std::vector<std::pair<pid_t, int>> kills;

  // Trace lines: "run <cmd>", "read <cmd>", "sleep <s>", "kill <pid> <sig>",
  // "out <text>", "err <text>", "log <prio> <text>", "write <path> <text>",
  // "fork".
  std::vector<std::string> trace(const std::string& prefix) const;
  // Commands run through the shell, commands whose output was read, and the
  // log lines of one priority, each in order.
  std::vector<std::string> runs() const;
  std::vector<std::string> reads() const;
  std::vector<std::string> logs_at(int priority) const;

  // Files under the root.
  std::string path(const std::string& absolute) const;
  void write(const std::string& absolute, const std::string& content);
  std::string read(const std::string& absolute) const;
  bool exists(const std::string& absolute) const;
  void remove(const std::string& absolute);
  // A fake process: /proc/<pid>/stat with name and state.
  void add_process(long pid, const std::string& name, char state);
  // Drops everything recorded so far (a long run, such as a fuzz target,
  // would otherwise grow without bound); the node's tables and files stay.
  void forget();

  // Host.
  int run(const char* command) override;
  int open_command(const char* command, CommandStream& out) override;
  int close_command(CommandStream& out) override;
  const char* path(const char* node_path, PathText& out) override;
  // The folder that stands for the node's "/".
  const char* root() const { return root_.c_str(); }
  void sleep(unsigned seconds) override;
  time_t now() override { return clock; }
  long uptime() override { return uptime_seconds; }
  int kill(pid_t pid, int sig) override;
  pid_t fork() override;
  void out(const char* text) override;
  void err(const char* text) override;
  void open_log(const char* ident, int options) override;
  void log(int priority, const char* text) override;
  int resolve(const char* name, Resolved& out) override;
  int write_file(const char* path, const char* text) override;
  int replace_file(const char* path, const char* text) override;

 private:
  int command(const std::string& command, std::string& output);
  void apply_uci(const std::string& command);

  std::string root_;
  std::vector<std::string*> stream_texts_;
};

// Installs a host for the lifetime of the object.
class ScopedHost {
 public:
  explicit ScopedHost(Host& h) : old_(set_host(&h)) {}
  ~ScopedHost() { set_host(old_); }

 private:
  Host* old_;
};

// For the tests that mean to act on this machine through the host.
class ScopedRealHost : public ScopedHost {
 public:
  ScopedRealHost();
};
