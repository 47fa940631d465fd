// Whole-program tests give the programs a /tmp of their own (a fresh tmpfs
// in the test's mount namespace). The build and source trees may themselves
// lie under /tmp (a clone made there): they stay visible at their paths.
#pragma once

// Mounts the fresh /tmp; false when it cannot. Needs its own mount namespace.
bool mount_private_tmp();
