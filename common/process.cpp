#include "common/process.h"

#include <dirent.h>
#include <errno.h>
#include <syslog.h>

#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/text.h"

namespace {

enum class StatRead { kOk, kMissing, kUnparsed };

// "<pid> (<name>) <state> ...": the name runs to the last ")" of the line,
// because a process may give itself a name that holds ") " and would
// otherwise pass for another one.
bool parse_stat_line(const char* line, ProcessEntry& entry) {
  char* end = nullptr;
  entry.pid = strtol(line, &end, 10);
  if (end == line) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '(') return false;
  const char* name = end + 1;
  const char* close = strrchr(name, ')');
  if (!close || close == name) return false;
  size_t len = static_cast<size_t>(close - name);
  if (len >= sizeof(entry.name)) len = sizeof(entry.name) - 1;
  memcpy(entry.name, name, len);
  entry.name[len] = '\0';
  const char* p = close + 1;
  while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
  if (!*p) return false;
  entry.state = *p;
  return true;
}

StatRead read_stat(long pid, ProcessEntry& entry) {
  FixedText<512> path;
  path.format("/proc/%ld/stat", pid);
  FILE* f = host_fopen(path, "r");
  if (!f) return StatRead::kMissing;
  memset(&entry, 0, sizeof(entry));
  char line[512];
  // Nothing to read: the process ended between the open and the read
  // (the kernel then fails the read), which is no fault of the file.
  if (!fgets(line, sizeof(line), f)) {
    fclose(f);
    return StatRead::kMissing;
  }
  // The kernel starts the file with its folder's pid; any other number
  // (0 or -1 would reach a process group or every process) is not taken.
  bool parsed = parse_stat_line(line, entry) && entry.pid == pid;
  fclose(f);
  return parsed ? StatRead::kOk : StatRead::kUnparsed;
}

void report(const char* message, bool perror_style) {
  if (profile().proc_messages_logged) {
    log_printf(LOG_DEBUG, "%s", message);
  } else if (perror_style) {
    err_perror(message);
  } else {
    out_line(message);
  }
}

struct NameQuery {
  const char* name;
  long pid;
  char state;
};

bool match_name(const ProcessEntry& entry, void* arg) {
  NameQuery* q = static_cast<NameQuery*>(arg);
  if (strcmp(entry.name, q->name) != 0) return false;
  q->pid = entry.pid;
  q->state = entry.state;
  return true;
}

struct CommandLineQuery {
  const char* text;
  bool found;
};

bool command_line_holds(const ProcessEntry& entry, void* arg) {
  CommandLineQuery* q = static_cast<CommandLineQuery*>(arg);
  if (entry.state == 'Z') return false;
  FixedText<64> path;
  path.format("/proc/%ld/cmdline", entry.pid);
  FILE* f = host_fopen(path, "r");
  if (!f) return false;
  char line[1024];
  size_t n = fread(line, 1, sizeof(line) - 1, f);
  fclose(f);
  for (size_t i = 0; i < n; ++i) {
    if (line[i] == '\0') line[i] = ' ';
  }
  line[n] = '\0';
  q->found = strstr(line, q->text) != nullptr;
  return q->found;
}

}  // namespace

int walk_processes(bool (*visit)(const ProcessEntry& entry, void* arg), void* arg) {
  DIR* dir = host_opendir("/proc");
  if (!dir) {
    report("can't open /proc", true);
    return -1;
  }
  int result = 0;
  while (dirent* d = readdir(dir)) {
    // Entries that are not numbers give 0, whose stat does not exist.
    long pid = atol(d->d_name);
    ProcessEntry entry;
    StatRead r = read_stat(pid, entry);
    if (r == StatRead::kMissing) continue;
    if (r == StatRead::kUnparsed) {
      report(profile().proc_messages_logged ? "fscanf failed" : "fscanf failed ", false);
      result = 1;
      break;
    }
    if (visit(entry, arg)) break;
  }
  closedir(dir);
  return result;
}

long find_pid_by_name(const char* name, char* state) {
  NameQuery q = {name ? name : "", -1, 0};
  int r = walk_processes(match_name, &q);
  if (r == 1) return profile().proc_parse_failure;
  if (r < 0 || q.pid < 0) return -1;
  if (state) *state = q.state;
  return q.pid;
}

bool process_has_name(long pid, const char* name) {
  if (pid <= 0 || !name) return false;
  ProcessEntry entry;
  if (read_stat(pid, entry) != StatRead::kOk) return false;
  FixedText<16> kept(name);  // the kernel's 15 characters
  return kept == entry.name;
}

bool process_runs(const char* text) {
  CommandLineQuery q = {text ? text : "", false};
  walk_processes(command_line_holds, &q);
  return q.found;
}

int signal_named_process(long pid, const char* name, int sig) {
  if (!process_has_name(pid, name)) {
    errno = ESRCH;
    return -1;
  }
  return host().kill(static_cast<pid_t>(pid), sig);
}
