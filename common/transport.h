// Connecting to the dashboard: one TCP connection per exchange. Each
// program's copy of the connection step differs only in whether a name that
// does not resolve falls back to an address, in what it says, and in whether
// it checks the connect: its variant, which lives in the program's folder.
#pragma once

// What a connection step says while it works.
enum class ConnectTalk {
  kHost,        // "Resolving Host: %s" and the failures, on standard output
  kSocketOnly,  // only the socket and connect failures
  kHostLogged,  // the texts of kHost in the debug log, without line ends
  kDashboard,   // "Resolving Dashboard: %s", the resolver's text, "Socket Desc: %d"
  kDownload,    // resolver failure on standard error; "hostname:" and "address:"
  kSilent,
};

struct ConnectVariant {
  ConnectTalk talk;
  bool fallback = false;        // a name that does not resolve falls back to the given address
  bool check_connect = false;   // false: the socket comes back even when its connect failed
  bool report_connect = false;  // reports the connect's outcome as perror("Connect") does
};

// How the programs reach the dashboard: its port, how long a reader waits
// for the next piece of a reply, and how long a whole reply may take. Tests
// point them at a scripted server and shorten the waits.
struct DashboardLink {
  unsigned short port = 80;
  int reply_timeout = 30;  // seconds, each wait for the next piece
  // Seconds for the whole of a reply, however it is paced: shorter than the
  // shortest period of a program that talks to the dashboard (the check-in's
  // and the reporters' minute), and time enough for the largest reply (the
  // 1 MiB custom script at 20 KiB/s).
  int exchange_limit = 50;
};
DashboardLink& dashboard_link();

// Resolves `host` (first IPv4 address), falling back to `fallback_ip` where
// the variant allows, and connects a TCP socket to it on `port` (0: the
// dashboard's port). The socket is non-blocking: read it with recv_piece and
// write it with send_request. Returns the socket, or -1.
int connect_to(const ConnectVariant& variant, const char* host, const char* fallback_ip, unsigned short port = 0);

// The dashboard connection of lonely, portsense and the watchdog: connect_to
// with the program's own variant (its profile's host_connect).
int ConnectHost(const char* host, const char* fallback_ip);
