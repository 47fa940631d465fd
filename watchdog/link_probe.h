// Whether the kernel lists a link-level interface of a given name.
#pragma once

// 1 when getifaddrs lists an AF_PACKET entry named ifname, 0 when not, -1
// when the interfaces cannot be listed.
int link_interface_present(const char* ifname);
