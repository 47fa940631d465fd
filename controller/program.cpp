#include "controller/program.h"

#include <syslog.h>

#include "common/station_dump.h"
#include "controller/checkin.h"
#include "controller/controller_loop.h"
#include "controller/device_identity.h"

const ProgramProfile kControllerProfile = {
    .name = "fleetlink_supervisor",
    .if_status_tries_ioctl = true,
    .gateway_log = true,
    .proc_parse_failure = -2,
};

const DaemonTraits kControllerDaemon = {
    .pid_file = "/tmp/kestrel.pid",
    .already_running = "Controller Already up and Running",
    .child_reaper = true,
    .after_pid_removal = release_controller_records,
    .log_ident = "FLX-DC",
    .log_options = LOG_PID | LOG_CONS | LOG_PERROR,
};

const ConnectVariant kCheckinConnect = {.talk = ConnectTalk::kDashboard, .fallback = true, .check_connect = true};
const ConnectVariant kScriptConnect = {.talk = ConnectTalk::kDownload, .report_connect = true};

const StationDumpOptions kControllerDump = {
    .to_stdout = true,
    .neighbour_lists = true,
    .alloc_done = nullptr,
    .connected = nullptr,
    .family_id = nullptr,
    .alloc_failed = "Failed to allocate netlink socket.",
    .connect_failed = "Failed to connect to generic netlink.",
    .not_found = "nl80211 not found.",
    .handle_destroyed = "OUT handle destroy called",
    .header_set = nullptr,
    .header_failed = nullptr,
    .report_send_failure = false,
    .before_msg_free = "Return from free_msg",
    .before_socket_set_free = "free s_cb",
};

int fleetlink_supervisor_main(int, char**) {
  set_profile(kControllerProfile);
  static WifiKernel kernel(kControllerDump);
  set_kernel(&kernel);
  start_controller_daemon();
  DeviceIdentity identity;
  unsigned period = prepare_controller(identity);
  return run_checkin_loop(send_checkin, identity, period);
}
