// The stations associated with a wireless interface, from an nl80211 station
// dump. clientscout appends one client record per station to /tmp/.clients
// through a socket made once at start-up; the controller collects its mesh
// neighbours' MACs and signals into two lists through a socket of each dump.
#pragma once

#include "common/kernel.h"
#include "common/linux_kernel.h"
#include "common/text.h"

struct nl_sock;
struct nl_msg;
struct nlmsgerr;
struct sockaddr_nl;

struct station_nl_state {
  nl_sock* sock = nullptr;
  int id = -1;  // the resolved nl80211 family
};

// clientscout's socket, made by station_nl_init and kept for the whole run.
extern station_nl_state station_state;

// The controller's neighbour lists: upper-case MACs joined by ";" and their
// signal averages joined by ";" (a station without an average adds a MAC
// only). Zeroed at the start of each dump; a full list stops growing at a
// whole entry.
extern NeighbourList neighbour_macs;
extern NeighbourList neighbour_signals;
// The per-chain text of the last station that carried one.
extern FixedText<64> chain_signal_text;

// How the two programs' dumps differ. A nullptr text is not said at all.
struct StationDumpOptions {
  bool to_stdout;        // messages go to standard output instead of the log
  bool neighbour_lists;  // replies fill the neighbour lists, not /tmp/.clients
  // Socket set-up.
  const char* alloc_done;
  const char* connected;
  const char* family_id;  // with the id
  const char* alloc_failed;
  const char* connect_failed;
  const char* not_found;
  const char* handle_destroyed;  // before a failed set-up releases the socket
  // The dump.
  const char* header_set;
  const char* header_failed;
  bool report_send_failure;
  const char* before_msg_free;
  const char* before_socket_set_free;
};

// Makes station_state or ends the program with status 1.
void station_nl_init(const StationDumpOptions& opts);
// Dumps the stations of ifname into /tmp/.clients. 2 when the request
// cannot be allocated, else 0 whatever the dump's outcome.
int station_dump(const char* ifname, const StationDumpOptions& opts);
// Dumps the stations of ifname into the neighbour lists through a socket of
// its own. 0; 1 when the socket set-up fails; 2 when the request cannot be
// allocated or built; else the final dump status (a negative library error,
// or 2 when the callback sets cannot be allocated).
int neighbour_dump(const char* ifname, const StationDumpOptions& opts);

// The shared steps, for the two front ends and for tests.
// Socket, buffers, generic netlink, the nl80211 id: 0, or 1 after the
// failure's messages (the socket released).
int station_socket_setup(station_nl_state& state, const StationDumpOptions& opts);

enum class DumpEnd { kNoMessage, kBuildFailed, kDone };
struct DumpOutcome {
  DumpEnd end;
  int status;  // the final dump status (kDone)
};
// One station dump of ifname on state's socket.
DumpOutcome dump_stations(station_nl_state& state, const char* ifname, const StationDumpOptions& opts);

// The handlers of the dump's receive set. arg: the dump status (an int) for
// the first three, the StationDumpOptions for station_handler.
int dump_error_handler(sockaddr_nl* from, nlmsgerr* err, void* arg);
int dump_ack_handler(nl_msg* msg, void* arg);
int dump_finish_handler(nl_msg* msg, void* arg);
int station_handler(nl_msg* msg, void* arg);

// The node's kernel with its radios' station dumps over nl80211, in the way
// of the program that reports them (the controller, clientscout).
class WifiKernel : public LinuxKernel {
 public:
  explicit WifiKernel(const StationDumpOptions& dump) : dump_(dump) {}
  void station_init() override;
  int station_dump(const char* ifname) override;
  int neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) override;

 private:
  const StationDumpOptions& dump_;
};
