#include "common/profile.h"

// vouchercheck's standard output is the answer its caller reads, so the
// runner's complaints must not land there.
//                                        name                  blink perror ioctl  gwlog  quiet  parse logged stderr
const ProgramProfile kControllerProfile = {"fleetlink_supervisor", 20, false, true,  true,  false, -2, false, false};
const ProgramProfile kLonelyProfile = {"lonely", 10, true, false, false, false, -1, false, false};
const ProgramProfile kPortsenseProfile = {"portsense", 20, true, true, false, false, -1, false, false};
const ProgramProfile kClientscoutProfile = {"clientscout", 20, false, false, false, false, -1, false, false};
const ProgramProfile kIfcounterProfile = {"ifcounter", 20, false, true, false, false, -1, false, false};
const ProgramProfile kWatchdogProfile = {"watchdog", 20, false, false, false, true, -2, true, false};
const ProgramProfile kVouchercheckProfile = {"vouchercheck", 20, false, false, false, false, -1, false, true};

namespace {
const ProgramProfile* g_profile = &kControllerProfile;
}

const ProgramProfile& profile() { return *g_profile; }
void set_profile(const ProgramProfile& p) { g_profile = &p; }
