// The node's identity in the reports: the MAC address of eth0, as get_mac
// gives it (six upper-case hex pairs joined by ":").
#pragma once

#include <cstddef>

#include "common/text.h"

using MacText = FixedText<18>;

// Reads an interface's MAC address: 0, or an error result (get_mac's form).
using MacReader = int (*)(const char* ifname, char* out, size_t cap);
