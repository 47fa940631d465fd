// A fake host whose commands run through the real /bin/sh, each in a mount
// namespace of its own in which /tmp, /etc, /sbin and /usr/sbin are the
// fake root's folders and PATH holds only recording stand-ins, so that even
// an absolute path such as /sbin/syslogd or /usr/sbin/batctl reaches a
// stand-in. Each stand-in records the arguments (and, for passwd, the
// input) it received; uci keeps the fake host's table (as files in /tmp/.uci
// while a command runs), so that get reads what set wrote. Needs root (or
// unprivileged user namespaces).
#pragma once

#include <string>
#include <vector>

#include "common/testing/fake_host.h"

using ShellCall = std::vector<std::string>;  // the tool, then its arguments
using ShellCalls = std::vector<ShellCall>;

class SandboxShell : public FakeHost {
 public:
  SandboxShell();

  // Why commands cannot run here ("" when they can).
  std::string sandbox_error();

  int run(const char* command) override;
  int open_command(const char* command, CommandStream& out) override;
  int close_command(CommandStream& out) override;

  // The recorded calls, in order.
  ShellCalls calls() const;
  // What the commands wrote to standard error.
  std::string errors() const;
  // Forgets the calls, the errors and everything the fake host recorded.
  void forget_calls();
  // Stores a uci setting where the stand-in uci keeps it.
  void set_uci(const std::string& key, const std::string& value);

 private:
  pid_t spawn(const char* command, int stdout_fd);
  void uci_to_files();
  void uci_from_files();
};

// Values made of what a shell treats specially: separators, substitutions,
// quotes, globs, comments, expansions, escapes, line ends and blanks at
// either end. "/tmp/pwned" appears only if something ran.
const std::vector<std::string>& hostile_values();
// The hostile texts cut into pieces that fit a field of capacity cap.
std::vector<std::string> hostile_values_for(size_t cap);

ShellCall uci_set_call(const std::string& key, const std::string& value);
ShellCall uci_get_call(const std::string& key);
ShellCall uci_commit_call(const std::string& package);
// One call a line, each field in <>, line ends shown as \n.
std::string printable(const ShellCalls& calls);
