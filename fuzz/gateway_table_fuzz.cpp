// The batman-adv gateway table: any text counts at most one gateway per
// line after the header, and reading it never runs past a line.
#include <algorithm>
#include <string>

#include "fuzz/fuzz_support.h"
#include "mesh/gateway_table.h"

namespace {

int count_address(const char* address, void* arg) {
  FUZZ_CHECK(strlen(address) < 32);
  ++*static_cast<int*>(arg);
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  std::string table(reinterpret_cast<const char*>(data), size);
  h.write(kGatewayTable, table);
  int seen = 0;
  GatewayTableReader reader = {true, count_address, &seen};
  int total = read_gateway_table(reader);
  FUZZ_CHECK(total == seen);
  int lines = static_cast<int>(std::count(table.begin(), table.end(), '\n')) + 1;
  FUZZ_CHECK(total >= 0 && total < lines);
  FUZZ_CHECK(count_gateways() == total);
  return 0;
}
