// clientscout's row of variants and its entry.
#pragma once

#include "common/daemon.h"
#include "common/profile.h"
#include "common/station_dump.h"
#include "common/transport.h"

extern const ProgramProfile kClientscoutProfile;
extern const DaemonTraits kClientscoutDaemon;
extern const ConnectVariant kClientscoutConnect;
extern const StationDumpOptions kClientscoutDump;

int clientscout_main(int argc, char** argv);
