#include "controller/reboot_settings.h"

// Placeholder until the reboot applier lands.
void apply_reboot_setting(const char*, const char*, NodeConfig&) {}
void apply_reboot_schedule_setting(const char*, const char*, NodeConfig&) {}
void write_reboot_schedule(int, const char*, int) {}
