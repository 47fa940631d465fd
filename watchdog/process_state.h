// What the watchdog sees of a process: its state, by the name the kernel
// keeps for it (at most 15 characters).
#pragma once

enum ProcessState {
  kSleeping = 0,  // state S
  kRunning = 1,   // state R
  kZombie = 2,    // state Z
  kOther = 3,     // any other state, or a stat file that does not parse
  kAbsent = 4,    // no process of that name (or /proc unreadable)
};

int process_state(const char* name);

// True when a process of that name shows in /proc, in any state. A lookup
// that cannot tell (a stat file that does not parse) counts as none, so
// that the watchdog's waits never hang on it.
bool process_exists(const char* name);
