// The station dump's reply handler on raw netlink bytes, in both programs'
// forms: clientscout's client records and the controller's neighbour lists
// stay bounded and terminated whatever the attributes claim.
#include <cstring>

#include "common/station_dump.h"
#include "controller/program.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/nl_bytes.h"
#include "reporters/clientscout_program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  h.remove("/tmp/.clients");
  nl_msg* msg = raw_message(data, size);
  if (!msg) return 0;
  station_handler(msg, const_cast<StationDumpOptions*>(&kClientscoutDump));
  neighbour_macs.clear();
  neighbour_signals.clear();
  station_handler(msg, const_cast<StationDumpOptions*>(&kControllerDump));
  // A second station in the same dump appends behind the first.
  station_handler(msg, const_cast<StationDumpOptions*>(&kControllerDump));
  FUZZ_CHECK(strnlen(neighbour_macs.c_str(), neighbour_macs.capacity()) < neighbour_macs.capacity());
  FUZZ_CHECK(strnlen(neighbour_signals.c_str(), neighbour_signals.capacity()) < neighbour_signals.capacity());
  FUZZ_CHECK(strnlen(chain_signal_text.c_str(), chain_signal_text.capacity()) < chain_signal_text.capacity());
  nlmsg_free(msg);
  return 0;
}
