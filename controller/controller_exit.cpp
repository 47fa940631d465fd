#include "controller/controller_exit.h"

#include <syslog.h>

#include <cstdlib>

#include "common/daemon.h"
#include "common/output.h"

void end_controller(int status) {
  release_resources();
  log_printf(LOG_INFO, "Exiting...");
  exit(status);
}
