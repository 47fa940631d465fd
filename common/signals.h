// Termination requests and interruptible waits.
//
// A daemon keeps SIGTERM, SIGINT and SIGQUIT blocked on its main flow and
// lets them in only while it waits (ppoll with a mask), so a signal ends any
// wait at once and the clean-up runs on the main flow, never inside a
// handler where logging, shell commands or free() could deadlock.
#pragma once

#include <sys/types.h>

#include <cstdint>

// What the main flow does with a termination signal; does not return.
using TerminationAction = void (*)(int sig);

// Installs `action` and blocks the termination signals on the main flow.
void start_termination_handling(TerminationAction action);
// Async-signal-safe: records the signal for the main flow.
void note_termination_signal(int sig);
// Runs the termination action if a termination signal has come in.
void termination_point();
// True once the termination action has started (clean-up in progress).
bool terminating();

// Milliseconds of the monotonic clock.
int64_t monotonic_ms();

// Waits until `fd` is ready for `events` or `timeout_ms` has passed (-1: no
// limit). Returns >0 when ready, 0 on time-out, -1 on error (errno set).
int wait_fd(int fd, short events, int timeout_ms);
// Sleeps for `ms` milliseconds.
void wait_ms(int64_t ms);
// Waits for our own child `pid`; returns pid, or -1 (errno set).
pid_t wait_child(pid_t pid, int* status);
// read() from a command's pipe that gives way to termination signals.
ssize_t read_command_pipe(int fd, void* buf, size_t len);

// While a command of ours runs, SIGCHLD stays blocked, so that a SIGCHLD
// reaper never takes the exit status that the command's caller waits for.
void hold_child_signal();
void release_child_signal();

class ChildSignalBlock {
 public:
  ChildSignalBlock() { hold_child_signal(); }
  ~ChildSignalBlock() { release_child_signal(); }
  ChildSignalBlock(const ChildSignalBlock&) = delete;
  ChildSignalBlock& operator=(const ChildSignalBlock&) = delete;
};
