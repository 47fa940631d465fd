// Changes made by the appliers during one parse, one count per section row
// of the keyword table. The parser zeroes them before each parse; the
// after-apply step reads them to commit and restart only what changed.
#pragma once

#include "controller/keywords.h"

extern int change_counts[kSectionRowCount];

void reset_change_counts();
