// The watchdog's row of variants and its entry.
#pragma once

#include "common/daemon.h"
#include "common/profile.h"
#include "common/transport.h"

extern const ProgramProfile kWatchdogProfile;
extern const DaemonTraits kWatchdogDaemon;
extern const ConnectVariant kWatchdogConnect;

int watchdog_main(int argc, char** argv);
