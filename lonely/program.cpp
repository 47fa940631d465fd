#include "lonely/program.h"

#include "common/kernel.h"
#include "lonely/lonely.h"
#include "lonely/scan_backend.h"

const ConnectVariant kLonelyConnect = {.talk = ConnectTalk::kHost, .fallback = true, .check_connect = true};

const ProgramProfile kLonelyProfile = {
    .name = "lonely",
    .led_blink_pause = 10,
    .led_perror = true,
    .host_connect = &kLonelyConnect,
    .gateway_readings = 3,
};

int lonely_main(int, char**) {
  set_profile(kLonelyProfile);
  set_kernel(&scan_kernel());
  return run_lonely();
}
