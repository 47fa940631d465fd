// What the watchdog reads from the node, whatever it holds: the listing of
// "iptables -t nat -L" (the rule is added exactly when no line starts with
// the word MASQUERADE), a zombie daemon's pid file (only that daemon's own
// process is ever signalled, and the daemon is started again whenever the
// file could be read) and the stat files of the zombie sweep (a signal only
// ever goes to the process a stat file belongs to, never to pid 0 or -1,
// which would reach a process group or every process).
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/services.h"
#include "fuzz/fuzz_support.h"
#include "watchdog/checks.h"
#include "watchdog/service_check.h"

namespace {

// Each target's files stay in the fake root: start every input on an empty /proc.
void clear_proc(FakeHost& h) {
  std::error_code ignored;
  std::filesystem::remove_all(h.path("/proc"), ignored);
}

bool first_word_is_masquerade(const std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  size_t end = line.find_first_of(" \t\r\n", start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start) == "MASQUERADE";
}

void check_nat_listing(FakeHost& h, const std::string& listing) {
  h.outputs["iptables -t nat -L"] = listing;
  check_masquerade();
  // Lines as the reader takes them: up to 510 characters each, the rest of
  // a longer one skipped. A NUL ends a line's text (iptables prints none).
  bool listed = false;
  if (listing.find('\0') == std::string::npos) {
    size_t at = 0;
    while (!listed && at < listing.size()) {
      size_t end = listing.find('\n', at);
      std::string line = listing.substr(at, (end == std::string::npos ? listing.size() : end) - at);
      listed = first_word_is_masquerade(line.substr(0, 510));
      at = end == std::string::npos ? listing.size() : end + 1;
    }
    std::vector<std::string> expected = {"iptables -t nat -L"};
    if (!listed) expected.push_back(kMasqueradeCommand);
    FUZZ_CHECK(h.commands == expected);
  }
  FUZZ_CHECK(h.kills.empty());
}

void check_pid_file(FakeHost& h, const std::string& text) {
  clear_proc(h);
  const WatchedDaemon& daemon = kWatchedDaemons[1];  // clientscout
  h.add_process(600, daemon.process_name, 'Z');
  h.add_process(601, "dropbear", 'S');
  h.write(daemon.pid_file, text);
  check_service(daemon);
  for (const auto& [pid, sig] : h.kills) FUZZ_CHECK(pid == 600 && sig == SIGTERM);
  FUZZ_CHECK(h.kills.size() <= 1);
  // An empty file cannot be read: the daemon waits for the next pass.
  if (text.empty()) {
    FUZZ_CHECK(h.commands.empty() && h.kills.empty() && h.exists(daemon.pid_file));
    return;
  }
  // The pid is read from the first line, at most 48 characters of it.
  std::string line = text.substr(0, text.find('\n')).substr(0, 48);
  FUZZ_CHECK(h.kills.size() == (strtol(line.c_str(), nullptr, 10) == 600 ? 1u : 0u));
  FUZZ_CHECK(h.commands == std::vector<std::string>{daemon.command});
  FUZZ_CHECK(!h.exists(daemon.pid_file));
}

void check_sweep(FakeHost& h, FuzzInput& in) {
  clear_proc(h);
  std::set<pid_t> folders;
  for (int i = 0; i < 4 && in.left() > 0; ++i) {
    pid_t pid = 300 + in.byte() % 8;
    h.write("/proc/" + std::to_string(pid) + "/stat", in.field());
    folders.insert(pid);
  }
  clear_zombies();
  FUZZ_CHECK(h.kills.size() <= folders.size());
  std::set<pid_t> signalled;
  for (const auto& [pid, sig] : h.kills) {
    FUZZ_CHECK(sig == SIGTERM);
    FUZZ_CHECK(folders.count(pid) == 1);
    FUZZ_CHECK(signalled.insert(pid).second);
  }
  FUZZ_CHECK(h.commands.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  int reader = in.byte() % 3;
  switch (reader) {
    case 0:
      check_nat_listing(h, in.rest());
      break;
    case 1:
      check_pid_file(h, in.rest());
      break;
    default:
      check_sweep(h, in);
      break;
  }
  return 0;
}
