// The platform commands that the tests' shells stand in for the node's,
// written once for the sandboxed shell, the stand-in node and the daemons'
// node alike.
#pragma once

#include <string>

// uci over a folder of one file per key: "uci get <key>" prints the file
// named after the key (missing: "uci: Entry not found" on standard error
// and status 1), "uci set <key>=<value>" writes it, "uci commit" succeeds.
std::string uci_stand_in_body(const std::string& store);
