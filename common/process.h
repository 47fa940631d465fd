// Processes by the name the kernel keeps for them in /proc/<pid>/stat (at
// most 15 characters: the controller shows as "fleetlink_super").
#pragma once

struct ProcessEntry {
  long pid;
  char name[100];
  char state;  // R, S, D, Z, T...
};

// Calls visit for every process until it returns true. 0 after the walk,
// -1 when /proc cannot be opened, 1 when a stat file does not parse (the
// walk ends there). A process that ends during the walk is skipped. Prints or logs the lookup's messages.
int walk_processes(bool (*visit)(const ProcessEntry& entry, void* arg), void* arg);

// The pid of the first process named `name` (its state into *state), -1 when
// there is none, the program's parse-failure result when a stat file does not
// parse.
long find_pid_by_name(const char* name, char* state = nullptr);

// True when /proc shows a live process with that pid and name, so that a pid
// read from a stale pid file never reaches a recycled, unrelated process.
bool process_has_name(long pid, const char* name);
// True when a live process's command line (its arguments joined by blanks)
// holds `text`, such as the shell that runs "/tmp/upgrade.sh".
bool process_runs(const char* text);
// Sends sig to pid only when process_has_name; else -1.
int signal_named_process(long pid, const char* name, int sig);
