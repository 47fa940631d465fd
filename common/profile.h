// The small ways in which the programs' copies of the shared code differ.
// Each program selects its profile first thing in main().
#pragma once

struct ProgramProfile {
  const char* name;
  unsigned led_blink_pause;      // seconds led_switch waits before the blink off time
  bool led_perror;               // perror("fopen") when delay_off cannot be opened
  bool if_status_tries_ioctl;    // a failed socket is followed by the ioctl anyway
  bool gateway_log;              // set_nameserver logs "Gateway : %s"
  bool read_file_quiet_on_empty; // read_file says nothing about an empty file
  int proc_parse_failure;        // find_pid_by_name result for a stat that does not parse
  bool proc_messages_logged;     // process lookup messages go to the debug log
  bool runner_notes_on_stderr;   // the command runner's complaints go to standard error
};

extern const ProgramProfile kControllerProfile;
extern const ProgramProfile kLonelyProfile;
extern const ProgramProfile kPortsenseProfile;
extern const ProgramProfile kClientscoutProfile;
extern const ProgramProfile kIfcounterProfile;
extern const ProgramProfile kWatchdogProfile;
extern const ProgramProfile kVouchercheckProfile;

const ProgramProfile& profile();
void set_profile(const ProgramProfile& p);
