// portsense's row of variants and its entry.
#pragma once

#include "common/profile.h"
#include "common/transport.h"

extern const ProgramProfile kPortsenseProfile;
extern const ConnectVariant kPortsenseConnect;

// Run without arguments when the wired uplink changes.
int portsense_main(int argc, char** argv);
