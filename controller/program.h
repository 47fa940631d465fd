// The controller's row of variants and its entry.
#pragma once

#include "common/daemon.h"
#include "common/profile.h"
#include "common/station_dump.h"
#include "common/transport.h"

extern const ProgramProfile kControllerProfile;
extern const DaemonTraits kControllerDaemon;
extern const ConnectVariant kCheckinConnect;  // the check-in
extern const ConnectVariant kScriptConnect;   // the custom script download
extern const StationDumpOptions kControllerDump;

// Starts as a daemon, loads its records and identity, then checks in once
// per period until a firmware upgrade has started.
int fleetlink_supervisor_main(int argc, char** argv);
