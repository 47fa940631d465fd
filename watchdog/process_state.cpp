#include "watchdog/process_state.h"

#include "common/output.h"
#include "common/process.h"

int process_state(const char* name) {
  char state = 0;
  long pid = find_pid_by_name(name, &state);
  if (pid == -1) return kAbsent;
  if (pid < 0) return kOther;
  switch (state) {
    case 'S':
      out_line(" OK");
      return kSleeping;
    case 'R':
      out_line(" OK");
      return kRunning;
    case 'Z':
      return kZombie;
    default:
      return kOther;
  }
}

bool process_exists(const char* name) { return find_pid_by_name(name) > 0; }
