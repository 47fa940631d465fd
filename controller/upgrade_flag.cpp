#include "controller/upgrade_flag.h"

int upgrade_pending = 0;
