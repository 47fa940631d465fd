// Who the node is, as the check-in reports it: hardware model, eth0 MAC and
// running firmware version, read once at start-up.
#pragma once

#include <cstddef>

#include "common/text.h"

struct DeviceIdentity {
  FixedText<20> hw;
  FixedText<18> mac;
  FixedText<30> firmware;
};

// Fills the identity; a field that cannot be read stays empty. Returns 0.
int load_device_identity(DeviceIdentity& identity);

// The first line of "/etc/fw_a_version" without its line end, into out
// (capacity 30): 0, or 1 when the file is missing, empty or its line does
// not end within 29 characters (out untouched then).
int read_firmware_version(char* out, size_t cap);
template <size_t N>
int read_firmware_version(FixedText<N>& out) {
  return read_firmware_version(out.data(), N);
}
