// Interfaces around a scan: the shared ioctl socket, the temporary scan
// interface beside the node's own, the interface of a radio, and the radio
// daemon that must re-read its interface after it went down.
#pragma once

// The shared IPv4 datagram socket, opened on first use (close-on-exec).
int iwinfo_ioctl(unsigned long request, void* arg);
// Closes it; the next iwinfo_ioctl opens a new one.
void iwinfo_close();
// The shared socket, -1 while closed.
int iwinfo_socket();

// Sets or clears IFF_UP and IFF_RUNNING: 1 on success, 0 on failure.
int iwinfo_ifup(const char* ifname);
int iwinfo_ifdown(const char* ifname);
// Gives the interface its own MAC (second and third bytes plus one), so the
// temporary interface does not share the address of the one it sits beside.
// 1 on success, 0 on failure.
int iwinfo_ifmac(const char* ifname);
// The address rule of iwinfo_ifmac: bytes 1 and 2 plus one, modulo 256.
void next_scan_mac(unsigned char mac[6]);

// Asks for the station interface "tmp.<ifname>" (at most 15 characters) on
// the radio of ifname; its name once the request was sent, else nullptr.
const char* scan_iface_create(const char* ifname);
void scan_iface_delete(const char* name);

// The interface of radio "radioN" with the lowest index, from
// /sys/class/net/*/phy80211/index; nullptr when it has none.
const char* radio_to_ifname(const char* radio);
// The number at the start of a small file (at most 16 characters); -1 when
// the file is missing or holds no number.
int read_int_file(const char* path);

// SIGHUP to the daemon of the interface's radio (/var/run/wifi-<phy>.pid).
void hup_radio_daemon(const char* ifname);
void hup_phy_daemon(const char* phy);
