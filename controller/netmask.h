// Netmask arithmetic for the node's own addresses: prefix lengths and
// network addresses from an address and a netmask, which may be dotted or a
// bit count.
#pragma once

#include <cstddef>

// The prefix length; 1 on every error, with its message.
int prefix_length(const char* address, const char* netmask);
// Writes the network address in dotted form into out (capacity cap, at
// least 17). Returns 0, or 1 on an error (out untouched then). A network of
// 0.0.0.0 leaves out as it was.
int network_address(const char* address, const char* netmask, char* out, size_t cap);
