#include "controller/management_settings.h"

// Placeholder until the management applier lands.
void apply_management_setting(const char*, const char*, NodeConfig&) {}
void apply_general_setting(const char*, const char*, NodeConfig&) {}
