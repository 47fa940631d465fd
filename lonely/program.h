// lonely's row of variants and its entry.
#pragma once

#include "common/profile.h"
#include "common/transport.h"

extern const ProgramProfile kLonelyProfile;
extern const ConnectVariant kLonelyConnect;

// Run without arguments, in the background, by portsense and the watchdog
// when the node has neither uplink nor mesh link.
int lonely_main(int argc, char** argv);
