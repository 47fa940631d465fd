// Uptime, free memory and load from /proc.
#pragma once

#include "common/load_average.h"

// Sets `boot` from /proc/uptime (1 at 360 s or more); 0, or 1 when unreadable.
int check_uptime();
// MemFree in kB from /proc/meminfo into *kb; false (kb untouched) when the
// file or the line is missing.
bool read_meminfo(unsigned* kb);
// The one-minute load from /proc/loadavg into *load; false when unreadable.
bool read_loadavg(LoadAverage* load);
