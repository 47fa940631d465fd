#include "controller/change_counts.h"

int change_counts[kSectionRowCount] = {};

void reset_change_counts() {
  for (int& count : change_counts) count = 0;
}
