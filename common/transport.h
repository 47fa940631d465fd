// Connecting to the dashboard: one TCP connection per exchange. Each
// program's copy of the connection step differs only in whether a name that
// does not resolve falls back to an address, in what it says, and in whether
// it checks the connect; those differences are the variants below.
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
  bool fallback;        // a name that does not resolve falls back to the given address
  bool check_connect;   // false: the socket comes back even when its connect failed
  bool report_connect;  // reports the connect's outcome as perror("Connect") does
};

extern const ConnectVariant kLonelyConnect;        // ConnectHost
extern const ConnectVariant kPortsenseConnect;
extern const ConnectVariant kWatchdogConnect;
extern const ConnectVariant kCheckinConnect;       // connect_dashboard
extern const ConnectVariant kIfcounterConnect;
extern const ConnectVariant kScriptConnect;        // the custom script download
extern const ConnectVariant kClientscoutConnect;
extern const ConnectVariant kVouchercheckConnect;

// Resolves `host` (first IPv4 address), falling back to `fallback_ip` where
// the variant allows, and connects a TCP socket to it on `port` (0: the
// dashboard's port). The socket is non-blocking: read it with recv_piece and
// write it with send_request. Returns the socket, or -1.
int connect_to(const ConnectVariant& variant, const char* host, const char* fallback_ip,
               unsigned short port = 0);

// lonely's connection step.
int ConnectHost(const char* host, const char* fallback_ip);
// The controller's check-in connection.
int connect_dashboard(const char* host, const char* fallback_ip);
