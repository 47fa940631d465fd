#include "portsense/program.h"

#include "portsense/portsense.h"

const ConnectVariant kPortsenseConnect = {.talk = ConnectTalk::kSocketOnly, .fallback = true, .check_connect = true};

const ProgramProfile kPortsenseProfile = {
    .name = "portsense",
    .led_perror = true,
    .if_status_tries_ioctl = true,
    .host_connect = &kPortsenseConnect,
    .gateway_readings = 4,
};

int portsense_main(int, char**) {
  set_profile(kPortsenseProfile);
  return run_portsense();
}
