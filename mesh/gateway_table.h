// The batman-adv gateway table: which gateways the mesh announces. The
// kernel prints one gateway a line after a header; the address is a MAC text
// in the first or second field, depending on the selection mark before it.
#pragma once

extern const char kGatewayTable[];

// How a reading treats the gateway lines it finds.
struct GatewayTableReader {
  // Prints "First" or "Second" for the field that held the candidate.
  bool announce_field;
  // Called for every line with a valid gateway address; the reading adds up
  // its results (1 for a gateway that counts, 0 for one that does not).
  int (*on_gateway)(const char* address, void* arg);
  void* arg;
};

// One reading of the table: the sum of on_gateway over its gateway lines, or
// -1 when the table cannot be opened (batman-adv not loaded, or its debug
// file system not mounted).
int read_gateway_table(const GatewayTableReader& reader);

// The number of gateway lines in one reading (0 without a table).
int count_gateways();
