// The node's identity in the reports: the MAC address of eth0, as get_mac
// gives it (six upper-case hex pairs joined by ":").
#pragma once

#include <cstddef>

#include "common/text.h"

using MacText = FixedText<18>;
