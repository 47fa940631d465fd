// Cell details from the numbers and the IEEE 802.11 information elements of
// a scan: channel, quality, network name and security.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lonely/scan_entry.h"

// The channel of a frequency in MHz (2.4 and 5 GHz bands), in 8 bits.
uint8_t freq_to_channel(int freq);

// Quality 0 to 70 of a signal in dBm: clamped to -110 .. -40, plus 110.
uint8_t signal_quality(int signal);

// Fills crypto from the body of an RSN element or of the WPA vendor element
// after its type byte: version, group suite, then the pairwise and key
// management suite lists, each a little-endian count and 4-byte suites.
void iwinfo_parse_rsn(scan_crypto* crypto, const uint8_t* data, size_t len, uint8_t default_cipher,
                      uint8_t default_suite);

// Walks the information elements: the network name, RSN and WPA. An element
// whose length runs past the end ends the walk.
void parse_scan_ies(const uint8_t* ie, size_t len, scan_entry* entry);
