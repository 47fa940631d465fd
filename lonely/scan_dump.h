// One reply of an nl80211 scan dump turned into the next scan record.
#pragma once

struct nl_msg;

// A valid-message handler: arg is the ScanCursor of the caller's buffer.
// A reply without a BSS, without a six-byte BSSID, or whose attributes do
// not parse is skipped; so is every reply once the buffer is full.
int scan_dump_entry(nl_msg* msg, void* arg);
