// The platform commands that the tests' shells stand in for the node's,
// written once for the sandboxed shell, the stand-in node and the daemons'
// node alike.
#pragma once

#include <map>
#include <string>

// uci get, set and commit over a folder of one file per key, answering as
// the real uci does (tests/openwrt/uci_agreement.py holds them together).
// A section is the file <package>.<section> (named, or @type[index] as the
// test writes it) holding its type; an option is <package>.<section>.<option>
// holding its value and a line end. A package is there while any of its
// keys is. "uci set" of an option needs its section ("uci: Invalid
// argument", status 1, nothing stored); an empty value removes the option;
// a missing key or package is "uci: Entry not found", status 1; "uci commit"
// stores nothing more.
std::string uci_stand_in_body(const std::string& store);

// The sections of a configured node (as the virtual mesh's configuration has
// them), each with its type: the store's files the tests' nodes start from,
// under their own keys.
const std::map<std::string, std::string>& uci_node_sections();
