#include "controller/custom_script.h"

// Placeholder until the custom script applier lands.
void apply_custom_script_setting(const char*, const char*, NodeConfig&) {}
