// The small ways in which the programs' copies of the shared code differ:
// each program's row lives in its own folder and is handed to the library by
// its <program>_main before anything else runs.
#pragma once

struct ConnectVariant;

struct ProgramProfile {
  const char* name;
  unsigned led_blink_pause = 20;          // seconds led_switch waits before the blink off time
  bool led_perror = false;                // perror("fopen") when delay_off cannot be opened
  bool if_status_tries_ioctl = false;     // a failed socket is followed by the ioctl anyway
  bool gateway_log = false;               // set_nameserver logs "Gateway : %s"
  bool read_file_quiet_on_empty = false;  // read_file says nothing about an empty file
  int proc_parse_failure = -1;            // find_pid_by_name result for a stat that does not parse
  bool proc_messages_logged = false;      // process lookup messages go to the debug log
  bool runner_notes_on_stderr = false;    // the command runner's complaints go to standard error
  // How ConnectHost connects to the dashboard (lonely, portsense, the
  // watchdog), and how often the mesh bring-up's bat_ping reads the gateway
  // table.
  const ConnectVariant* host_connect = nullptr;
  int gateway_readings = 0;
};

// The row the program chose. Asking before one was chosen is a bug: the
// program ends at once with a message, so that a test notices.
const ProgramProfile& profile();
void set_profile(const ProgramProfile& p);
// Forgets the choice (test programs, between tests).
void clear_profile();
// What answers in place of the abort (test programs: a failed test).
void set_missing_profile_handler(const ProgramProfile& (*handler)());
