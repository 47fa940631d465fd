// One check-in: the node reports its state to the dashboard, stores and
// applies the configuration that comes back, then lets its mesh role follow
// the wired uplink.
#pragma once

struct DashboardConfig;
struct DeviceIdentity;

// Connects to the dashboard of the configuration (its host, else its
// fallback address), saying each step on standard output. A connected
// socket, or -1.
int connect_dashboard(const DashboardConfig& config);

// Where the decoded configuration of the last accepted reply is kept.
extern const char kReceivedFile[];  // "/tmp/.received"

// 0 when a reply was read to its end; 1 when the dashboard could not be
// connected; 2 when its reply could not be read (time-out or error). Only
// 0 goes on past the reply.
int send_checkin(const DeviceIdentity& identity);
