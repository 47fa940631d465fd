#include "mesh/gateway_table.h"

#include <cstdio>
#include <cstring>

#include "common/host.h"
#include "common/output.h"

const char kGatewayTable[] = "/sys/kernel/debug/batman_adv/bat0/gateways";

namespace {

// The table's fields are much shorter than this; longer ones are cut.
constexpr int kFieldSize = 32;

bool is_gateway_address(const char* field) {
  int colons = 0;
  for (const char* p = field; *p; ++p) {
    if (*p == ':') ++colons;
  }
  return colons == 5;
}

// Skips the rest of a line longer than the line buffer, so that its tail is
// never taken for a gateway line of its own.
void skip_rest_of_line(FILE* f) {
  int c;
  while ((c = fgetc(f)) != EOF && c != '\n') {
  }
}

// Applies the line rules to one line; returns on_gateway's result, or 0.
int read_line(const char* line, const GatewayTableReader& reader) {
  char first[kFieldSize];
  char second[kFieldSize];
  memset(first, 0, sizeof(first));
  memset(second, 0, sizeof(second));
  // A selection mark such as "=>" comes first; a line that starts with a
  // blank has the address first.
  if (sscanf(line, "%31[^ ] %31s", first, second) != 2) {
    memset(first, 0, sizeof(first));
    memset(second, 0, sizeof(second));
    sscanf(line, "%31s %31s", first, second);
  }
  const char* candidate = nullptr;
  if (strlen(first) > 16) {
    candidate = first;
    if (reader.announce_field) out_line("First");
  } else if (strlen(second) > 16) {
    candidate = second;
    if (reader.announce_field) out_line("Second");
  } else {
    // "No gateways in range ..." when the mesh knows none.
    if (strcmp(first, "No") == 0) out_line("Couldn't found valid gateway");
    if (strcmp(second, "No") == 0) out_line("Couldn't found valid gateway");
    return 0;
  }
  if (!is_gateway_address(candidate)) return 0;
  out_line("Found valid Gateway");
  return reader.on_gateway ? reader.on_gateway(candidate, reader.arg) : 0;
}

int count_one(const char* address, void* arg) {
  (void)address;
  (void)arg;
  return 1;
}

}  // namespace

int read_gateway_table(const GatewayTableReader& reader) {
  FILE* f = host_fopen(kGatewayTable, "r");
  if (!f) return -1;
  char line[256];
  int total = 0;
  bool header = true;
  while (fgets(line, sizeof(line), f)) {
    bool whole = strchr(line, '\n') != nullptr;
    if (header) {
      header = false;
    } else {
      total += read_line(line, reader);
    }
    if (!whole) skip_rest_of_line(f);
  }
  fclose(f);
  return total;
}

int count_gateways() {
  GatewayTableReader reader = {true, count_one, nullptr};
  int found = read_gateway_table(reader);
  return found < 0 ? 0 : found;
}
