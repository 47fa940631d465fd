// The WIRELESS section: radio channel and country, the public and private
// networks' state, SSIDs and keys, and the private network's switch between
// WPA-PSK and WPA Enterprise. Changes go to uci uncommitted and are counted;
// the after-apply step commits "wireless" and restarts Wi-Fi once.
#pragma once

struct NodeConfig;

void apply_wireless_setting(const char* key, const char* value, NodeConfig& config);

// Mode 1 "psk-mixed", mode 2 "mixed-wpa", each committed at once; any other
// mode does nothing.
void set_priv_encryption(int mode);
// 2 when wireless.priv.encryption is "mixed-wpa", else 1.
int priv_encryption_mode();
// 0 when wireless.pub.encryption is "none", else 1 (also when unreadable).
int pub_encryption_on();
