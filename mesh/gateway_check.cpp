#include "mesh/gateway_check.h"

#include "common/endpoints.h"
#include "common/host.h"
#include "common/process_http.h"
#include "common/profile.h"
#include "common/shell_quote.h"
#include "common/text.h"
#include "common/transport.h"
#include "mesh/gateway_table.h"

namespace {

// Four batman echo requests; a gateway that answers counts once.
int ping_gateway(const char* address, void* arg) {
  (void)arg;
  FixedText<256> command;
  command.format("/usr/sbin/batctl ping -c 4 %s >> /dev/null", ShellValue(address).c_str());
  return host().run(command) == 0 ? 1 : 0;
}

}  // namespace

int bat_ping(int readings) {
  GatewayTableReader reader = {false, ping_gateway, nullptr};
  for (int reading = 1;; ++reading) {
    // Without a table (-1) the reading counts no gateway; the next one may
    // find the table once batman-adv is up.
    int answered = read_gateway_table(reader);
    if (answered < 0) answered = 0;
    if (answered > 0 || reading >= readings) return answered;
    host().sleep(30);
  }
}

int check_internet() {
  int sock = ConnectHost(kBuiltInDashboard.host, kBuiltInDashboard.fallback_ip);
  if (sock < 0) return 1;
  return process_http(sock, kBuiltInDashboard.host, kServerPingPath, kReplyCheck) == 0 ? 0 : 1;
}
