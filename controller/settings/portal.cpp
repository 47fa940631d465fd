#include "controller/settings/portal.h"

#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "controller/config_parser.h"
#include "controller/settings/portal_kinds.h"

namespace {

const PortalKind kPortalKinds[] = {
    {"chilli", "/etc/chilli/defaults", kChilliSettingsFile, '=', "/etc/init.d/chilli start", "/etc/init.d/chilli stop"},
    {"nodogsplash", "/etc/nodogsplash/nodogsplash.conf", kSplashSettingsFile, ' ', "/etc/init.d/nodogsplash start",
     "/etc/init.d/nodogsplash stop"},
};
constexpr int kKindCount = sizeof(kPortalKinds) / sizeof(kPortalKinds[0]);

// A daemon gets this long to let go of the public bridge before the next
// command.
constexpr unsigned kSettleSeconds = 10;

enum class Op { kEnd, kPrint, kMerge, kStart, kStop, kSettle, kRun };

struct Step {
  Op op;
  const char* text = nullptr;  // printed (kPrint) or run (kRun)
};

struct PortalRow {
  int kind;
  int action;
  Step steps[7];
};

// Stopping chilli takes br-pub's address with it; the shell puts the public
// address back from uci.
const char kReaddressPublicBridge[] = "ifconfig br-pub `uci get dhcp.pub.ipaddr` netmask 255.255.252.0 up";

// clang-format off
const PortalRow kRows[] = {
    {0, 0, {{Op::kPrint, "Setting up the Chilli configuration"}, {Op::kPrint, "Start chilli"}, {Op::kMerge},
            {Op::kStart}}},
    {0, 1, {{Op::kPrint, "Stop Chilli"}, {Op::kStop}, {Op::kSettle}, {Op::kRun, kReaddressPublicBridge}}},
    {0, 2, {{Op::kPrint, "Setting up the Chilli New configuration"}, {Op::kMerge}, {Op::kPrint, "Restart Chilli"},
            {Op::kStop}, {Op::kSettle}, {Op::kStart}}},
    {1, 0, {{Op::kPrint, "Setting up the Nodogsplash configuraiton"}, {Op::kMerge},
            {Op::kPrint, "Start Nodogsplash"}, {Op::kStart}}},
    {1, 1, {{Op::kPrint, "Stop Nodogsplash"}, {Op::kStop}}},
    {1, 2, {{Op::kPrint, "Setting up the Nodogsplash new configuration"}, {Op::kMerge},
            {Op::kPrint, "Restart Nodogsplash"}, {Op::kStop}, {Op::kSettle}, {Op::kStart}}},
};
// clang-format on

}  // namespace

const PortalKind* portal_kind_info(int kind) { return kind >= 0 && kind < kKindCount ? &kPortalKinds[kind] : nullptr; }

int portal_kind(const char* name) {
  for (int kind = 0; name && kind < kKindCount; ++kind) {
    if (strcmp(name, kPortalKinds[kind].name) == 0) return kind;
  }
  return 2;
}

int control_portal(int kind, int action) {
  const PortalKind* portal = portal_kind_info(kind);
  if (!portal) return 1;
  for (const PortalRow& row : kRows) {
    if (row.kind != kind || row.action != action) continue;
    int status = 0;
    for (const Step& step : row.steps) {
      switch (step.op) {
        case Op::kEnd:
          return status;
        case Op::kPrint:
          out_line(step.text);
          break;
        // The daemon starts with whatever configuration file there is.
        case Op::kMerge:
          merge_portal_config(portal->config_file, portal->new_settings, kind);
          break;
        case Op::kStart:
          status = host().run(portal->start);
          break;
        case Op::kStop:
          status = host().run(portal->stop);
          break;
        case Op::kSettle:
          host().sleep(kSettleSeconds);
          break;
        case Op::kRun:
          status = host().run(step.text);
          break;
      }
    }
    return status;
  }
  return 2;
}
