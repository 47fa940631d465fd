// ifcounter's row of variants and its entry.
#pragma once

#include "common/daemon.h"
#include "common/profile.h"
#include "common/transport.h"

extern const ProgramProfile kIfcounterProfile;
extern const DaemonTraits kIfcounterDaemon;
extern const ConnectVariant kIfcounterConnect;

int ifcounter_main(int argc, char** argv);
