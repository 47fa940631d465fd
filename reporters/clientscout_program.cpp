#include "reporters/clientscout_program.h"

#include <syslog.h>

#include "common/station_dump.h"
#include "reporters/clientscout.h"

const ProgramProfile kClientscoutProfile = {.name = "clientscout"};

// "\xF0\x9D\x9E\xAA" is U+1D7AA, the character between the dashes.
const DaemonTraits kClientscoutDaemon = {
    .pid_file = "/tmp/clientscout.pid",
    .already_running = "Controller Already up and Running",
    .after_pid_removal = remove_client_list,
    .log_ident = "WLClient-\xF0\x9D\x9E\xAA-0.1",
    .log_options = LOG_PID | LOG_CONS | LOG_PERROR,
};

const ConnectVariant kClientscoutConnect = {.talk = ConnectTalk::kDownload};

const StationDumpOptions kClientscoutDump = {
    .to_stdout = false,
    .neighbour_lists = false,
    .alloc_done = "netlink socket alloc done",
    .connected = "Connected to generic netlink",
    .family_id = "Netlink 80211 id: %d\n",
    .alloc_failed = "Failed to allocate netlink socket",
    .connect_failed = "Failed to connect to generic netlink",
    .not_found = "nl80211 not found",
    .handle_destroyed = nullptr,
    .header_set = "generic netlink msg header set",
    .header_failed = "Failed to put the generic netlink header",
    .report_send_failure = true,
    .before_msg_free = nullptr,
    .before_socket_set_free = nullptr,
};

int clientscout_main(int, char**) {
  set_profile(kClientscoutProfile);
  static WifiKernel kernel(kClientscoutDump);
  set_kernel(&kernel);
  return run_clientscout();
}
